// kelm read: what a module has (inputs, outputs, relays, modes, times,
// counters, analog values), or only what is named, with the requests the
// panels send.
#include <iostream>
#include <memory>

#include "Items.h"

namespace kelm::cli {

namespace {
struct ReadOptions {
    LineOptions line;
    std::string model;
    std::vector<std::string> names;
};
}  // namespace

void AddModelOption(CLI::App* cmd, std::string& model) {
    cmd->add_option("--model", model,
                    "the module's model (KELM-8I8T, 8AD, ...); without it the model is read from "
                    "the module (its identity registers)");
}

Command AddReadCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "read",
        "read a module's inputs, outputs, relays, modes, pulse and filter times, counters and "
        "analog values, or only the items named (di ai do3 ai2 pulse_on ...)");
    auto o = std::make_shared<ReadOptions>();
    AddLineOptions(cmd, o->line, true);
    AddModelOption(cmd, o->model);
    cmd->add_option("items", o->names,
                    "items to read (di, do, ry, ai, ao, do_mode, pulse_on, di_count, ...), each "
                    "also as one channel (do3, ai2); all when none is named");
    return {cmd, [o]() {
                // Named items are checked before anything goes out when the
                // model is given.
                const models::Model* given = nullptr;
                if (!o->model.empty()) {
                    given = ModelByName(o->model);
                    if (!given)
                        throw Failure{kExitUsage,
                                      "no model \"" + o->model + "\" (" + ModelNames() + ")"};
                    SelectionsOf(*given, o->names);
                }
                bus::BusClient client;
                OpenLine(client, o->line);
                const models::Model& model = ResolveModel(client, o->line, o->model);
                const auto sel = SelectionsOf(model, o->names);
                bus::ItemIo io(client, model, static_cast<std::uint8_t>(o->line.address),
                               RequestOf(o->line, 1));
                const auto readings = ReadSelections(io, sel);
                if (o->line.json) {
                    Json j;
                    j["address"] = o->line.address;
                    j["model"] = model.name;
                    std::cout << ReadingsJson(sel, readings, std::move(j)).dump() << '\n';
                } else {
                    PrintReadingsText(std::cout, sel, readings);
                }
                return kExitOk;
            }};
}

}  // namespace kelm::cli
