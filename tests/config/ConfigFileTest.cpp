// The configuration file format, its refusals, the difference between two
// configurations and the restore plan's requests, byte for byte.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "config/ConfigFile.h"
#include "config/Provision.h"
#include "modbus/CommFormats.h"

namespace kelm::config {
namespace {

using models::FindModel;
using models::Item;

// A configuration of every item with values away from the simulator's
// defaults: the last valid choice or the top of the range, varied by channel.
ModuleConfig Sample(const models::Model& m) {
    ModuleConfig c;
    c.model = &m;
    c.identity = {m.typeCode, 0xA1, 0xB3, 7, 11, kProtocolLetterAscii, "2026-12-09T19:40:00Z"};
    for (const Item* item : ConfigItems(m)) {
        Setting s{item, {}};
        for (int ch = 0; ch < item->channels; ++ch) {
            std::uint32_t v;
            if (item->encoding == models::Encoding::WordBits) {
                v = static_cast<std::uint32_t>(ch % 2);
            } else if (!item->choices.empty()) {
                v = item->choices[static_cast<std::size_t>(ch) % item->choices.size()].code;
                if (!item->InRange(v)) v = item->min;
            } else {
                v = item->max - static_cast<std::uint32_t>(ch);
            }
            s.values.push_back(v);
        }
        c.settings.push_back(std::move(s));
    }
    return c;
}

TEST(ConfigFile, EveryModelRoundTripsThroughItsText) {
    for (const auto& m : models::AllModels()) {
        SCOPED_TRACE(std::string(m.name));
        const auto c = Sample(m);
        const std::string text = ToJson(c);
        std::string error;
        const auto back = ParseConfig(text, &error);
        ASSERT_TRUE(back) << error << "\n" << text;
        EXPECT_EQ(back->model, &m);
        ASSERT_EQ(back->settings.size(), c.settings.size());
        for (std::size_t i = 0; i < c.settings.size(); ++i) {
            EXPECT_EQ(back->settings[i].item, c.settings[i].item);
            EXPECT_EQ(back->settings[i].values, c.settings[i].values);
        }
        EXPECT_EQ(back->identity.hardware, 0xA1);
        EXPECT_EQ(back->identity.protocolLetter, kProtocolLetterAscii);
        EXPECT_EQ(back->identity.time, c.identity.time);
        EXPECT_TRUE(Diff(c, *back).empty());
        EXPECT_EQ(ToJson(*back), text);
    }
}

TEST(ConfigFile, TheTextSpellsChoicesAndChannels) {
    const auto j = nlohmann::json::parse(ToJson(Sample(*FindModel("KELM-8I8T"))));
    EXPECT_EQ(j["format"], "kelm-module-config");
    EXPECT_EQ(j["version"], 1);
    EXPECT_EQ(j["model"], "KELM-8I8T");
    EXPECT_EQ(j["identity"]["hw_version"], "A1");
    EXPECT_EQ(j["identity"]["baud"], 9600);
    EXPECT_EQ(j["identity"]["parity"], "even");
    EXPECT_EQ(j["identity"]["protocol"], "ascii");
    EXPECT_EQ(j["settings"]["do_init"]["DO1"], "on");
    EXPECT_EQ(j["settings"]["do_mode"]["DO1"], "pulse");
    EXPECT_EQ(j["settings"]["pulse_on"]["DO0"], 65535);
    EXPECT_EQ(j["settings"]["di_filter"]["DI7"], 9993);
    EXPECT_EQ(j["settings"]["protocol"], "rtu");
    EXPECT_FALSE(j["settings"].contains("do"));  // present state is no configuration
    EXPECT_FALSE(j["settings"].contains("pulse_count"));
    const auto ad = nlohmann::json::parse(ToJson(Sample(*FindModel("KELM-8AD"))));
    EXPECT_EQ(ad["settings"]["ai_mode"]["CH1"], "+-10V");
}

TEST(ConfigFile, RefusesBadFilesNamingTheKey) {
    const std::string good = ToJson(Sample(*FindModel("KELM-8I8T")));
    auto edit = [&](auto f) {
        auto j = nlohmann::ordered_json::parse(good);
        f(j);
        return j.dump();
    };
    struct Case {
        const char* what;
        std::string text;
        const char* mustName;
    };
    const Case cases[] = {
        {"not JSON", good.substr(0, good.size() / 2), "not valid JSON"},
        {"not an object", "[1, 2]", "JSON object"},
        {"other format", edit([](auto& j) { j["format"] = "something-else"; }), "format"},
        {"other version", edit([](auto& j) { j["version"] = 2; }), "version: 2"},
        {"unknown model", edit([](auto& j) { j["model"] = "KELM-99X"; }), "model"},
        {"unknown key", edit([](auto& j) { j["settings"]["do"] = 1; }), "settings.do"},
        {"below range", edit([](auto& j) { j["settings"]["pulse_on"]["DO3"] = 1; }),
         "settings.pulse_on.DO3: 1 is outside 2-65535"},
        {"above range", edit([](auto& j) { j["settings"]["di_filter"]["DI0"] = 10001; }),
         "settings.di_filter.DI0"},
        {"negative", edit([](auto& j) { j["settings"]["address"] = -1; }), "settings.address"},
        {"address 0", edit([](auto& j) { j["settings"]["address"] = 0; }), "settings.address"},
        {"format 16", edit([](auto& j) { j["settings"]["com_format"] = 16; }),
         "settings.com_format"},
        {"fraction", edit([](auto& j) { j["settings"]["pulse_off"]["DO0"] = 2.5; }),
         "settings.pulse_off.DO0"},
        {"bad choice", edit([](auto& j) { j["settings"]["do_mode"]["DO2"] = "blink"; }),
         "settings.do_mode.DO2"},
        {"number for choice", edit([](auto& j) { j["settings"]["protocol"] = 82; }),
         "settings.protocol"},
        {"missing channel", edit([](auto& j) { j["settings"]["pulse_on"].erase("DO7"); }),
         "settings.pulse_on.DO7: missing"},
        {"extra channel", edit([](auto& j) { j["settings"]["pulse_on"]["DO8"] = 5; }),
         "settings.pulse_on.DO8"},
        {"channel scalar", edit([](auto& j) { j["settings"]["pulse_on"] = 5; }),
         "settings.pulse_on"},
        {"bad identity", edit([](auto& j) { j["identity"]["hw_version"] = "xyz"; }),
         "identity.hw_version"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        EXPECT_FALSE(ParseConfig(c.text, &error));
        EXPECT_NE(error.find(c.mustName), std::string::npos) << error;
    }
    // An analog mode outside the model's range: the KELM-8AS has two.
    auto as = nlohmann::ordered_json::parse(ToJson(Sample(*FindModel("KELM-8AS"))));
    as["settings"]["ai_mode"]["CH4"] = "+-10V";
    std::string error;
    EXPECT_FALSE(ParseConfig(as.dump(), &error));
    EXPECT_NE(error.find("settings.ai_mode.CH4"), std::string::npos) << error;
}

TEST(ConfigFile, APartialFileLeavesTheRestAlone) {
    const std::string text = R"({"format":"kelm-module-config","version":1,"model":"KELM-8RY",
        "settings":{"ry_init":{"RY0":"on","RY1":"off","RY2":"off","RY3":"off","RY4":"off",
        "RY5":"off","RY6":"off","RY7":"ON"}}})";
    std::string error;
    const auto c = ParseConfig(text, &error);
    ASSERT_TRUE(c) << error;
    ASSERT_EQ(c->settings.size(), 1u);
    EXPECT_EQ(c->settings[0].values, (std::vector<std::uint32_t>{1, 0, 0, 0, 0, 0, 0, 1}));
}

ByteString Body(int address, const Step& s) {
    return models::RequestBody(static_cast<std::uint8_t>(address), s.request);
}

TEST(RestorePlan, ChannelSettingsFirstThenTheCommunicationWriteOnlyWithComm) {
    const auto& m = *FindModel("KELM-8I8T");
    ModuleConfig current = Sample(m);
    ModuleConfig wanted = current;
    auto set = [&](std::string_view key, int ch, std::uint32_t v) {
        for (auto& s : wanted.settings)
            if (s.item->key == key) s.values[static_cast<std::size_t>(ch)] = v;
    };
    set("address", 0, 9);
    set("do_init", 0, 1);      // DO0 on: the whole word 0x0B
    set("pulse_on", 3, 250);   // one register
    set("di_filter", 7, 100);  // one register
    const auto changes = Diff(current, wanted);
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_EQ(DescribeChange(changes[1]), "pulse_on.DO3: 65532 -> 250 (x0.1ms)");
    EXPECT_EQ(changes.back().item->key, "address");  // communication last

    std::string error;
    auto plan = PlanRestore(current, wanted, false, &error);
    ASSERT_TRUE(plan) << error;
    ASSERT_EQ(plan->size(), 3u);
    // do_init: channels 1, 3, 5, 7 on in the sample, DO0 now too.
    EXPECT_EQ(Body(5, (*plan)[0]), (ByteString{5, 6, 0, 6, 0, 0xAB}));
    EXPECT_EQ(Body(5, (*plan)[1]), (ByteString{5, 6, 0, 11, 0, 250}));
    EXPECT_EQ(Body(5, (*plan)[2]), (ByteString{5, 6, 0, 55, 0, 100}));
    for (const auto& s : *plan) EXPECT_FALSE(s.comm);

    plan = PlanRestore(current, wanted, true, &error);
    ASSERT_TRUE(plan) << error;
    ASSERT_EQ(plan->size(), 4u);
    const Step& comm = plan->back();
    EXPECT_TRUE(comm.comm);
    // Registers 3-5 in one write: format 15, address 9, "R".
    EXPECT_EQ(Body(5, comm), (ByteString{5, 16, 0, 3, 0, 3, 6, 0, 15, 0, 9, 0, 0x52}));
    EXPECT_EQ(comm.newAddress, 9);

    // Nothing differs: nothing is written.
    plan = PlanRestore(current, current, true, &error);
    ASSERT_TRUE(plan);
    EXPECT_TRUE(plan->empty());
}

TEST(RestorePlan, AnalogModesGoInOneWrite) {
    const auto& m = *FindModel("KELM-8AD");
    ModuleConfig current = Sample(m);
    ModuleConfig wanted = current;
    wanted.settings[0].values[2] = 0x37;
    std::string error;
    const auto plan = PlanRestore(current, wanted, true, &error);
    ASSERT_TRUE(plan) << error;
    ASSERT_EQ(plan->size(), 1u);
    ByteString expect{1, 16, 0, 6, 0, 8, 16};
    for (auto v : wanted.settings[0].values) {
        expect.push_back(0);
        expect.push_back(static_cast<std::uint8_t>(v));
    }
    EXPECT_EQ(Body(1, (*plan)[0]), expect);
}

TEST(ProvisionPlan, RowsHeaderCommentsAndQuotes) {
    const std::string text =
        "address,baud,parity,protocol,config,label\r\n"
        "# the east cabinet\n"
        "11,9600,none,rtu,,\"pump, east\"\n"
        "\n"
        "12, 19200 ,EVEN,ASCII,valves.json,\"say \"\"hi\"\"\"\n"
        "13,115200,none,rtu\n";
    std::string error;
    const auto rows = ParsePlan(text, &error);
    ASSERT_TRUE(rows) << error;
    ASSERT_EQ(rows->size(), 3u);
    EXPECT_EQ((*rows)[0].label, "pump, east");
    EXPECT_EQ((*rows)[0].lineNumber, 3);
    EXPECT_EQ((*rows)[1].line.baud, 19200u);
    EXPECT_TRUE((*rows)[1].line.evenParity);
    EXPECT_EQ((*rows)[1].line.protocol, bus::WireProtocol::Ascii);
    EXPECT_EQ((*rows)[1].configFile, "valves.json");
    EXPECT_EQ((*rows)[1].label, "say \"hi\"");
    EXPECT_EQ((*rows)[2].address, 13);
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(FormatReportLine({"t", "a,b", "KELM-16T", "A1", "B3", "x", "y", "ok"}),
              "t,\"a,b\",KELM-16T,A1,B3,x,y,ok");
}

TEST(ProvisionPlan, RefusesRowsTheModulesCannotTake) {
    const struct {
        const char* text;
        const char* mustName;
    } cases[] = {
        {"0,9600,none,rtu\n", "line 1, address"},
        {"248,9600,none,rtu\n", "line 1, address"},
        {"5,9601,none,rtu\n", "line 1, baud"},
        {"5,9600,odd,rtu\n", "line 1, parity"},
        {"5,9600,none,tcp\n", "line 1, protocol"},
        {"5,9600,none\n", "line 1, expected"},
        {"5,9600,none,rtu\n5,9600,none,rtu\n", "line 2, address: 5 is already"},
        {"5,9600,none,rtu,\"open\n", "line 1, a quote"},
        {"# nothing\n", "no module rows"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        EXPECT_FALSE(ParsePlan(c.text, &error));
        EXPECT_NE(error.find(c.mustName), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace kelm::config
