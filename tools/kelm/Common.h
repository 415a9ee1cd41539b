#pragma once
// What the commands of kelm share: exit statuses, the line options, opening
// the port, the identity registers and printing results.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "bus/BusClient.h"
#include "modbus/Bytes.h"

namespace kelm::cli {

// Exit statuses (the manual page and the README list them).
enum ExitStatus : int {
    kExitOk = 0,
    kExitModule = 1,   // an exception reply, or a read-back that differs
    kExitUsage = 2,    // bad command line or value; nothing was sent
    kExitPort = 3,     // the port cannot be opened (or was lost)
    kExitNoReply = 4,  // no reply
};

using Json = nlohmann::ordered_json;

// Raised by a command to end with a status and a message for stderr.
struct Failure {
    int status;
    std::string message;
};

// Options every command that talks to modules takes.
struct LineOptions {
    std::string port;
    int address = 1;
    std::uint32_t baud = 9600;
    std::string parity = "none";
    std::string protocol = "rtu";
    std::optional<int> timeoutMs;
    std::optional<int> retries;
    bool rs485 = false;
    bool json = false;
};

// Adds --port (env KELM_PORT), --baud, --parity, --protocol, --timeout,
// --retries, --rs485 and, with addressOption, --address (minAddress-247).
void AddLineOptions(CLI::App* cmd, LineOptions& o, bool addressOption, int minAddress = 1);
void AddJsonOption(CLI::App* cmd, bool& json);

// Validators for the values the modules take.
const CLI::Validator& BaudValidator();
const CLI::Validator& ParityValidator();    // none|even (any case)
const CLI::Validator& ProtocolValidator();  // rtu|ascii (any case)

bus::WireProtocol ProtocolOf(const std::string& name);
bool ParityIsEven(const std::string& name);  // "even" in any case
bus::LineSettings LineOf(const LineOptions& o);
std::string ProtocolName(bus::WireProtocol p);  // "rtu" / "ascii"
std::string ParityName(bool even);              // "none" / "even"
// "9600/8/2/None RTU"
std::string DescribeLine(const bus::LineSettings& line);

// A COM name as the port list shows it ("COM33", any case) becomes the
// listed device; anything else is passed through. A COM name that is not
// listed throws Failure(3) on Linux, where such a name opens nothing; on
// Windows it is passed through (the system may open a port that no driver
// put in the list) and *unlisted is set.
std::string ResolvePortName(const std::string& name, bool* unlisted = nullptr);

// Opens the line of the options; throws Failure(3) with the reason.
void OpenLine(bus::BusClient& client, const LineOptions& o);

bus::RequestOptions RequestOf(const LineOptions& o, int defaultRetries);

// Holding registers 0-5 of a module.
struct Identity {
    int address = 0;  // the address that answered
    int type = 0;
    int hardware = 0;
    int software = 0;
    int format = 0;
    int moduleAddress = 0;
    int protocolLetter = 0;
};

// Request bodies.
ByteString ReadRegistersBody(std::uint8_t address, std::uint16_t first, std::uint16_t count);
ByteString WriteRegistersBody(std::uint8_t address, std::uint16_t first,
                              const std::vector<std::uint16_t>& values);

// The register words of a read reply body.
std::vector<std::uint16_t> RegistersOf(const ByteString& body);

// Throws the Failure that a non-reply outcome means (exception: 1, time-out:
// 4, port lost: 3); `what` names the request ("module 5").
void RequireReply(const bus::TransactionResult& r, const std::string& what,
                  const bus::LineSettings& line);

// Reads registers 0-5 of address.
Identity ReadIdentity(bus::BusClient& client, int address, const bus::RequestOptions& req);

std::string Hex2(int value);      // two upper-case hex digits of the low byte
std::string ModelName(int type);  // "KELM-8I8T", or "" for an unknown code
std::string ExceptionText(int code);

// info and set print the same record.
Json IdentityJson(const Identity& id);
void PrintIdentityText(std::ostream& out, const Identity& id);

// Whether stderr is a terminal (for the progress bar).
bool StderrIsTerminal();

// One command: registered with the program, run after parsing.
using CommandRun = std::function<int()>;
struct Command {
    CLI::App* app;
    CommandRun run;
};

Command AddPortsCommand(CLI::App& app);
Command AddScanCommand(CLI::App& app);
Command AddFindCommand(CLI::App& app);
Command AddInfoCommand(CLI::App& app);
Command AddSetCommand(CLI::App& app);
Command AddBackupCommand(CLI::App& app);
Command AddRestoreCommand(CLI::App& app);
Command AddCloneCommand(CLI::App& app);
Command AddProvisionCommand(CLI::App& app);
Command AddReadCommand(CLI::App& app);
Command AddWriteCommand(CLI::App& app);
Command AddWatchCommand(CLI::App& app);
// --model for read, write and watch.
void AddModelOption(CLI::App* cmd, std::string& model);

}  // namespace kelm::cli
