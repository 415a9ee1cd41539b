// The README's tables of configuration keys, one per model, against the
// model description: a key, meaning, range or choice that changes in the
// map and not in the README (or the other way round) fails here. On a
// failure the test prints the tables as they should read.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "config/ConfigFile.h"

namespace {

using namespace kelm;

std::string Values(const models::Item& item) {
    std::string out;
    if (!item.choices.empty()) {
        for (const auto& c : item.choices) {
            // Bits of a word take every choice; a register only those in its range.
            if (item.encoding != models::Encoding::WordBits && !item.InRange(c.code)) continue;
            if (!out.empty()) out += ", ";
            out += "`\"" + std::string(c.ascii) + "\"`";
        }
        return out;
    }
    out = std::to_string(item.min) + "-" + std::to_string(item.max);
    if (!item.unit.empty()) out += " (" + std::string(item.unit) + ")";
    return out;
}

std::string Tables() {
    std::string out;
    for (const auto& model : models::AllModels()) {
        out += "**" + std::string(model.name) + "**\n\n";
        out += "| key | meaning | range / choices |\n|---|---|---|\n";
        for (const models::Item* item : config::ConfigItems(model)) {
            std::string key = "`" + std::string(item->key) + "`";
            if (item->channels > 1)
                key += " (`" + models::ChannelName(*item, 0) + "`-`" +
                       models::ChannelName(*item, item->channels - 1) + "`)";
            out += "| " + key + " | " + std::string(item->en) + " | " + Values(*item) + " |\n";
        }
        out += "\n";
    }
    return out;
}

TEST(Readme, EveryModelHasItsTableOfConfigurationKeys) {
    std::ifstream in(KELM_README);
    ASSERT_TRUE(in) << KELM_README;
    std::ostringstream text;
    text << in.rdbuf();
    const std::string want = Tables();
    EXPECT_NE(text.str().find(want), std::string::npos)
        << "README.md should hold these tables, as they are:\n\n"
        << want;
}

}  // namespace
