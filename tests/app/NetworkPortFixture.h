#pragma once
// The window with network ports: what the window tests and the end-to-end
// tests of those ports share.
#include <QTreeWidget>
#include <cstdint>

#include "WindowFixture.h"
#include "serial/net/NetAddress.h"
#include "support/LoopbackPeers.h"

namespace kelm::test {

class NetworkPortFixture : public WindowFixture {
  protected:
    // Adds the port as the add dialog does; its node, the last under "PC"
    // (nullptr, with a test failure, when the window refuses it).
    QTreeWidgetItem* AddPort(net::NetKind kind, std::uint16_t port,
                             const char* host = "127.0.0.1") {
        if (!W().AddNetworkPort(net::NetAddress{kind, host, port})) {
            ADD_FAILURE() << "the window refused " << host << ":" << port;
            return nullptr;
        }
        return Root()->child(Root()->childCount() - 1);
    }
};

}  // namespace kelm::test
