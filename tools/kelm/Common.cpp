#include "Common.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ostream>

#include "modbus/CommFormats.h"
#include "modbus/Models.h"
#include "serial/EnumPorts.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kelm::cli {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string OneOf(const std::string& value, std::initializer_list<const char*> allowed,
                  const char* what) {
    const std::string v = Lower(value);
    for (const char* a : allowed) {
        if (v == a) return {};
    }
    std::string list;
    for (const char* a : allowed) list += std::string(list.empty() ? "" : "|") + a;
    return std::string(what) + " \"" + value + "\" is not one of " + list;
}

}  // namespace

const CLI::Validator& BaudValidator() {
    static const CLI::Validator v(
        [](std::string& value) -> std::string {
            for (auto b : kCommFormatBauds) {
                if (value == std::to_string(b)) return {};
            }
            return "baud rate \"" + value +
                   "\" is not one the modules have (1200 2400 4800 9600 19200 38400 57600 "
                   "115200)";
        },
        "BAUD");
    return v;
}

const CLI::Validator& ParityValidator() {
    static const CLI::Validator v(
        [](std::string& value) {
            return OneOf(value, {"none", "even"}, "parity");
        },
        "none|even");
    return v;
}

const CLI::Validator& ProtocolValidator() {
    static const CLI::Validator v(
        [](std::string& value) {
            return OneOf(value, {"rtu", "ascii"}, "protocol");
        },
        "rtu|ascii");
    return v;
}

void AddJsonOption(CLI::App* cmd, bool& json) {
    cmd->add_flag("--json", json, "print the result as JSON");
}

void AddLineOptions(CLI::App* cmd, LineOptions& o, bool addressOption, int minAddress) {
    cmd->add_option("-p,--port", o.port,
                    "the port: a COM name as kelm ports lists it (COM33), a device path, a "
                    "/dev/serial/by-id path, or a bus on the network: tcp://HOST:PORT, "
                    "rfc2217://HOST:PORT, mbtcp://HOST:PORT (or set KELM_PORT)")
        ->envname("KELM_PORT");
    if (addressOption) {
        cmd->add_option("-a,--address", o.address,
                        minAddress == 0 ? "slave address, 1-247, or 0 to broadcast (default 0)"
                                        : "slave address, 1-247 (default 1)")
            ->check(CLI::Range(minAddress, 247));
    }
    cmd->add_option("-b,--baud", o.baud, "baud rate (default 9600)")->check(BaudValidator());
    cmd->add_option("--parity", o.parity,
                    "parity: none (2 stop bits) or even (1 stop bit) (default none)")
        ->check(ParityValidator());
    cmd->add_option("--protocol", o.protocol,
                    "rtu (8 data bits) or ascii (7 data bits) (default rtu)")
        ->check(ProtocolValidator());
    cmd->add_option("--timeout", o.timeoutMs,
                    "response time-out in ms (default: derived from the baud rate, 47 ms for an "
                    "identity read at 9600 baud)")
        ->check(CLI::Range(1, 60000));
    cmd->add_option("--retries", o.retries, "further attempts after a time-out")
        ->check(CLI::Range(0, 20));
    cmd->add_flag("--rs485", o.rs485,
                  "switch the transceiver by RTS around each request (adaptors that need it)");
    AddJsonOption(cmd, o.json);
}

bus::WireProtocol ProtocolOf(const std::string& name) {
    return Lower(name) == "ascii" ? bus::WireProtocol::Ascii : bus::WireProtocol::Rtu;
}

bool ParityIsEven(const std::string& name) {
    return Lower(name) == "even";
}

bus::LineSettings LineOf(const LineOptions& o) {
    bus::LineSettings line;
    line.baud = o.baud;
    line.evenParity = ParityIsEven(o.parity);
    line.protocol = ProtocolOf(o.protocol);
    line.rs485 = o.rs485;
    return line;
}

std::string ProtocolName(bus::WireProtocol p) {
    return p == bus::WireProtocol::Ascii ? "ascii" : "rtu";
}

std::string ParityName(bool even) {
    return even ? "even" : "none";
}

std::string DescribeLine(const bus::LineSettings& line) {
    const bool ascii = line.protocol == bus::WireProtocol::Ascii;
    const auto code = bus::FormatCodeOf(line);
    const std::string label =
        code ? CommFormatLabel(*code, ascii) : std::to_string(line.baud) + " baud";
    return label + (ascii ? " ASCII" : " RTU");
}

namespace {

std::string NotListed(const std::string& name) {
    return "cannot open " + name +
           ": the port is missing (no such port in the list); kelm ports lists the ports there "
           "are";
}

}  // namespace

std::string ResolvePortName(const std::string& name, bool* unlisted) {
    if (unlisted) *unlisted = false;
    const std::string lower = Lower(name);
    if (lower.size() < 4 || lower.compare(0, 3, "com") != 0 ||
        !std::all_of(lower.begin() + 3, lower.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return name;
    }
    const std::string wanted = "COM" + name.substr(3);
    for (const auto& p : EnumeratePorts(PortEnumMode::FullPresent)) {
        if ("COM" + std::to_string(p.Number) == wanted) return p.PortName;
    }
#ifdef _WIN32
    if (unlisted) *unlisted = true;
    return wanted;
#else
    throw Failure{kExitPort, NotListed(name)};
#endif
}

void OpenLine(bus::BusClient& client, const LineOptions& o) {
    if (o.port.empty()) {
        throw Failure{kExitUsage, "no port: give --port or set KELM_PORT (kelm ports lists them)"};
    }
    bool unlisted = false;
    const std::string name = ResolvePortName(o.port, &unlisted);
    // A Modbus TCP gateway takes RTU requests only; say so before anything
    // is sent rather than let every ASCII request run into its time-out.
    if (LineOf(o).protocol == bus::WireProtocol::Ascii && Lower(name).rfind("mbtcp://", 0) == 0) {
        throw Failure{kExitUsage, "cannot use --protocol ascii on " + name +
                                      ": a Modbus TCP gateway carries RTU only (use tcp:// for "
                                      "a server that passes ASCII through)"};
    }
    const bus::OpenResult r = client.Open(name, LineOf(o));
    if (!r.ok()) {
        // Not listed and not there either: the same words as on Linux.
        if (unlisted && r.failure == bus::OpenFailure::Missing)
            throw Failure{kExitPort, NotListed(o.port)};
        std::string msg = bus::DescribeOpenFailure(name, r);
        if (name != o.port) msg += " [" + o.port + "]";
        throw Failure{kExitPort, msg};
    }
}

bus::RequestOptions RequestOf(const LineOptions& o, int defaultRetries) {
    bus::RequestOptions r;
    if (o.timeoutMs) r.timeout = std::chrono::milliseconds(*o.timeoutMs);
    r.retries = o.retries.value_or(defaultRetries);
    return r;
}

ByteString ReadRegistersBody(std::uint8_t address, std::uint16_t first, std::uint16_t count) {
    return ByteString{address,
                      3,
                      static_cast<std::uint8_t>(first >> 8),
                      static_cast<std::uint8_t>(first & 0xFF),
                      static_cast<std::uint8_t>(count >> 8),
                      static_cast<std::uint8_t>(count & 0xFF)};
}

ByteString WriteRegistersBody(std::uint8_t address, std::uint16_t first,
                              const std::vector<std::uint16_t>& values) {
    const auto n = static_cast<std::uint16_t>(values.size());
    ByteString b{address,
                 16,
                 static_cast<std::uint8_t>(first >> 8),
                 static_cast<std::uint8_t>(first & 0xFF),
                 static_cast<std::uint8_t>(n >> 8),
                 static_cast<std::uint8_t>(n & 0xFF),
                 static_cast<std::uint8_t>(2 * n)};
    for (auto v : values) {
        b.push_back(static_cast<std::uint8_t>(v >> 8));
        b.push_back(static_cast<std::uint8_t>(v & 0xFF));
    }
    return b;
}

std::vector<std::uint16_t> RegistersOf(const ByteString& body) {
    const Frame f(body);
    std::vector<std::uint16_t> regs;
    const std::size_t count = f[2] / 2;
    for (std::size_t i = 0; i < count && 3 + 2 * i + 1 < body.size(); ++i)
        regs.push_back(f.word(3 + 2 * i));
    return regs;
}

std::string ExceptionText(int code) {
    switch (code) {
        case 1:
            return "illegal function";
        case 2:
            return "illegal data address";
        case 3:
            return "illegal data value";
        case 4:
            return "slave device failure";
        case 5:
            return "acknowledge";
        case 6:
            return "slave device busy";
        default:
            return "exception";
    }
}

void RequireReply(const bus::TransactionResult& r, const std::string& what,
                  const bus::LineSettings& line) {
    switch (r.outcome) {
        case bus::Outcome::Reply:
            return;
        case bus::Outcome::Exception:
            throw Failure{kExitModule, what + " answered with exception " + Hex2(r.exceptionCode) +
                                           " (" + ExceptionText(r.exceptionCode) + ")"};
        case bus::Outcome::PortLost:
            throw Failure{kExitPort,
                          "the port was lost (the adaptor unplugged or the port closed)"};
        case bus::Outcome::Timeout:
            break;
    }
    std::string msg = "no reply from " + what + " at " + DescribeLine(line);
    if (r.attempts > 1) msg += " after " + std::to_string(r.attempts) + " attempts";
    if (r.strayBytes > 0)
        msg += "; " + std::to_string(r.strayBytes) +
               " bytes came back that answer nothing (another format or protocol, or two "
               "modules at one address?)";
    throw Failure{kExitNoReply, msg};
}

Identity ReadIdentity(bus::BusClient& client, int address, const bus::RequestOptions& req) {
    const auto who = "module " + std::to_string(address);
    const auto a = static_cast<std::uint8_t>(address);
    const auto r = client.Transact(ReadRegistersBody(a, 0, 6), req);
    std::vector<std::uint16_t> regs;
    if (r.outcome == bus::Outcome::Exception) {
        // A module that reads its identity and its settings only as the window
        // does, three registers at a time, still answers those two reads.
        const auto ident = client.Transact(ReadRegistersBody(a, 0, 3), req);
        const auto comm = ident.outcome == bus::Outcome::Reply
                              ? client.Transact(ReadRegistersBody(a, 3, 3), req)
                              : ident;
        if (comm.outcome != bus::Outcome::Reply) RequireReply(r, who, client.Line());
        regs = RegistersOf(ident.body);
        const auto rest = RegistersOf(comm.body);
        regs.insert(regs.end(), rest.begin(), rest.end());
    } else {
        RequireReply(r, who, client.Line());
        regs = RegistersOf(r.body);
    }
    Identity id;
    id.address = address;
    if (regs.size() >= 6) {
        id.type = regs[0] & 0xFF;
        id.hardware = regs[1] & 0xFF;
        id.software = regs[2] & 0xFF;
        id.format = regs[3];
        id.moduleAddress = regs[4];
        id.protocolLetter = regs[5];
    }
    return id;
}

std::string Hex2(int value) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(value) & 0xFFu);
    return buf;
}

std::string ModelName(int type) {
    const ModelInfo* m = FindModelByCode(type);
    return m ? std::string(m->name) : std::string();
}

namespace {

// Baud, parity and protocol a module's registers 3 and 5 name; empty where
// they hold no valid value.
struct DecodedFormat {
    std::optional<std::uint32_t> baud;
    std::string parity;
    std::string protocol;
    std::string label;
};

DecodedFormat Decode(const Identity& id) {
    DecodedFormat d;
    if (id.protocolLetter == kProtocolLetterRtu) d.protocol = "rtu";
    if (id.protocolLetter == kProtocolLetterAscii) d.protocol = "ascii";
    if (id.format >= 0 && id.format < kCommFormatCount) {
        d.baud = kCommFormatBauds[static_cast<std::size_t>(id.format % 8)];
        d.parity = ParityName(id.format >= 8);
        d.label = CommFormatLabel(id.format, d.protocol == "ascii");
    }
    return d;
}

}  // namespace

Json IdentityJson(const Identity& id) {
    const DecodedFormat d = Decode(id);
    const std::string model = ModelName(id.type);
    Json j;
    j["address"] = id.address;
    j["model"] = model.empty() ? Json(nullptr) : Json(model);
    j["type"] = id.type;
    j["hardware"] = Hex2(id.hardware);
    j["software"] = Hex2(id.software);
    j["format"] = id.format;
    j["baud"] = d.baud ? Json(*d.baud) : Json(nullptr);
    j["parity"] = d.parity.empty() ? Json(nullptr) : Json(d.parity);
    j["protocol"] = d.protocol.empty() ? Json(nullptr) : Json(d.protocol);
    return j;
}

void PrintIdentityText(std::ostream& out, const Identity& id) {
    const DecodedFormat d = Decode(id);
    const std::string model = ModelName(id.type);
    out << "address=" << id.address << '\n'
        << "model=" << (model.empty() ? "unknown" : model) << '\n'
        << "type=" << id.type << '\n'
        << "hardware=" << Hex2(id.hardware) << '\n'
        << "software=" << Hex2(id.software) << '\n'
        << "format=" << id.format << (d.label.empty() ? "" : " (" + d.label + ")") << '\n'
        << "baud=" << (d.baud ? std::to_string(*d.baud) : "unknown") << '\n'
        << "parity=" << (d.parity.empty() ? "unknown" : d.parity) << '\n'
        << "protocol="
        << (d.protocol.empty() ? "unknown (" + std::to_string(id.protocolLetter) + ")" : d.protocol)
        << '\n';
}

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(2) != 0;
#else
    return ::isatty(2) != 0;
#endif
}

}  // namespace kelm::cli
