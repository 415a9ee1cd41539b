// kelm info: identity, versions and communication parameters of one module.
#include <iostream>
#include <memory>

#include "Common.h"

namespace kelm::cli {

Command AddInfoCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "info", "read the identity, versions and communication parameters of one module");
    auto o = std::make_shared<LineOptions>();
    AddLineOptions(cmd, *o, true);
    return {cmd, [o]() {
                bus::BusClient client;
                OpenLine(client, *o);
                const Identity id = ReadIdentity(client, o->address, RequestOf(*o, 1));
                if (o->json) {
                    std::cout << IdentityJson(id).dump() << '\n';
                } else {
                    PrintIdentityText(std::cout, id);
                }
                return kExitOk;
            }};
}

}  // namespace kelm::cli
