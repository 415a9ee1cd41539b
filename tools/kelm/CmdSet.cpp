// kelm set: writes a new address, serial format and protocol into a module
// (registers 3-5 in one write), then reads its identity back at the new
// settings.
#include <iostream>
#include <memory>
#include <optional>

#include "Common.h"
#include "modbus/CommFormats.h"

namespace kelm::cli {

namespace {

struct SetOptions {
    LineOptions line;
    std::optional<int> newAddress;
    std::optional<std::uint32_t> newBaud;
    std::optional<std::string> newParity;
    std::optional<std::string> newProtocol;
};

// A module applies its new settings after it has acknowledged the write;
// give it this long before the first read at the new settings.
constexpr std::chrono::milliseconds kApplyTime{50};

}  // namespace

Command AddSetCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "set",
        "write a new address, baud rate, parity and protocol into a module, then read "
        "its identity back at the new settings");
    auto o = std::make_shared<SetOptions>();
    AddLineOptions(cmd, o->line, true);
    cmd->add_option("--new-address", o->newAddress, "the new slave address, 1-247")
        ->check(CLI::Range(1, 247));
    cmd->add_option("--new-baud", o->newBaud, "the new baud rate")->check(BaudValidator());
    cmd->add_option("--new-parity", o->newParity, "the new parity: none or even")
        ->check(ParityValidator());
    cmd->add_option("--new-protocol", o->newProtocol, "the new protocol: rtu or ascii")
        ->check(ProtocolValidator());
    return {
        cmd, [o]() {
            if (!o->newAddress && !o->newBaud && !o->newParity && !o->newProtocol) {
                throw Failure{kExitUsage,
                              "nothing to set: give --new-address, --new-baud, --new-parity "
                              "or --new-protocol"};
            }
            bus::BusClient client;
            OpenLine(client, o->line);
            const auto req = RequestOf(o->line, 1);
            const std::string who = "module " + std::to_string(o->line.address);
            const bus::LineSettings oldLine = client.Line();

            // What is not given stays as the module has it now.
            const auto current = client.Transact(
                ReadRegistersBody(static_cast<std::uint8_t>(o->line.address), 3, 3), req);
            RequireReply(current, who, oldLine);
            const auto regs = RegistersOf(current.body);
            if (regs.size() < 3) throw Failure{kExitModule, who + " sent a short reply"};

            bus::LineSettings next = oldLine;
            if (regs[0] < kCommFormatCount) {
                next.baud = kCommFormatBauds[regs[0] % 8];
                next.evenParity = regs[0] >= 8;
            }
            if (regs[2] == kProtocolLetterAscii) next.protocol = bus::WireProtocol::Ascii;
            if (regs[2] == kProtocolLetterRtu) next.protocol = bus::WireProtocol::Rtu;
            int address = o->line.address;
            if (o->newAddress) address = *o->newAddress;
            if (o->newBaud) next.baud = *o->newBaud;
            if (o->newParity) next.evenParity = ParityIsEven(*o->newParity);
            if (o->newProtocol) next.protocol = ProtocolOf(*o->newProtocol);
            const int format = *bus::FormatCodeOf(next);
            const std::uint16_t letter = next.protocol == bus::WireProtocol::Ascii
                                             ? kProtocolLetterAscii
                                             : kProtocolLetterRtu;

            const auto write =
                client.Transact(WriteRegistersBody(static_cast<std::uint8_t>(o->line.address), 3,
                                                   {static_cast<std::uint16_t>(format),
                                                    static_cast<std::uint16_t>(address), letter}),
                                req);
            if (write.outcome == bus::Outcome::Exception || write.outcome == bus::Outcome::PortLost)
                RequireReply(write, who, oldLine);
            if (write.outcome == bus::Outcome::Timeout) {
                std::cerr << "kelm: " << who
                          << " did not acknowledge the write; looking for it at the new "
                             "settings\n";
            }

            client.Settle(kApplyTime);
            client.SetLine(next);
            auto readReq = req;
            readReq.retries = std::max(readReq.retries, 2);
            Identity id;
            try {
                id = ReadIdentity(client, address, readReq);
            } catch (const Failure& f) {
                if (f.status != kExitNoReply) throw;
                throw Failure{kExitNoReply, "the module does not answer at address " +
                                                std::to_string(address) + ", " +
                                                DescribeLine(next) + " (" + f.message + ")"};
            }
            if (o->line.json) {
                std::cout << IdentityJson(id).dump() << '\n';
            } else {
                PrintIdentityText(std::cout, id);
            }
            if (id.format != format || id.moduleAddress != address || id.protocolLetter != letter) {
                throw Failure{kExitModule,
                              "the read-back differs from what was written (format " +
                                  std::to_string(id.format) + ", address " +
                                  std::to_string(id.moduleAddress) + ", protocol letter " +
                                  std::to_string(id.protocolLetter) + " instead of " +
                                  std::to_string(format) + ", " + std::to_string(address) + ", " +
                                  std::to_string(letter) + ")"};
            }
            return kExitOk;
        }};
}

}  // namespace kelm::cli
