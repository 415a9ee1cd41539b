// The serial component on network ports: kelm-sim's TCP and Modbus TCP
// servers driven through TksComm and the Modbus engine, scripted servers for
// the protocol's corners, lost connections, and the open failures.
#include <gtest/gtest.h>
#include <netinet/tcp.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "NetTestSupport.h"
#include "kelm-sim/NetServer.h"
#include "kelm-sim/Options.h"
#include "modbus/Checks.h"
#include "serial/net/NetPortRouter.h"
#include "serial/net/NetSerialDevice.h"
#include "serial/posix/PosixSerialDevice.h"
#include "serial/posix/Pty.h"

namespace kelm::test {
namespace {

using sim::NetServer;

std::string Str(const ByteString& b) {
    return std::string(b.begin(), b.end());
}

template <class F>
std::string ErrorOf(F f) {
    try {
        f();
    } catch (const EksError& e) {
        return e.what();
    }
    return "no exception";
}

std::unique_ptr<NetServer> StartServer(NetServer::Mode mode, std::vector<sim::ModuleConfig> modules,
                                       uint16_t port = 0) {
    NetServer::Config c;
    c.mode = mode;
    c.port = port;
    c.modules = std::move(modules);
    c.replyDelay = std::chrono::milliseconds(0);
    std::string error;
    auto s = NetServer::Create(std::move(c), &error);
    EXPECT_NE(s, nullptr) << error;
    if (s) s->Start();
    return s;
}

class NetComm : public ::testing::Test {
  protected:
    void SetUp() override { Make(nullptr); }
    void TearDown() override {
        if (com) {
            com->SetOnAfterReceive(nullptr);
            com->SetOnCommError(nullptr);
            com->SetOnClose(nullptr);
        }
        rig.reset();
        com.reset();
    }
    // A component on a device of the test's choice (nullptr: the default).
    void Make(std::unique_ptr<ISerialDevice> device) {
        rig.reset();
        com = device ? std::make_unique<TksComm>(&ex, std::move(device))
                     : std::make_unique<TksComm>(&ex);
        com->SetStreamProtocol(TStreamProtocol::spNone);
        com->SetBaudRate(9600);
        com->SetStopBits(TStopBits::sbTwo);
        com->NotifyAdd(MakeNotifyEvent(this, 1, [this](TksComponent*, int code) {
            if (code == csClosed) ++closedNotices;
        }));
        com->SetOnClose([this](TksComponent*) { ++closes; });
    }
    void OpenName(const std::string& name, int number = 50) {
        ListNamedPort(*com, number, name);
        com->SetComPortNo(static_cast<uint16_t>(number));
        com->SetActive(true);
    }
    void Receive() {
        com->SetOnAfterReceive([this](TksBaseIO*, const uint8_t* b, uint32_t n) {
            received.append(reinterpret_cast<const char*>(b), n);
        });
    }

    LoopExecutor ex;
    std::unique_ptr<TksComm> com;
    std::unique_ptr<EngineRig> rig;
    std::string received;
    int closes = 0;
    int closedNotices = 0;
};

// Every demo module answers its identity read through the engine, behind
// kelm-sim's raw TCP server and behind its Modbus TCP gateway.
TEST_F(NetComm, IdentityOfEachDemoModuleBehindTcpAndModbusTcp) {
    for (NetServer::Mode mode : {NetServer::Mode::Raw, NetServer::Mode::ModbusTcp}) {
        auto server = StartServer(mode, sim::DemoModules());
        ASSERT_NE(server, nullptr);
        Make(nullptr);
        OpenName(server->PortName());
        ASSERT_TRUE(com->Active()) << server->PortName();
        rig = std::make_unique<EngineRig>(ex, *com);
        for (const sim::ModuleConfig& m : sim::DemoModules()) {
            const ByteString id = rig->Identity(m.address);
            ASSERT_EQ(id.size(), 9u) << server->PortName() << " address " << int(m.address);
            EXPECT_EQ(id[0], m.address);
            EXPECT_EQ(id[1], 3);
            EXPECT_EQ(id[2], 6);
            EXPECT_EQ(id[3] << 8 | id[4], m.typeCode);
        }
        com->SetActive(false);
        EXPECT_EQ(server->Connections(), 1u);
    }
}

// The link check's broadcast read (address 0, registers 3-5) crosses the
// gateway as unit 0 and comes back from address 0; an exception reply
// passes through as the engine expects it.
TEST_F(NetComm, ModbusTcpBroadcastReadAndExceptionReply) {
    auto server = StartServer(NetServer::Mode::ModbusTcp, {{11, 5, 12, sim::Protocol::Rtu}});
    ASSERT_NE(server, nullptr);
    Receive();
    OpenName(server->PortName());
    ASSERT_TRUE(com->Active());
    const struct {
        ByteString request;
        ByteString reply;  // without the CRC
    } cases[] = {
        {{0, 3, 0, 3, 0, 3}, {0, 3, 6, 0, 12, 0, 5, 0, 0x52}},
        {{5, 1, 0, 0, 0, 8}, {5, 0x81, 1}},  // a KELM-16I has no coils
    };
    for (const auto& c : cases) {
        received.clear();
        com->SendString(Str(FrameRtu(c.request)));
        const size_t want = c.reply.size() + 2;
        EXPECT_TRUE(ex.RunUntil([&] { return received.size() >= want; }, 10s));
        const auto body = CheckRtuFrame(ByteString(received.begin(), received.end()));
        ASSERT_TRUE(body.has_value()) << received.size();
        EXPECT_EQ(*body, c.reply);
    }
    com->SetActive(false);
}

// Raw TCP carries every byte value both ways unchanged.
TEST_F(NetComm, RawTcpCarriesAllByteValues) {
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    std::string heard;
    ScriptedServer server([&](int fd) {
        heard = ReadSome(fd, 256);
        SendAll(fd, std::string(heard.rbegin(), heard.rend()));
        ReadSome(fd, 1);  // until the client closes
    });
    Receive();
    OpenName(server.Name("tcp"));
    ASSERT_TRUE(com->Active());
    com->SendString(all);
    EXPECT_TRUE(ex.RunUntil([&] { return received.size() >= 256; }, 10s));
    EXPECT_EQ(received, std::string(all.rbegin(), all.rend()));
    com->SetActive(false);
    server.Stop();
    EXPECT_EQ(heard, all);
}

// Only the reply to the latest request is delivered; transaction ids count
// up from one request to the next.
TEST_F(NetComm, ModbusTcpDropsRepliesOfOtherTransactions) {
    std::vector<std::string> requests;
    ScriptedServer server([&](int fd) {
        for (int i = 0; i < 2; ++i) {
            const std::string req = ReadSome(fd, 12);
            requests.push_back(req);
            if (req.size() < 12) return;
            const uint8_t hi = uint8_t(req[0]), lo = uint8_t(req[1]);
            // A late reply to an older request, one with a protocol id of
            // its own (one frame, dropped whole), then the answer.
            std::string stale = {char(hi), char(lo - 1), 0, 0, 0, 5, 7, 3, 2, 0x11, 0x11};
            std::string reply = {char(hi), char(lo), 0,  0, 0,          9, 7,         3,
                                 6,        0,        10, 0, char(0xA1), 0, char(0xB3)};
            SendAll(fd, stale);
            SendAll(fd, reply);
        }
        ReadSome(fd, 1);
    });
    OpenName(server.Name("mbtcp"));
    ASSERT_TRUE(com->Active());
    rig = std::make_unique<EngineRig>(ex, *com);
    for (int i = 0; i < 2; ++i) {
        const ByteString id = rig->Identity(7);
        EXPECT_EQ(id, (ByteString{7, 3, 6, 0, 10, 0, 0xA1, 0, 0xB3})) << "request " << i;
    }
    com->SetActive(false);
    server.Stop();
    ASSERT_EQ(requests.size(), 2u);
    // Transaction, protocol 0, length 6, unit 7, function 3, registers 0-2.
    EXPECT_EQ(requests[0].substr(2), std::string("\0\0\0\x06\x07\x03\0\0\0\x03", 10));
    EXPECT_EQ(uint8_t(requests[1][1]), uint8_t(requests[0][1] + 1));
    auto* net = dynamic_cast<net::NetSerialDevice*>(
        &dynamic_cast<net::NetPortRouter&>(com->Device()).Current());
    ASSERT_NE(net, nullptr);
    EXPECT_EQ(net->StaleReplies(), 2u);
}

// An ASCII request cannot go through a Modbus TCP gateway: it is refused
// with a comm error that says why, and nothing reaches the gateway.
TEST_F(NetComm, ModbusTcpRefusesAsciiRequests) {
    std::string first;
    std::atomic<bool> read{false};  // first is complete (written by the server's thread)
    ScriptedServer server([&](int fd) {
        first = ReadSome(fd, 12);
        read = true;
        ReadSome(fd, 1);
    });
    std::vector<uint32_t> sysErrors;
    com->SetOnCommError(
        [&](TksBaseIO*, uint32_t, uint32_t sys, uint8_t, bool&) { sysErrors.push_back(sys); });
    OpenName(server.Name("mbtcp"));
    ASSERT_TRUE(com->Active());
    com->SendString(":0703000000037C\r\n");
    ASSERT_EQ(sysErrors, std::vector<uint32_t>{EPROTO});
    EXPECT_NE(com->Device().ErrorText(EPROTO).find("RTU only"), std::string::npos)
        << com->Device().ErrorText(EPROTO);
    EXPECT_TRUE(com->Active());  // a refused request is not a lost port
    const ByteString rtu = FrameRtu({7, 3, 0, 0, 0, 3});
    com->SendString(Str(rtu));
    // The server's thread may take its time to accept on a busy machine:
    // stopping it first would end it before it read anything.
    EXPECT_TRUE(ex.RunUntil([&] { return read.load(); }, 30s));
    com->SetActive(false);
    server.Stop();
    EXPECT_EQ(first, std::string("\0\x01\0\0\0\x06\x07\x03\0\0\0\x03", 12));
}

// The connection notices a dead server or a pulled cable by itself.
TEST_F(NetComm, KeepAliveAndNoDelayAreSet) {
    ScriptedServer server([](int fd) { ReadSome(fd, 1); });
    OpenName(server.Name("tcp"));
    ASSERT_TRUE(com->Active());
    const int fd = static_cast<int>(com->Handle());
    auto opt = [fd](int level, int name) {
        int v = -1;
        socklen_t len = sizeof v;
        EXPECT_EQ(::getsockopt(fd, level, name, &v, &len), 0);
        return v;
    };
    EXPECT_EQ(opt(IPPROTO_TCP, TCP_NODELAY), 1);
    EXPECT_EQ(opt(SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(opt(IPPROTO_TCP, TCP_KEEPIDLE), net::kKeepIdleS);
    EXPECT_EQ(opt(IPPROTO_TCP, TCP_KEEPINTVL), net::kKeepIntervalS);
    EXPECT_EQ(opt(IPPROTO_TCP, TCP_KEEPCNT), net::kKeepCount);
    EXPECT_EQ(opt(IPPROTO_TCP, TCP_USER_TIMEOUT), net::kUserTimeoutMs);
    com->SetActive(false);
}

// A server that goes away is one lost port: OnClose and csClosed once; the
// port opens again once the server is back on its address.
TEST_F(NetComm, DroppedConnectionIsLostOnceAndReopens) {
    for (NetServer::Mode mode : {NetServer::Mode::Raw, NetServer::Mode::ModbusTcp}) {
        auto server = StartServer(mode, {{16, 5, 3, sim::Protocol::Rtu}});
        ASSERT_NE(server, nullptr);
        const uint16_t port = server->Port();
        const std::string name = server->PortName();
        Make(nullptr);
        closes = closedNotices = 0;
        OpenName(name);
        ASSERT_TRUE(com->Active());
        rig = std::make_unique<EngineRig>(ex, *com);
        ASSERT_EQ(rig->Identity(5).size(), 9u);

        server.reset();  // the server's process ends: its sockets close
        ASSERT_TRUE(ex.RunUntil([&] { return !com->Active() && closes > 0; }, 30s)) << name;
        ex.RunFor(200ms);
        EXPECT_EQ(closes, 1) << name;
        EXPECT_EQ(closedNotices, 1) << name;

        server = StartServer(mode, {{16, 5, 3, sim::Protocol::Rtu}}, port);
        ASSERT_NE(server, nullptr);
        com->SetActive(true);
        ASSERT_TRUE(com->Active()) << name;
        EXPECT_EQ(rig->Identity(5).size(), 9u) << name;
        // The server ends the connection while staying up: lost as well.
        server->DropClient();
        ASSERT_TRUE(ex.RunUntil([&] { return !com->Active(); }, 30s)) << name;
        ex.RunFor(100ms);
        EXPECT_EQ(closes, 2) << name;
        rig.reset();
        com->SetActive(false);
    }
}

// What the server sent before it closed is delivered before the loss.
TEST_F(NetComm, BytesBeforeTheDropAreDelivered) {
    ScriptedServer server([](int fd) { SendAll(fd, "last words"); });
    bool closedBeforeData = false;
    com->SetOnClose([&](TksComponent*) {
        ++closes;
        closedBeforeData = received.size() < 10;
    });
    Receive();
    OpenName(server.Name("tcp"));
    ASSERT_TRUE(ex.RunUntil([&] { return closes > 0; }, 30s));
    EXPECT_EQ(received, "last words");
    EXPECT_FALSE(closedBeforeData);
}

// Bad names and unreachable servers fail to open with the reason in the
// open-failure message; the component stays closed.
TEST_F(NetComm, OpenFailuresSayWhy) {
    const uint16_t nobody = FreeLoopbackPort();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"tcp://127.0.0.1:" + std::to_string(nobody), "connection refused"},
        {"mbtcp://[::1]:" + std::to_string(nobody), "connection refused"},
        {"tcp://", "no port"},
        {"tcp://127.0.0.1", "no port"},
        {"tcp://127.0.0.1:0", "from 1 to 65535"},
        {"rfc2217://127.0.0.1:65536", "from 1 to 65535"},
        {"udp://127.0.0.1:502", "unknown scheme"},
        {"tcp://nosuchhost.invalid:502", "unknown host \"nosuchhost.invalid\""},
    };
    int number = 60;
    for (const auto& [name, reason] : cases) {
        ListNamedPort(*com, number, name);
        com->SetComPortNo(static_cast<uint16_t>(number));
        const std::string e = ErrorOf([&] { com->SetActive(true); });
        EXPECT_EQ(e.rfind("Device \"" + name + "\" Open Error !!!\r", 0), 0u) << e;
        EXPECT_NE(e.find(reason), std::string::npos) << name << ": " << e;
        EXPECT_FALSE(com->Active());
        ++number;
    }
}

// A server whose accept queue is full never completes the handshake: the
// open gives up after the connect time-out.
TEST_F(NetComm, ConnectTimesOut) {
    ScriptedServer server(nullptr, 0);  // backlog 0, never accepts
    // Fill the queue: connects complete until it is full.
    std::vector<int> fillers;
    for (int i = 0; i < 16; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(server.Port());
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(fd);
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 1000) == 0) break;  // this one hangs: the queue is full
    }
    net::NetSerialDevice::Options o;
    o.connectTimeoutMs = 500;
    Make(std::make_unique<net::NetPortRouter>(std::make_unique<posix::PosixSerialDevice>(), [o] {
        return std::make_unique<net::NetSerialDevice>(o);
    }));
    const auto start = std::chrono::steady_clock::now();
    const std::string e = ErrorOf([&] { OpenName(server.Name("tcp")); });
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_NE(e.find("timed out after 500 ms"), std::string::npos) << e;
    EXPECT_LT(took, 20s);  // gave up instead of hanging
    EXPECT_FALSE(com->Active());
    for (int fd : fillers) ::close(fd);
}

// A name server that does not answer fails the open within the connect
// time-out, and the open-failure message says so.
TEST_F(NetComm, HangingHostLookupFailsTheOpen) {
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    net::NetSerialDevice::Options o;
    o.connectTimeoutMs = 400;
    o.lookUp = [&](const std::string&, uint16_t) {
        std::unique_lock g(m);
        cv.wait(g, [&] { return release; });
        return net::HostLookupResult{};
    };
    Make(std::make_unique<net::NetPortRouter>(std::make_unique<posix::PosixSerialDevice>(), [o] {
        return std::make_unique<net::NetSerialDevice>(o);
    }));
    const std::string e = ErrorOf([&] { OpenName("tcp://plc.example:4001"); });
    EXPECT_EQ(e.rfind("Device \"tcp://plc.example:4001\" Open Error !!!\r", 0), 0u) << e;
    EXPECT_NE(e.find("looking up host \"plc.example\" took longer than 400 ms"), std::string::npos)
        << e;
    EXPECT_FALSE(com->Active());
    {
        std::lock_guard g(m);
        release = true;
    }
    cv.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (net::PendingLookups() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_EQ(net::PendingLookups(), 0);
}

// RFC 2217 servers that refuse the option, or do not answer it, fail to
// open with a message that says so.
TEST_F(NetComm, Rfc2217NegotiationFailures) {
    struct Case {
        std::string answer;  // what the server sends after reading the request
        std::string reason;
    };
    const std::vector<Case> cases = {
        {std::string("\xFF\xFE\x2C", 3), "refuses the COM port control option"},
        {std::string(), "no answer to the COM port control option"},
    };
    for (const Case& c : cases) {
        ScriptedServer server([&](int fd) {
            ReadSome(fd, 15);
            if (!c.answer.empty()) SendAll(fd, c.answer);
            ReadSome(fd, 1);
        });
        net::NetSerialDevice::Options o;
        o.connectTimeoutMs = 500;
        Make(std::make_unique<net::NetSerialDevice>(o));
        const std::string e = ErrorOf([&] { OpenName(server.Name("rfc2217")); });
        EXPECT_NE(e.find(c.reason), std::string::npos) << e;
        EXPECT_FALSE(com->Active());
    }
}

// With COM port control agreed, every line setting reaches the server at
// once, byte-exact, and 0xFF data is doubled.
TEST_F(NetComm, Rfc2217SendsLineSettingsAndEscapesData) {
    std::mutex m;  // heard is written by the server's thread
    std::string heard;
    auto Heard = [&] {
        std::lock_guard g(m);
        return heard;
    };
    std::atomic<bool> done{false};
    ScriptedServer server([&](int fd) {
        ReadSome(fd, 15);
        SendAll(fd, std::string("\xFF\xFD\x2C\xFF\xFD\x00\xFF\xFB\x00", 9));
        // Confirm every SET command as the server would.
        std::string pending;
        while (!done) {
            std::string got = ReadSome(fd, 1, 100ms);
            if (got.empty()) continue;
            {
                std::lock_guard g(m);
                heard += got;
            }
            pending += got;
            // A complete SET-xxx subnegotiation: IAC SB 44 cmd value IAC SE.
            const size_t se = pending.find("\xFF\xF0");
            if (se != std::string::npos && pending.size() > 4 && uint8_t(pending[0]) == 0xFF &&
                uint8_t(pending[1]) == 0xFA) {
                std::string ack = pending.substr(0, se + 2);
                ack[3] = static_cast<char>(uint8_t(ack[3]) + 100);
                SendAll(fd, ack);
                pending.erase(0, se + 2);
            } else if (uint8_t(pending[0]) != 0xFF) {
                pending.clear();  // data
            }
        }
    });
    OpenName(server.Name("rfc2217"));
    ASSERT_TRUE(com->Active());
    // The settings of the open, confirmed before SetActive returned.
    static const char kOpenLine[] =
        "\xFF\xFA\x2C\x01\x00\x00\x25\x80\xFF\xF0"  // 9600
        "\xFF\xFA\x2C\x02\x08\xFF\xF0"
        "\xFF\xFA\x2C\x03\x01\xFF\xF0"
        "\xFF\xFA\x2C\x04\x02\xFF\xF0"
        "\xFF\xFA\x2C\x05\x01\xFF\xF0";
    EXPECT_EQ(Heard(), std::string(kOpenLine, sizeof kOpenLine - 1));
    {
        std::lock_guard g(m);
        heard.clear();
    }
    com->SetBaudRate(19200);  // waits for the confirmation of all four
    static const char kSetLine[] =
        "\xFF\xFA\x2C\x01\x00\x00\x4B\x00\xFF\xF0"  // 19200
        "\xFF\xFA\x2C\x02\x08\xFF\xF0"
        "\xFF\xFA\x2C\x03\x01\xFF\xF0"
        "\xFF\xFA\x2C\x04\x02\xFF\xF0"
        "\xFF\xFA\x2C\x05\x01\xFF\xF0";
    const std::string setLine(kSetLine, sizeof kSetLine - 1);
    EXPECT_TRUE(ex.RunUntil([&] { return Heard().size() >= setLine.size(); }, 10s));
    EXPECT_EQ(Heard(), setLine);
    {
        std::lock_guard g(m);
        heard.clear();
    }
    com->SendString(std::string("\x01\xFF\x02", 3));
    EXPECT_TRUE(ex.RunUntil([&] { return Heard().size() >= 4; }, 10s));
    EXPECT_EQ(Heard(), std::string("\x01\xFF\xFF\x02", 4));
    com->SetActive(false);
    done = true;
    server.Stop();
}

// The component switches between a network port and a tty as it opens
// them by name, and the tty works as before.
TEST_F(NetComm, SameComponentOpensNetworkAndTtyPorts) {
    auto server = StartServer(NetServer::Mode::Raw, {{16, 5, 3, sim::Protocol::Rtu}});
    ASSERT_NE(server, nullptr);
    posix::Pty pty;
    ListNamedPort(*com, 3, pty.SlavePath());
    ListNamedPort(*com, 50, server->PortName());
    rig = std::make_unique<EngineRig>(ex, *com);
    for (int round = 0; round < 2; ++round) {
        com->SetComPortNo(50);
        com->SetActive(true);
        ASSERT_TRUE(com->Active());
        EXPECT_EQ(rig->Identity(5).size(), 9u);
        com->SetComPortNo(3);  // closes the network port, opens the tty
        ASSERT_TRUE(com->Active());
        com->SendString("ping");
        std::string got;
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (got.size() < 4 && std::chrono::steady_clock::now() < end) {
            char buf[16];
            const ssize_t r = ::read(pty.MasterFd(), buf, sizeof buf);
            if (r > 0) got.append(buf, static_cast<size_t>(r));
            ex.RunFor(5ms);
        }
        EXPECT_EQ(got, "ping");
        com->SetActive(false);
    }
}

}  // namespace
}  // namespace kelm::test
