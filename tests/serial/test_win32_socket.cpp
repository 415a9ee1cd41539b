// The network ports' winsock backend under wine, against a listening socket
// of the test on the loopback: connect and its failures, readiness, wake-up
// and cancel, end of stream, a reset connection, and large sends.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2 before windows.h (which the serial headers bring in).
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "serial/net/Socket.h"

using namespace kelm::net;
using namespace std::chrono_literals;

namespace {

// Generous bounds for waits that end as soon as their condition holds.
constexpr int kLongMs = 20000;

class Listener {
  public:
    Listener() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        s_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int len = sizeof a;
        ok_ = s_ != INVALID_SOCKET && ::bind(s_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
              ::getsockname(s_, reinterpret_cast<sockaddr*>(&a), &len) == 0 && ::listen(s_, 4) == 0;
        port_ = ntohs(a.sin_port);
    }
    ~Listener() {
        if (peer_ != INVALID_SOCKET) ::closesocket(peer_);
        if (s_ != INVALID_SOCKET) ::closesocket(s_);
    }
    bool ok() const { return ok_; }
    uint16_t port() const { return port_; }
    // The connection the client made (blocking; the client has connected).
    SOCKET Accept() {
        peer_ = ::accept(s_, nullptr, nullptr);
        return peer_;
    }
    void SendAll(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const int r =
                ::send(peer_, bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
            ASSERT_GT(r, 0);
            done += static_cast<size_t>(r);
        }
    }
    // Ends the connection with a reset rather than an orderly close.
    void Reset() {
        linger l{1, 0};
        ::setsockopt(peer_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
        ::closesocket(peer_);
        peer_ = INVALID_SOCKET;
    }
    void Close() {
        ::shutdown(peer_, SD_SEND);
        ::closesocket(peer_);
        peer_ = INVALID_SOCKET;
    }
    SOCKET peer() const { return peer_; }

  private:
    SOCKET s_ = INVALID_SOCKET;
    SOCKET peer_ = INVALID_SOCKET;
    uint16_t port_ = 0;
    bool ok_ = false;
};

// Reads until n bytes have come or the connection ends (bounded by the
// Wait time-out).
std::string ReceiveAll(ISocket& sock, size_t n) {
    std::string got;
    while (got.size() < n) {
        if (sock.Wait(true, false, kLongMs) != ISocket::Ready::Readable) break;
        uint8_t buf[4096];
        int error = 0;
        const long r = sock.Receive(buf, sizeof buf, &error);
        if (r == 0 || (r < 0 && error != EAGAIN)) break;
        if (r > 0) got.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(r));
    }
    return got;
}

struct Connected {
    Listener server;
    std::unique_ptr<ISocket> sock = CreateSocket();
    std::string reason;
    int result = -1;
    Connected() {
        if (!server.ok()) return;
        result = sock->Connect("127.0.0.1", server.port(), kDefaultConnectTimeoutMs, &reason);
        if (result == 0) server.Accept();
    }
};

TEST(Win32Socket, ConnectsReceivesAndSeesNothingMoreAsEagain) {
    Connected c;
    ASSERT_TRUE(c.server.ok());
    ASSERT_EQ(c.result, 0) << c.reason;
    EXPECT_TRUE(c.sock->IsOpen());
    EXPECT_NE(c.sock->Handle(), -1);
    uint8_t buf[16];
    int error = 0;
    EXPECT_EQ(c.sock->Receive(buf, sizeof buf, &error), -1);
    EXPECT_EQ(error, EAGAIN);
    EXPECT_EQ(c.sock->Wait(true, true, 0), ISocket::Ready::Timeout);

    c.server.SendAll(std::string("\x01\x03\x00\x10", 4));
    EXPECT_EQ(ReceiveAll(*c.sock, 4), std::string("\x01\x03\x00\x10", 4));
    error = 0;
    EXPECT_EQ(c.sock->Receive(buf, sizeof buf, &error), -1);
    EXPECT_EQ(error, EAGAIN);
}

TEST(Win32Socket, SendsLargeBlocksWholeAndInOrder) {
    Connected c;
    ASSERT_EQ(c.result, 0) << c.reason;
    std::string block(3 << 20, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + (i >> 12));
    // The reader is slower than the sender: the send waits for room.
    std::string got;
    std::thread reader([&] {
        while (got.size() < block.size()) {
            char buf[4096];
            const int n = ::recv(c.server.peer(), buf, sizeof buf, 0);
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
        }
    });
    int error = 0;
    const bool ok = c.sock->SendAll(reinterpret_cast<const uint8_t*>(block.data()), block.size(),
                                    kLongMs, &error);
    if (!ok) c.sock->Close();  // the reader sees the end
    reader.join();
    EXPECT_TRUE(ok) << error;
    EXPECT_TRUE(got == block) << got.size() << " of " << block.size() << " bytes";
}

TEST(Win32Socket, WakeEndsOneWaitAndIsConsumed) {
    Connected c;
    ASSERT_EQ(c.result, 0) << c.reason;
    std::thread waker([&] { c.sock->Wake(); });
    EXPECT_EQ(c.sock->Wait(true, true, kLongMs), ISocket::Ready::Woken);
    waker.join();
    EXPECT_EQ(c.sock->Wait(true, true, 0), ISocket::Ready::Timeout);
    // Unwatched, a wake-up waits for the next wait that watches it.
    c.sock->Wake();
    EXPECT_EQ(c.sock->Wait(true, false, 0), ISocket::Ready::Timeout);
    EXPECT_EQ(c.sock->Wait(false, true, kLongMs), ISocket::Ready::Woken);
}

TEST(Win32Socket, CancelEndsEveryWaitUntilCleared) {
    Connected c;
    ASSERT_EQ(c.result, 0) << c.reason;
    std::vector<std::thread> waiters;
    std::atomic<int> cancelled{0};
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&, i] {
            if (c.sock->Wait(true, i == 0, kLongMs) == ISocket::Ready::Cancelled) ++cancelled;
        });
    c.sock->Cancel();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(cancelled, 3);
    EXPECT_EQ(c.sock->Wait(false, false, kLongMs), ISocket::Ready::Cancelled);
    c.sock->ClearCancel();
    EXPECT_EQ(c.sock->Wait(true, true, 0), ISocket::Ready::Timeout);
}

// Two threads waiting on the socket both see the data (the event thread and
// a reader do so).
TEST(Win32Socket, EveryWaiterSeesTheSocketReadable) {
    Connected c;
    ASSERT_EQ(c.result, 0) << c.reason;
    std::atomic<int> readable{0};
    std::thread a(
        [&] { readable += c.sock->Wait(true, true, kLongMs) == ISocket::Ready::Readable; });
    std::thread b(
        [&] { readable += c.sock->Wait(true, false, kLongMs) == ISocket::Ready::Readable; });
    c.server.SendAll("x");
    a.join();
    b.join();
    EXPECT_EQ(readable, 2);
}

TEST(Win32Socket, EndOfStreamAndResetAreTold) {
    {
        Connected c;
        ASSERT_EQ(c.result, 0) << c.reason;
        c.server.SendAll("last");
        c.server.Close();
        EXPECT_EQ(ReceiveAll(*c.sock, 100), "last");
        uint8_t buf[8];
        int error = 0;
        EXPECT_EQ(c.sock->Receive(buf, sizeof buf, &error), 0);
    }
    {
        Connected c;
        ASSERT_EQ(c.result, 0) << c.reason;
        c.server.Reset();
        ASSERT_EQ(c.sock->Wait(true, false, kLongMs), ISocket::Ready::Readable);
        // A reset reads as ECONNRESET on Windows; wine may pass it on as the
        // end of the stream. Either way the connection is gone.
        uint8_t buf[8];
        int error = 0;
        const long r = c.sock->Receive(buf, sizeof buf, &error);
        EXPECT_TRUE(r == 0 || (r == -1 && IsConnectionLost(error))) << r << " " << error;
    }
}

TEST(Win32Socket, ARefusedConnectSaysSo) {
    uint16_t port = 0;
    {
        Listener gone;
        ASSERT_TRUE(gone.ok());
        port = gone.port();
    }
    auto sock = CreateSocket();
    std::string reason;
    const int e = sock->Connect("127.0.0.1", port, kDefaultConnectTimeoutMs, &reason);
    EXPECT_EQ(e, ECONNREFUSED);
    EXPECT_EQ(reason, "connection refused");
    EXPECT_FALSE(sock->IsOpen());
    EXPECT_EQ(sock->ErrorText(e), "Connection refused");
    EXPECT_FALSE(IsConnectionLost(EAGAIN));
}

TEST(Win32Socket, ErrorTextsAreLinuxs) {
    const auto sock = CreateSocket();
    const struct {
        int code;
        const char* text;
    } cases[] = {
        {ECONNREFUSED, "Connection refused"},
        {ECONNRESET, "Connection reset by peer"},
        {ETIMEDOUT, "Connection timed out"},
        {EPIPE, "Broken pipe"},
        {ECANCELED, "Operation canceled"},
        {EHOSTUNREACH, "No route to host"},
        {EADDRNOTAVAIL, "Cannot assign requested address"},
    };
    for (const auto& c : cases) EXPECT_EQ(sock->ErrorText(c.code), c.text) << c.code;
    // A winsock code without an errno twin keeps the system's words.
    EXPECT_FALSE(sock->ErrorText(WSAEPROVIDERFAILEDINIT).empty());
}

}  // namespace
