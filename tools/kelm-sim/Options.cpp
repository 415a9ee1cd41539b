#include "kelm-sim/Options.h"

#include <algorithm>
#include <cctype>

#include "modbus/Models.h"
#include "serial/VirtualPortDir.h"

namespace kelm::sim {
namespace {

std::string Upper(std::string_view s) {
    std::string u(s);
    std::transform(u.begin(), u.end(), u.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return u;
}

// A decimal number within [lo, hi]; no sign, no blanks, no trailing text.
std::optional<unsigned> ParseNumber(std::string_view s, unsigned lo, unsigned hi) {
    if (s.empty() || s.size() > 9) return std::nullopt;
    unsigned v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v < lo || v > hi) return std::nullopt;
    return v;
}

std::string ModelList() {
    std::string s;
    for (const ModelInfo& m : Models()) {
        if (!s.empty()) s += ", ";
        s += m.name;
    }
    return s;
}

}  // namespace

std::optional<std::uint8_t> ModelCodeOfName(std::string_view name) {
    std::string u = Upper(name);
    if (u.rfind("KELM-", 0) != 0) u = "KELM-" + u;
    const ModelInfo* m = FindModelByName(u);
    if (m == nullptr) return std::nullopt;
    return m->typeCode;
}

std::optional<ModuleConfig> ParseModuleArg(std::string_view text, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<ModuleConfig> {
        if (error) *error = "--module " + std::string(text) + ": " + why;
        return std::nullopt;
    };
    const std::size_t comma = text.find(',');
    const std::string_view head = text.substr(0, comma);
    const std::size_t at = head.find('@');
    if (at == std::string_view::npos) return fail("expected MODEL@ADDRESS, such as 16T@5");
    ModuleConfig c;
    const std::optional<std::uint8_t> code = ModelCodeOfName(head.substr(0, at));
    if (!code)
        return fail("unknown model \"" + std::string(head.substr(0, at)) +
                    "\" (known: " + ModelList() + ", or their short forms such as 16T)");
    c.typeCode = *code;
    const std::optional<unsigned> address = ParseNumber(head.substr(at + 1), 1, 247);
    if (!address) return fail("the address must be a number from 1 to 247");
    c.address = static_cast<std::uint8_t>(*address);
    std::string_view rest = comma == std::string_view::npos ? "" : text.substr(comma + 1);
    while (comma != std::string_view::npos) {
        const std::size_t next = rest.find(',');
        const std::string_view item = rest.substr(0, next);
        const std::size_t eq = item.find('=');
        const std::string key = Upper(item.substr(0, eq));
        const std::string_view value = eq == std::string_view::npos ? "" : item.substr(eq + 1);
        if (eq == std::string_view::npos) {
            return fail("expected format=CODE or protocol=rtu|ascii, not \"" + std::string(item) +
                        "\"");
        } else if (key == "FORMAT") {
            const std::optional<unsigned> f = ParseNumber(value, 0, kMaxFormatCode);
            if (!f) return fail("the format code must be a number from 0 to 15");
            c.format = static_cast<std::uint8_t>(*f);
        } else if (key == "PROTOCOL") {
            const std::string p = Upper(value);
            if (p == "RTU")
                c.protocol = Protocol::Rtu;
            else if (p == "ASCII")
                c.protocol = Protocol::Ascii;
            else
                return fail("the protocol must be rtu or ascii");
        } else {
            return fail("unknown setting \"" + std::string(item.substr(0, eq)) +
                        "\" (format or protocol)");
        }
        if (next == std::string_view::npos) break;
        rest = rest.substr(next + 1);
    }
    return c;
}

std::vector<ModuleConfig> DemoModules() {
    std::vector<ModuleConfig> demo;
    std::uint8_t address = 1;
    for (const ModelInfo& m : Models())
        demo.push_back(ModuleConfig{m.typeCode, address++, kDefaultFormatCode, Protocol::Rtu});
    return demo;
}

ParseResult ParseArgs(const std::vector<std::string>& args) {
    SimOptions o;
    std::vector<ModuleConfig> explicitModules;
    auto fail = [](std::string why) { return ParseResult{std::nullopt, std::move(why)}; };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
            }
        }
        auto value = [&](std::string* out) -> bool {
            if (inlineValue) {
                *out = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) return false;
            *out = args[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--demo") {
            o.demo = true;
        } else if (arg == "--quiet" || arg == "-q") {
            o.quiet = true;
        } else if (arg == "--com") {
            if (!value(&v)) return fail("--com needs a port number");
            const std::optional<unsigned> n =
                ParseNumber(v, VirtualPortDir::kMinNumber, VirtualPortDir::kMaxNumber);
            if (!n)
                return fail("--com " + v + ": the port number must be from " +
                            std::to_string(VirtualPortDir::kMinNumber) + " to " +
                            std::to_string(VirtualPortDir::kMaxNumber));
            o.com = *n;
        } else if (arg == "--device") {
            if (!value(&v) || v.empty()) return fail("--device needs the path of a serial port");
            o.device = v;
        } else if (arg == "--tcp" || arg == "--mbtcp") {
            if (!value(&v)) return fail(arg + " needs HOST:PORT, such as 127.0.0.1:4001");
            std::string why;
            std::optional<net::NetAddress> address = net::ParseHostPort(v, true, &why);
            if (!address) return fail(arg + " " + why);
            address->kind = arg == "--tcp" ? net::NetKind::Tcp : net::NetKind::ModbusTcp;
            (arg == "--tcp" ? o.tcp : o.mbtcp) = *address;
        } else if (arg == "--module") {
            if (!value(&v)) return fail("--module needs MODEL@ADDRESS");
            std::string error;
            const std::optional<ModuleConfig> m = ParseModuleArg(v, &error);
            if (!m) return fail(error);
            explicitModules.push_back(*m);
        } else if (arg == "--delay") {
            if (!value(&v)) return fail("--delay needs a number of milliseconds");
            const std::optional<unsigned> ms = ParseNumber(v, 0, kMaxDelayMs);
            if (!ms)
                return fail("--delay " + v + ": the delay must be 0 to " +
                            std::to_string(kMaxDelayMs) + " ms");
            o.delay = std::chrono::milliseconds(*ms);
        } else {
            return fail("unknown argument \"" + args[i] + "\" (see --help)");
        }
        if (inlineValue && (arg == "--help" || arg == "--demo" || arg == "--quiet"))
            return fail(arg + " takes no value");
    }
    if (o.help) return ParseResult{o, {}};
    if (o.com && o.device) return fail("give either --com or --device, not both");
    if (int(o.com.has_value()) + int(o.device.has_value()) + int(o.tcp.has_value()) +
            int(o.mbtcp.has_value()) >
        1)
        return fail("give only one line: --com, --device, --tcp or --mbtcp");
    if (o.demo) o.modules = DemoModules();
    o.modules.insert(o.modules.end(), explicitModules.begin(), explicitModules.end());
    if (o.modules.empty()) return fail("no modules to simulate: give --module or --demo");
    for (std::size_t a = 0; a < o.modules.size(); ++a)
        for (std::size_t b = a + 1; b < o.modules.size(); ++b) {
            const ModuleConfig& x = o.modules[a];
            const ModuleConfig& y = o.modules[b];
            if (x.address == y.address && x.protocol == y.protocol && x.format == y.format)
                return fail("two modules at address " + std::to_string(x.address) +
                            " with the same format and protocol would answer together");
        }
    return ParseResult{o, {}};
}

std::string UsageText() {
    return R"(Usage: kelm-sim [--com N | --device PATH | --tcp HOST:PORT | --mbtcp HOST:PORT]
                [--module MODEL@ADDRESS[,format=CODE][,protocol=rtu|ascii]]...
                [--demo] [--delay MS] [--quiet]

Simulates KELM Modbus modules on one serial line, until interrupted (Ctrl-C).

Line (one of):
  --com N          create a virtual serial port (a pseudo-terminal) and publish
                   it as COM<N> in the virtual-port directory, where KELM-Utility
                   lists it among the serial ports
  --device PATH    serve a real serial port, such as a USB-RS485 adaptor
                   (/dev/ttyUSB0), so that a real bus gets simulated modules
  --tcp HOST:PORT  listen on HOST:PORT and put the bus behind it as a serial
                   device server in "TCP server" mode does: the bytes of the
                   connection are the bytes on the bus (KELM-Utility opens it as
                   tcp://HOST:PORT); one client at a time
  --mbtcp HOST:PORT
                   listen on HOST:PORT as a Modbus TCP gateway in front of the
                   bus: each request (unit id = module address) becomes an RTU
                   frame on the bus, the reply goes back with the request's
                   transaction id (opened as mbtcp://HOST:PORT); one client at a
                   time. Port 0 picks a free port; the address is printed
  (none of these)  create a virtual serial port without publishing it; its path
                   is printed at start

Modules:
  --module MODEL@ADDRESS[,format=CODE][,protocol=rtu|ascii]
                   add a module; repeat for more. MODEL is the model name
                   (KELM-8I8T, KELM-16I, KELM-16T, KELM-8RY, KELM-2AO, KELM-8AD,
                   KELM-8AS, KELM-8ASP) or its short form (8I8T, 16T, ...).
                   ADDRESS is 1-247. CODE is the serial format code 0-15
                   (default 3): baud index 0-7 = 1200, 2400, 4800, 9600, 19200,
                   38400, 57600, 115200 with no parity and 2 stop bits, plus 8
                   for even parity with 1 stop bit. Data bits follow the
                   protocol: 8 for RTU (default), 7 for ASCII.
  --demo           add all eight models at addresses 1-8 (9600 baud, no parity,
                   2 stop bits, RTU)

Other:
  --delay MS       wait MS milliseconds (0-10000, default 10) before replying
  --quiet          do not print a line per request and reply
  --help           show this text

A module answers only requests in its own protocol, to its own address (or the
broadcast read of registers 3-5 at address 0), and only while the line's baud
rate and stop bits (on a real port also parity and data bits) match its serial
format. New communication settings written to registers 3-5 are acknowledged
under the old settings and then applied. Behind --tcp and --mbtcp the line is
the server's own: it runs at the first module's format and follows a module
that takes new settings.

Examples:
  kelm-sim --demo --com 9
  kelm-sim --com 3 --module 16T@5 --module 8AD@6,format=12,protocol=ascii
  kelm-sim --device /dev/ttyUSB0 --module KELM-8RY@1
  kelm-sim --demo --tcp 127.0.0.1:4001
  kelm-sim --demo --mbtcp [::1]:1502
)";
}

}  // namespace kelm::sim
