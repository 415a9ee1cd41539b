// kelm find: the link check. With one module on the line, tries every serial
// format (and both protocols unless --protocol is given) until the module
// answers a read of its registers 3-5.
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

#include "Common.h"
#include "modbus/CommFormats.h"

namespace kelm::cli {

namespace {

struct FindOptions {
    LineOptions line;
    bool protocolGiven = false;
};

// The common factory setting first, then the same baud rate with even
// parity, then the rest in code order.
std::vector<int> FormatOrder() {
    std::vector<int> order{3, 11};
    for (int c = 0; c < kCommFormatCount; ++c) {
        if (c != 3 && c != 11) order.push_back(c);
    }
    return order;
}

}  // namespace

Command AddFindCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "find",
        "the link check: with one module on the line, try every serial format in both "
        "protocols (or --protocol) and report its address, baud, parity and protocol");
    auto o = std::make_shared<FindOptions>();
    o->line.address = 0;
    AddLineOptions(cmd, o->line, true, 0);
    // --baud and --parity are what find searches: they name no line here.
    cmd->remove_option(cmd->get_option("--baud"));
    cmd->remove_option(cmd->get_option("--parity"));
    auto* protocol = cmd->get_option("--protocol");
    protocol->description("search only this protocol: rtu or ascii (default both)");
    return {
        cmd, [o, protocol]() {
            std::vector<bus::WireProtocol> protocols;
            if (protocol->count() > 0) {
                protocols.push_back(ProtocolOf(o->line.protocol));
            } else {
                protocols = {bus::WireProtocol::Rtu, bus::WireProtocol::Ascii};
            }
            bus::BusClient client;
            OpenLine(client, o->line);
            const auto req = RequestOf(o->line, 0);
            const auto body = ReadRegistersBody(static_cast<std::uint8_t>(o->line.address), 3, 3);
            std::optional<std::string> implausible;
            std::optional<std::string> stray;
            for (const auto p : protocols) {
                for (const int code : FormatOrder()) {
                    auto line = *bus::LineOfFormatCode(code, p);
                    line.rs485 = o->line.rs485;
                    client.SetLine(line);
                    const auto r = client.Transact(body, req);
                    if (r.outcome == bus::Outcome::PortLost) RequireReply(r, "", line);
                    if (r.outcome == bus::Outcome::Exception) {
                        // Someone answers at this format: that is the link.
                        RequireReply(r, "the module at " + DescribeLine(line), line);
                    }
                    if (r.outcome == bus::Outcome::Timeout) {
                        if (r.strayBytes > 0 && !stray) stray = DescribeLine(line);
                        continue;
                    }
                    const auto regs = RegistersOf(r.body);
                    const int format = regs.size() > 0 ? regs[0] : -1;
                    const int address = regs.size() > 1 ? regs[1] : -1;
                    const int letter = regs.size() > 2 ? regs[2] : -1;
                    if (format < 0 || format >= kCommFormatCount || address < 1 || address > 247 ||
                        (letter != kProtocolLetterRtu && letter != kProtocolLetterAscii)) {
                        if (!implausible) {
                            implausible = "a module answered at " + DescribeLine(line) +
                                          " with format " + std::to_string(format) + ", address " +
                                          std::to_string(address) + ", protocol letter " +
                                          std::to_string(letter) + ", which are not valid settings";
                        }
                        continue;
                    }
                    const bool ascii = letter == kProtocolLetterAscii;
                    const auto found = *bus::LineOfFormatCode(
                        format, ascii ? bus::WireProtocol::Ascii : bus::WireProtocol::Rtu);
                    if (o->line.json) {
                        Json j;
                        j["address"] = address;
                        j["baud"] = found.baud;
                        j["parity"] = ParityName(found.evenParity);
                        j["protocol"] = ProtocolName(found.protocol);
                        j["format"] = format;
                        std::cout << j.dump() << '\n';
                    } else {
                        std::cout << "address=" << address << '\n'
                                  << "baud=" << found.baud << '\n'
                                  << "parity=" << ParityName(found.evenParity) << '\n'
                                  << "protocol=" << ProtocolName(found.protocol) << '\n'
                                  << "format=" << format << " (" << CommFormatLabel(format, ascii)
                                  << ")\n";
                    }
                    return kExitOk;
                }
            }
            if (implausible) throw Failure{kExitModule, *implausible};
            std::string msg = "no module answered in any format";
            if (protocols.size() == 1)
                msg +=
                    " of " + std::string(protocols[0] == bus::WireProtocol::Rtu ? "RTU" : "ASCII");
            if (stray) {
                msg += "; at " + *stray +
                       " bytes came back that answer nothing: is more than one module on "
                       "the line?";
            } else {
                msg += "; check the wiring, the A/B lines and that the module has power";
            }
            throw Failure{kExitNoReply, msg};
        }};
}

}  // namespace kelm::cli
