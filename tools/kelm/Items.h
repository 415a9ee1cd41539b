#pragma once
// What kelm read, write and watch share: naming items and channels on the
// command line, parsing values, finding the model, and printing readings as
// text, JSON and CSV.
#include <optional>
#include <string>
#include <vector>

#include "Common.h"
#include "bus/ItemIo.h"
#include "models/ModelMap.h"

namespace kelm::cli {

// "di", "do3", "ai2", "pulse_on5": an item, and a channel or all (-1).
struct Selection {
    const models::Item* item = nullptr;
    int channel = -1;
};

// The model named by --model ("KELM-8AD" or "8AD", any case); nullptr when
// none.
const models::Model* ModelByName(const std::string& name);
std::string ModelNames();  // "KELM-8I8T, KELM-16I, ..." for messages

// An item key with an optional channel number. Throws Failure(2) when the
// model has no such item or channel.
Selection ParseSelection(const models::Model& model, const std::string& text);
// Every item of the model that can be read, or the named ones.
std::vector<Selection> SelectionsOf(const models::Model& model,
                                    const std::vector<std::string>& names);

// Reads the model from the module (the identity read, holding registers 0-2)
// unless one is named; throws Failure.
const models::Model& ResolveModel(bus::BusClient& client, const LineOptions& o,
                                  const std::string& modelName);
// Throws the Failure a failed item read or write means.
[[noreturn]] void ThrowIo(const bus::IoStatus& s);

// Reads what the selections name (each item once). modes: the analog modes,
// when already known.
std::vector<bus::ItemReading> ReadSelections(bus::ItemIo& io, const std::vector<Selection>& sel,
                                             const std::optional<bus::Modes>& modes = {});

// "do3", "ai_mode2", "do_mode": the name of one channel on the command line.
std::string ChannelKey(const models::Item& item, int ch);
// The text of one channel's value ("1", "run", "+-10V", "4.0123") and its
// unit ("mA", "x0.1ms", "" for none).
std::string ValueText(const models::Item& item, const bus::ChannelValue& v);
std::string UnitText(const models::Item& item, const bus::ChannelValue& v);

// One line per selected channel: name, value, unit (tab-separated).
void PrintReadingsText(std::ostream& out, const std::vector<Selection>& sel,
                       const std::vector<bus::ItemReading>& readings);
// One key per selection: the item key for a whole item, the channel key for
// one channel.
Json ReadingsJson(const std::vector<Selection>& sel, const std::vector<bus::ItemReading>& readings,
                  Json j = Json::object());
Json ChannelJson(const models::Item& item, const bus::ChannelValue& v);

// Integers as the user types them: decimal or 0x hex; nullopt when malformed.
std::optional<std::uint64_t> ParseInteger(const std::string& text);

}  // namespace kelm::cli
