#pragma once
// The user's network ports (buses behind a serial device server or a Modbus
// TCP gateway): their tree texts, the check of what the user typed, the port
// numbers the serial component opens them by, and where they are remembered
// between runs (the program's settings file, INI format:
// $XDG_CONFIG_HOME/kelm/kelm-utility.ini, ~/.config without XDG_CONFIG_HOME).
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

#include "serial/net/NetAddress.h"

namespace kelm {

// Port numbers of network ports: above every number the system's ports take
// (virtual ports 1-4096, other ttys from 4097 up), so that they sort after
// the serial ports and never collide with one.
inline constexpr std::uint16_t kNetworkPortFirstNumber = 61441;

// Kinds in the order of the add dialog's list.
inline constexpr int kNetworkKindCount = 3;
net::NetKind NetworkKindAt(int index);
int NetworkKindIndex(net::NetKind kind);

// The tree text: "TCP 192.168.1.20:4001", "RFC2217 host:4001", "MBTCP [::1]:502".
QString NetworkPortText(const net::NetAddress& address);

// Checks what the user typed in the add dialog. host may be an IPv6 address
// with or without brackets. Returns the address, or nullopt with a message
// for the user in *error.
std::optional<net::NetAddress> NetworkPortFromFields(int kindIndex, const QString& host,
                                                     const QString& port, QString* error);

struct NetworkPortEntry {
    std::uint16_t number = 0;
    net::NetAddress address;
    QString PortName() const;  // "tcp://192.168.1.20:4001"
    QString Text() const { return NetworkPortText(address); }
};

// The smallest number from kNetworkPortFirstNumber up that no entry uses; 0
// when there is none left.
std::uint16_t NextNetworkPortNumber(const std::vector<NetworkPortEntry>& ports);

// The settings file that remembers them.
class NetworkPortSettings {
  public:
    // The file: $XDG_CONFIG_HOME/kelm/kelm-utility.ini.
    static QString FilePath();
    // The remembered ports, numbered in order. Entries that are not valid
    // port names (an edited file) and repeats are left out.
    static std::vector<NetworkPortEntry> Load();
    // Replaces the remembered list. False, with the reason, when the file
    // cannot be written.
    static bool Save(const std::vector<NetworkPortEntry>& ports, QString* error);
};

}  // namespace kelm
