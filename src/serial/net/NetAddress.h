#pragma once
// Port names of buses reached over the network:
//   tcp://HOST:PORT      a serial device server passing the bytes through
//   rfc2217://HOST:PORT  the same, with the line settings sent to the server
//                        (Telnet COM port control, RFC 2217)
//   mbtcp://HOST:PORT    a Modbus TCP gateway in front of an RTU bus
// HOST is a name, an IPv4 address or an IPv6 address in brackets
// ([::1]:502). Pure functions, no system calls.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelm::net {

enum class NetKind { Tcp, Rfc2217, ModbusTcp };

struct NetAddress {
    NetKind kind = NetKind::Tcp;
    std::string host;  // without brackets
    uint16_t port = 0;

    bool operator==(const NetAddress&) const = default;
};

// True when the name has the form of a network port name ("scheme://..."),
// valid or not: such a name never names a device node.
bool IsNetworkPortName(std::string_view name);

// Parses a network port name. On failure returns nullopt and, when error is
// given, a message that names the fault (no port, port out of range, an
// unknown scheme ...).
std::optional<NetAddress> ParseNetAddress(std::string_view name, std::string* error = nullptr);

// "tcp", "rfc2217", "mbtcp".
std::string_view SchemeName(NetKind kind);

// The canonical port name: "tcp://127.0.0.1:4001", "mbtcp://[::1]:502".
std::string FormatNetAddress(const NetAddress& address);

// "HOST:PORT" (IPv6 in brackets), as kelm-sim takes it for its listening
// socket: port 0 is allowed there (the system picks one).
std::optional<NetAddress> ParseHostPort(std::string_view text, bool allowPortZero,
                                        std::string* error = nullptr);

}  // namespace kelm::net
