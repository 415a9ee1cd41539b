#include "serial/net/NetAddress.h"

#include <algorithm>
#include <cctype>

namespace kelm::net {
namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool Fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

// A host name or address of printable characters without blanks.
bool PlausibleHost(std::string_view h) {
    return std::all_of(h.begin(), h.end(), [](unsigned char c) { return c > 0x20 && c < 0x7F; });
}

}  // namespace

bool IsNetworkPortName(std::string_view name) {
    return name.find("://") != std::string_view::npos;
}

std::string_view SchemeName(NetKind kind) {
    switch (kind) {
        case NetKind::Tcp:
            return "tcp";
        case NetKind::Rfc2217:
            return "rfc2217";
        case NetKind::ModbusTcp:
            return "mbtcp";
    }
    return "tcp";
}

std::optional<NetAddress> ParseHostPort(std::string_view text, bool allowPortZero,
                                        std::string* error) {
    const std::string quoted = "\"" + std::string(text) + "\"";
    NetAddress a;
    std::string_view portText;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos)
            return Fail(error, quoted + ": the IPv6 address has no closing bracket"), std::nullopt;
        a.host = std::string(text.substr(1, close - 1));
        const std::string_view rest = text.substr(close + 1);
        if (rest.empty() || rest.front() != ':')
            return Fail(error, quoted + ": no port (HOST:PORT, such as 127.0.0.1:4001)"),
                   std::nullopt;
        portText = rest.substr(1);
    } else {
        const size_t colon = text.rfind(':');
        if (colon == std::string_view::npos)
            return Fail(error, quoted + ": no port (HOST:PORT, such as 127.0.0.1:4001)"),
                   std::nullopt;
        a.host = std::string(text.substr(0, colon));
        if (a.host.find(':') != std::string::npos)
            return Fail(error, quoted + ": an IPv6 address goes in brackets, such as [::1]:502"),
                   std::nullopt;
        portText = text.substr(colon + 1);
    }
    if (a.host.empty()) return Fail(error, quoted + ": no host"), std::nullopt;
    if (!PlausibleHost(a.host))
        return Fail(error, quoted + ": the host name holds blanks or control characters"),
               std::nullopt;
    if (portText.empty())
        return Fail(error, quoted + ": no port (HOST:PORT, such as 127.0.0.1:4001)"), std::nullopt;
    if (portText.size() > 5 ||
        !std::all_of(portText.begin(), portText.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return Fail(error, quoted + ": the port must be a number from 1 to 65535"), std::nullopt;
    unsigned port = 0;
    for (char c : portText) port = port * 10 + static_cast<unsigned>(c - '0');
    if (port > 65535 || (port == 0 && !allowPortZero))
        return Fail(error, quoted + ": the port must be a number from " +
                               std::string(allowPortZero ? "0" : "1") + " to 65535"),
               std::nullopt;
    a.port = static_cast<uint16_t>(port);
    return a;
}

std::optional<NetAddress> ParseNetAddress(std::string_view name, std::string* error) {
    const size_t sep = name.find("://");
    if (sep == std::string_view::npos)
        return Fail(error, "\"" + std::string(name) +
                               "\" is not a network port (tcp://, rfc2217:// or mbtcp://)"),
               std::nullopt;
    const std::string scheme = Lower(name.substr(0, sep));
    NetAddress a;
    if (scheme == "tcp") {
        a.kind = NetKind::Tcp;
    } else if (scheme == "rfc2217") {
        a.kind = NetKind::Rfc2217;
    } else if (scheme == "mbtcp") {
        a.kind = NetKind::ModbusTcp;
    } else {
        return Fail(error, "\"" + std::string(name) + "\": unknown scheme \"" +
                               std::string(name.substr(0, sep)) + "\" (tcp, rfc2217 or mbtcp)"),
               std::nullopt;
    }
    std::string_view rest = name.substr(sep + 3);
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);  // tcp://host:4001/
    std::string why;
    auto hp = ParseHostPort(rest, false, &why);
    if (!hp) {
        // Name the whole port name, not just its address part.
        const std::string inner = "\"" + std::string(rest) + "\"";
        if (why.rfind(inner, 0) == 0) why = why.substr(inner.size());
        return Fail(error, "\"" + std::string(name) + "\"" + why), std::nullopt;
    }
    a.host = std::move(hp->host);
    a.port = hp->port;
    return a;
}

std::string FormatNetAddress(const NetAddress& a) {
    const bool v6 = a.host.find(':') != std::string::npos;
    return std::string(SchemeName(a.kind)) + "://" + (v6 ? "[" + a.host + "]" : a.host) + ":" +
           std::to_string(a.port);
}

}  // namespace kelm::net
