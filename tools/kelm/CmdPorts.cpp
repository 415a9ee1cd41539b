// kelm ports: the port list as the window shows it.
#include <iostream>
#include <memory>

#include "Common.h"
#include "serial/EnumPorts.h"

namespace kelm::cli {

Command AddPortsCommand(CLI::App& app) {
    auto* cmd =
        app.add_subcommand("ports",
                           "list the serial ports as the window numbers them: number, description, "
                           "device, by-id path and whether you may open it");
    auto json = std::make_shared<bool>(false);
    AddJsonOption(cmd, *json);
    return {cmd, [json]() {
                auto src = MakeSystemPortSource();
                const auto list = LoadPortRecords(PortEnumMode::FullPresent, *src);
                if (*json) {
                    Json ports = Json::array();
                    for (const auto& r : list) {
                        const PortAccess access = CheckPortAccess(r.PortName);
                        Json p;
                        p["name"] = "COM" + std::to_string(r.Data);
                        p["number"] = r.Data;
                        p["description"] = r.NameFriendly;
                        p["device"] = r.PortName;
                        p["by_id"] = r.NameSymbolic.empty() ? Json(nullptr) : Json(r.NameSymbolic);
                        p["access"] = access.allowed;
                        p["access_text"] = DescribePortAccess(access);
                        ports.push_back(std::move(p));
                    }
                    Json out;
                    out["ports"] = std::move(ports);
                    std::cout << out.dump() << '\n';
                    return kExitOk;
                }
                for (const auto& r : list) {
                    std::cout << "COM" << r.Data << '\t' << r.NameFriendly << '\t' << r.PortName
                              << '\t' << (r.NameSymbolic.empty() ? "-" : r.NameSymbolic) << '\t'
                              << "access=" << DescribePortAccess(CheckPortAccess(r.PortName))
                              << '\n';
                }
                if (list.empty()) std::cerr << "kelm: no serial ports\n";
                return kExitOk;
            }};
}

}  // namespace kelm::cli
