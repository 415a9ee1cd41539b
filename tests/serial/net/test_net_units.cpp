// The pure parts of the network ports: port names, the Telnet COM port
// control session and the Modbus TCP framing, byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/Checks.h"
#include "serial/net/Mbap.h"
#include "serial/net/NetAddress.h"
#include "serial/net/Telnet.h"

namespace kelm::net {
namespace {

std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s.push_back(static_cast<char>(b));
    return s;
}

std::string Hex(const std::string& s) {
    static const char* d = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (!out.empty()) out += ' ';
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}

const uint8_t* U(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

TEST(NetAddress, ParsesAndRefuses) {
    struct Case {
        const char* name;
        bool ok;
        NetKind kind;
        const char* host;
        uint16_t port;
        const char* error;  // part of the message
    };
    const std::vector<Case> cases = {
        {"tcp://127.0.0.1:4001", true, NetKind::Tcp, "127.0.0.1", 4001, ""},
        {"TCP://gw.plant.local:23/", true, NetKind::Tcp, "gw.plant.local", 23, ""},
        {"rfc2217://10.0.0.5:2217", true, NetKind::Rfc2217, "10.0.0.5", 2217, ""},
        {"mbtcp://[::1]:502", true, NetKind::ModbusTcp, "::1", 502, ""},
        {"mbtcp://[fe80::1%eth0]:65535", true, NetKind::ModbusTcp, "fe80::1%eth0", 65535, ""},
        {"tcp://", false, NetKind::Tcp, "", 0, "no port"},
        {"tcp://127.0.0.1", false, NetKind::Tcp, "", 0, "no port"},
        {"tcp://127.0.0.1:", false, NetKind::Tcp, "", 0, "no port"},
        {"tcp://:502", false, NetKind::Tcp, "", 0, "no host"},
        {"tcp://127.0.0.1:0", false, NetKind::Tcp, "", 0, "from 1 to 65535"},
        {"tcp://127.0.0.1:65536", false, NetKind::Tcp, "", 0, "from 1 to 65535"},
        {"tcp://127.0.0.1:123456", false, NetKind::Tcp, "", 0, "from 1 to 65535"},
        {"tcp://127.0.0.1:-1", false, NetKind::Tcp, "", 0, "from 1 to 65535"},
        {"tcp://127.0.0.1:50x", false, NetKind::Tcp, "", 0, "from 1 to 65535"},
        {"tcp://::1:502", false, NetKind::Tcp, "", 0, "brackets"},
        {"tcp://[::1:502", false, NetKind::Tcp, "", 0, "closing bracket"},
        {"tcp://[::1]502", false, NetKind::Tcp, "", 0, "no port"},
        {"tcp://my host:502", false, NetKind::Tcp, "", 0, "blanks"},
        {"udp://127.0.0.1:502", false, NetKind::Tcp, "", 0, "unknown scheme \"udp\""},
        {"://127.0.0.1:502", false, NetKind::Tcp, "", 0, "unknown scheme"},
        {"/dev/ttyUSB0", false, NetKind::Tcp, "", 0, "not a network port"},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto a = ParseNetAddress(c.name, &error);
        EXPECT_EQ(a.has_value(), c.ok) << c.name << ": " << error;
        if (c.ok && a) {
            EXPECT_EQ(a->kind, c.kind) << c.name;
            EXPECT_EQ(a->host, c.host) << c.name;
            EXPECT_EQ(a->port, c.port) << c.name;
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
            EXPECT_NE(error.find(c.name), std::string::npos)
                << "the message names the port: " << error;
        }
    }
}

TEST(NetAddress, NetworkNamesAndCanonicalForm) {
    EXPECT_TRUE(IsNetworkPortName("tcp://x:1"));
    EXPECT_TRUE(IsNetworkPortName("bogus://"));
    EXPECT_FALSE(IsNetworkPortName("/dev/ttyUSB0"));
    EXPECT_FALSE(IsNetworkPortName("COM3"));
    EXPECT_EQ(FormatNetAddress({NetKind::ModbusTcp, "::1", 502}), "mbtcp://[::1]:502");
    EXPECT_EQ(FormatNetAddress({NetKind::Rfc2217, "10.0.0.5", 2217}), "rfc2217://10.0.0.5:2217");
    // The simulator's listening address may take port 0.
    EXPECT_TRUE(ParseHostPort("127.0.0.1:0", true).has_value());
    EXPECT_FALSE(ParseHostPort("127.0.0.1:0", false).has_value());
}

TEST(Telnet, StartAsksForBinaryAndComPortControl) {
    TelnetClient t;
    EXPECT_EQ(Hex(t.Start()), "FF FB 00 FF FD 00 FF FB 03 FF FD 03 FF FB 2C");
    EXPECT_EQ(t.comPort(), TelnetClient::ComPortState::Asked);
}

TEST(Telnet, AnswersNegotiation) {
    // What the server sends, and what the client answers, after Start().
    struct Case {
        std::string in;
        std::string reply;
        std::string data;
    };
    const std::vector<Case> cases = {
        // Answers to our own requests get no answer back.
        {B({255, 253, 0, 255, 251, 0, 255, 253, 44}), "", ""},
        // ECHO is refused (the server would send our requests back).
        {B({255, 251, 1}), B({255, 254, 1}), ""},
        // An unknown option asked of us is refused.
        {B({255, 253, 24}), B({255, 252, 24}), ""},
        // 0xFF data is doubled on the wire; NOP and GA are skipped.
        {B({1, 255, 255, 2, 255, 241, 3, 255, 249}), "", B({1, 255, 2, 3})},
        // A subnegotiation in the middle of data takes nothing from it.
        {B({0x10, 255, 250, 44, 107, 0x30, 255, 240, 0x11}), "", B({0x10, 0x11})},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        TelnetClient t;
        t.Start();
        std::string data, reply;
        t.Feed(U(cases[i].in), cases[i].in.size(), &data, &reply);
        EXPECT_EQ(Hex(reply), Hex(cases[i].reply)) << "case " << i;
        EXPECT_EQ(Hex(data), Hex(cases[i].data)) << "case " << i;
    }
}

TEST(Telnet, FeedSplitAnywhereGivesTheSameResult) {
    const std::string in = B({0x01, 255, 255, 255, 250,  44,   101, 0,   0,  255, 255,
                              255,  255, 255, 240, 0x0D, 0x00, 255, 253, 44, 0x02});
    TelnetClient whole;
    whole.Start();
    std::string d1, r1;
    whole.Feed(U(in), in.size(), &d1, &r1);
    for (size_t cut = 1; cut < in.size(); ++cut) {
        TelnetClient t;
        t.Start();
        std::string d, r;
        t.Feed(U(in), cut, &d, &r);
        t.Feed(U(in) + cut, in.size() - cut, &d, &r);
        EXPECT_EQ(Hex(d), Hex(d1)) << "cut " << cut;
        EXPECT_EQ(t.serverLine().baud, 0xFFFFu) << "cut " << cut;
        EXPECT_EQ(t.comPort(), TelnetClient::ComPortState::Accepted);
    }
    // Before binary was agreed, the server's CR NUL is a plain CR.
    EXPECT_EQ(Hex(d1), "01 FF 0D 02");
}

TEST(Telnet, ComPortRefusedOrAcknowledged) {
    TelnetClient t;
    t.Start();
    std::string d, r;
    const std::string refuse = B({255, 254, 44});
    t.Feed(U(refuse), refuse.size(), &d, &r);
    EXPECT_EQ(t.comPort(), TelnetClient::ComPortState::Refused);
    EXPECT_EQ(r, "");

    TelnetClient a;
    a.Start();
    const std::string acks =
        B({255, 253, 44, 255, 250,  44,  101, 0, 0, 0x4B, 0, 255, 240,  // 19200
           255, 250, 44, 102, 7,    255, 240,                           //
           255, 250, 44, 103, 3,    255, 240,                           //
           255, 250, 44, 104, 1,    255, 240,                           //
           255, 250, 44, 107, 0x90, 255, 240});
    a.Feed(U(acks), acks.size(), &d, &r);
    EXPECT_EQ(a.lineAcks(), 4u);
    EXPECT_EQ(a.serverLine(), (Rfc2217Line{19200, 7, telnet::kParityEven, telnet::kStop1}));
    EXPECT_EQ(a.modemState(), 0x90);
    EXPECT_EQ(a.TakeModemChanges(), 0x90);
    EXPECT_EQ(a.TakeModemChanges(), 0);
}

TEST(Telnet, SetLineCommandsByteExact) {
    // A baud rate with 0xFF in it has that byte doubled inside the
    // subnegotiation.
    const std::string s = TelnetClient::SetLineCommands(
        {0x0001C2FF, 8, telnet::kParityNone, telnet::kStop2}, telnet::kFlowNone);
    EXPECT_EQ(Hex(s),
              "FF FA 2C 01 00 01 C2 FF FF FF F0 "
              "FF FA 2C 02 08 FF F0 "
              "FF FA 2C 03 01 FF F0 "
              "FF FA 2C 04 02 FF F0 "
              "FF FA 2C 05 01 FF F0");
}

TEST(Telnet, EscapesData) {
    TelnetClient t;
    t.Start();
    const std::string data = B({0x01, 0xFF, 0x0D, 0x0A, 0xFF, 0xFF});
    // Until the server agrees to binary, CR goes as CR NUL.
    EXPECT_EQ(Hex(t.EscapeData(U(data), data.size())), "01 FF FF 0D 00 0A FF FF FF FF");
    std::string d, r;
    const std::string doBinary = B({255, 253, 0});
    t.Feed(U(doBinary), doBinary.size(), &d, &r);
    EXPECT_EQ(Hex(t.EscapeData(U(data), data.size())), "01 FF FF 0D 0A FF FF FF FF");
}

TEST(Mbap, RtuRequestToMbapByteExact) {
    const ByteString body = {0x07, 0x03, 0x00, 0x00, 0x00, 0x03};
    const ByteString rtu = FrameRtu(body);  // the engine's own framing
    const auto m = RtuToMbap(rtu.data(), rtu.size(), 0x1234);
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(Hex(*m), "12 34 00 00 00 06 07 03 00 00 00 03");
    // A write of several registers keeps its PDU whole.
    const ByteString w =
        FrameRtu({0x05, 0x10, 0x00, 0x03, 0x00, 0x02, 0x04, 0x00, 0x0B, 0xFF, 0x01});
    EXPECT_EQ(Hex(*RtuToMbap(w.data(), w.size(), 0xFFFF)),
              "FF FF 00 00 00 0B 05 10 00 03 00 02 04 00 0B FF 01");
}

TEST(Mbap, RefusesWhatIsNotOneRtuFrame) {
    ByteString rtu = FrameRtu({0x07, 0x03, 0x00, 0x00, 0x00, 0x03});
    rtu.back() ^= 1;
    const std::string ascii = ":0703000000037C\r\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"bad CRC", std::string(rtu.begin(), rtu.end())},
        {"ASCII", ascii},
        {"too short", B({0x07, 0x03, 0x41})},
        {"empty", ""},
        {"too long", std::string(300, '\x01')},
    };
    for (const auto& [what, bytes] : cases)
        EXPECT_FALSE(RtuToMbap(U(bytes), bytes.size(), 1).has_value()) << what;
}

TEST(Mbap, ReaderAssemblesSplitFramesAndDropsBadHeaders) {
    MbapReader r;
    const std::string f1 = B({0, 1, 0, 0, 0, 5, 7, 3, 2, 0, 11});
    const std::string f2 = B({0, 2, 0, 0, 0, 3, 7, 0x83, 2});
    const std::string both = f1 + f2;
    for (char c : both) r.Feed(reinterpret_cast<const uint8_t*>(&c), 1);
    auto a = r.Next();
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->transaction, 1);
    EXPECT_EQ(a->unit, 7);
    EXPECT_EQ(Hex(a->pdu), "03 02 00 0B");
    auto b = r.Next();
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(b->transaction, 2);
    EXPECT_EQ(Hex(b->pdu), "83 02");
    EXPECT_FALSE(r.Next().has_value());

    // A protocol id other than 0, or a length outside 2..254, drops the stream.
    for (const std::string& bad :
         {B({0, 3, 0, 1, 0, 3, 7, 3, 0}), B({0, 3, 0, 0, 0, 1, 7}), B({0, 3, 0, 0, 1, 0, 7})}) {
        MbapReader q;
        q.Feed(U(bad), bad.size());
        EXPECT_FALSE(q.Next().has_value());
        EXPECT_EQ(q.dropped(), bad.size());
        q.Feed(U(f1), f1.size());  // the next frame is read again
        EXPECT_TRUE(q.Next().has_value());
    }
    // A frame claiming more than it carries waits for the rest.
    MbapReader w;
    const std::string partial = B({0, 4, 0, 0, 0, 40, 7, 3, 36});
    w.Feed(U(partial), partial.size());
    EXPECT_FALSE(w.Next().has_value());
    EXPECT_EQ(w.dropped(), 0u);
}

TEST(Mbap, ReplyToRtuCarriesTheEnginesCrc) {
    const std::string pdu = B({0x03, 0x06, 0x00, 0x0B, 0x00, 0xA1, 0x00, 0xB3});
    const std::string rtu = MbapToRtu(7, pdu);
    const ByteString frame(rtu.begin(), rtu.end());
    const auto checked = CheckRtuFrame(frame);
    ASSERT_TRUE(checked.has_value());
    EXPECT_EQ(Hex(std::string(checked->begin(), checked->end())), "07 " + Hex(pdu));
    for (const std::string& s : {std::string("123456789"), std::string(1, '\0')})
        EXPECT_EQ(Crc16Modbus(U(s), s.size()),
                  Calculate_CRC16_Modbus(U(s), static_cast<uint16_t>(s.size())));
}

}  // namespace
}  // namespace kelm::net
