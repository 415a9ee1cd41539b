// Host lookups within the connect time: a resolver that hangs is abandoned
// on time, a Close ends the wait, late results land safely, and a network
// port opens through the addresses a lookup gives, in turn. No real name
// servers are asked: the resolvers here are scripted.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "kelm-sim/NetServer.h"
#include "serial/net/HostLookup.h"
#include "serial/net/NetSerialDevice.h"

namespace kelm::net {
namespace {

using namespace std::chrono_literals;

// A resolver that blocks every lookup until Release(), as a name server that
// does not answer; it counts the lookups that have begun.
class HangingResolver {
  public:
    HostLookupFn Fn(HostLookupResult answer = {}) {
        return [this, answer](const std::string&, uint16_t) {
            std::unique_lock g(mutex_);
            ++entered_;
            changed_.notify_all();
            changed_.wait(g, [this] { return released_; });
            return answer;
        };
    }
    bool WaitEntered(int n) {
        std::unique_lock g(mutex_);
        return changed_.wait_for(g, 30s, [&] { return entered_ >= n; });
    }
    void Release() {
        {
            std::lock_guard g(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int entered_ = 0;
    bool released_ = false;
};

// Abandoned workers finish once released: wait (bounded) until none runs,
// so that one test's stuck lookups do not count against the next.
bool NoLookupPending() {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (PendingLookups() != 0) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

HostLookupResult Found(std::vector<std::string> addresses) {
    HostLookupResult r;
    r.addresses = std::move(addresses);
    return r;
}

TEST(HostLookup, ResultsOfTheResolverPassThrough) {
    struct Case {
        const char* what;
        HostLookupFn fn;
        int error;
        std::string reason;
        std::vector<std::string> addresses;
    };
    HostLookupResult refused;
    refused.error = EADDRNOTAVAIL;
    refused.reason = "unknown host \"x.example\" (Temporary failure in name resolution)";
    HostLookupResult bare;
    bare.error = EADDRNOTAVAIL;
    const std::vector<Case> cases = {
        {"found",
         [](const std::string&, uint16_t) {
             return Found({"::1", "127.0.0.1"});
         },
         0,
         "",
         {"::1", "127.0.0.1"}},
        {"failed",
         [refused](const std::string&, uint16_t) { return refused; },
         EADDRNOTAVAIL,
         refused.reason,
         {}},
        {"failed without words",
         [bare](const std::string&, uint16_t) { return bare; },
         EADDRNOTAVAIL,
         "unknown host \"x.example\"",
         {}},
        {"no address",
         [](const std::string&, uint16_t) { return Found({}); },
         EADDRNOTAVAIL,
         "unknown host \"x.example\"",
         {}},
        {"throws",
         [](const std::string&, uint16_t) -> HostLookupResult {
             throw std::runtime_error("resolver broken");
         },
         EFAULT,
         "the lookup failed: resolver broken",
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // A generous limit: these answer at once, and a slow machine must not
        // turn them into time-outs.
        const HostLookupResult r = LookUpWithin(c.fn, "x.example", 502, 30000);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.reason, c.reason);
        EXPECT_EQ(r.addresses, c.addresses);
    }
    EXPECT_TRUE(NoLookupPending());
}

TEST(HostLookup, TheResolverGetsHostAndPort) {
    std::string host;
    uint16_t port = 0;
    const auto r = LookUpWithin(
        [&](const std::string& h, uint16_t p) {
            host = h;
            port = p;
            return Found({"10.0.0.7"});
        },
        "gateway.plant", 4001, 30000);
    ASSERT_EQ(r.error, 0) << r.reason;
    EXPECT_EQ(host, "gateway.plant");  // read after the worker finished: it signalled done
    EXPECT_EQ(port, 4001);
    EXPECT_TRUE(NoLookupPending());
}

// The caller comes back after the time-out while the resolver still hangs;
// the worker's late answer then goes nowhere and harms nothing.
TEST(HostLookup, AHangingResolverIsAbandonedOnTime) {
    HangingResolver resolver;
    const HostLookupResult r =
        LookUpWithin(resolver.Fn(Found({"127.0.0.1"})), "slow.example", 502, 200);
    EXPECT_EQ(r.error, ETIMEDOUT);
    EXPECT_EQ(r.reason, "looking up host \"slow.example\" took longer than 200 ms");
    EXPECT_TRUE(r.addresses.empty());
    EXPECT_EQ(PendingLookups(), 1);  // still stuck in the resolver
    resolver.Release();
    EXPECT_TRUE(NoLookupPending());

    HangingResolver whole;
    EXPECT_EQ(LookUpWithin(whole.Fn(), "slow.example", 502, 1000).reason,
              "looking up host \"slow.example\" took longer than 1 s");
    whole.Release();
    EXPECT_TRUE(NoLookupPending());
}

// Stuck lookups are capped: beyond the cap a lookup is refused at once
// instead of leaving yet another thread behind; once they end, lookups work.
TEST(HostLookup, StuckLookupsAreCapped) {
    HangingResolver resolver;
    for (int i = 0; i < kMaxPendingLookups; ++i)
        EXPECT_EQ(LookUpWithin(resolver.Fn(), "slow.example", 502, 0).error, ETIMEDOUT);
    EXPECT_EQ(PendingLookups(), kMaxPendingLookups);
    bool called = false;
    const auto refused = LookUpWithin(
        [&](const std::string&, uint16_t) {
            called = true;
            return Found({"127.0.0.1"});
        },
        "fast.example", 502, 30000);
    EXPECT_EQ(refused.error, EAGAIN);
    EXPECT_NE(refused.reason.find("earlier lookups are still waiting"), std::string::npos);
    EXPECT_FALSE(called);
    resolver.Release();
    ASSERT_TRUE(NoLookupPending());
    EXPECT_EQ(LookUpWithin([](const std::string&, uint16_t) { return Found({"127.0.0.1"}); },
                           "fast.example", 502, 30000)
                  .error,
              0);
}

// Cancel from another thread ends a wait far shorter than its limit; a
// cancel object stays cancelled until Reset.
TEST(HostLookup, CancelEndsTheWait) {
    HangingResolver resolver;
    HostLookupCancel cancel;
    std::thread canceller([&] {
        if (resolver.WaitEntered(1)) cancel.Cancel();
    });
    const auto r = LookUpWithin(resolver.Fn(), "slow.example", 502, 600000, &cancel);
    canceller.join();
    EXPECT_EQ(r.error, ECANCELED);
    EXPECT_EQ(LookUpWithin(resolver.Fn(), "slow.example", 502, 600000, &cancel).error, ECANCELED);
    cancel.Reset();
    resolver.Release();
    EXPECT_EQ(LookUpWithin(resolver.Fn(Found({"::1"})), "slow.example", 502, 30000, &cancel).error,
              0);
    EXPECT_TRUE(NoLookupPending());
}

// Many threads looking up and cancelling at once (run under the thread
// sanitizer too).
TEST(HostLookup, ConcurrentLookupsAndCancels) {
    HangingResolver resolver;
    std::vector<std::thread> threads;
    std::vector<HostLookupCancel> cancels(4);
    std::vector<int> errors(4, -1);
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&, i] {
            errors[static_cast<size_t>(i)] =
                LookUpWithin(resolver.Fn(), "slow.example", 502, 600000, &cancels[i]).error;
        });
    ASSERT_TRUE(resolver.WaitEntered(4));
    for (auto& c : cancels) c.Cancel();
    for (auto& t : threads) t.join();
    for (int e : errors) EXPECT_EQ(e, ECANCELED);
    resolver.Release();
    EXPECT_TRUE(NoLookupPending());
}

// The device: the open-failure text says why; the addresses of a lookup are
// tried in turn; Close ends an open that waits for a lookup.
class LookupDevice : public ::testing::Test {
  protected:
    void TearDown() override {
        if (server_) server_->Stop();
    }
    void StartServer() {
        sim::NetServer::Config config;
        sim::ModuleConfig m;
        m.typeCode = 12;
        m.address = 3;
        config.modules.push_back(m);
        std::string error;
        server_ = sim::NetServer::Create(std::move(config), &error);
        ASSERT_TRUE(server_) << error;
        server_->Start();
    }
    std::unique_ptr<sim::NetServer> server_;
};

TEST_F(LookupDevice, HangingLookupFailsTheOpenWithTheReason) {
    HangingResolver resolver;
    NetSerialDevice::Options o;
    o.connectTimeoutMs = 300;
    o.lookUp = resolver.Fn(Found({"127.0.0.1"}));
    NetSerialDevice device(o);
    EXPECT_EQ(device.Open("tcp://plc.example:4001"), ETIMEDOUT);
    EXPECT_EQ(device.ErrorText(ETIMEDOUT),
              "looking up host \"plc.example\" took longer than 300 ms");
    EXPECT_FALSE(device.IsOpen());
    resolver.Release();
    EXPECT_TRUE(NoLookupPending());
}

TEST_F(LookupDevice, AddressesAreTriedInTurn) {
    StartServer();
    std::string asked;
    NetSerialDevice::Options o;
    o.connectTimeoutMs = 30000;
    // 127.0.0.2 is loopback too, but the server listens on 127.0.0.1 alone:
    // the first address refuses, the second connects.
    o.lookUp = [&asked](const std::string& host, uint16_t) {
        asked = host;
        return Found({"127.0.0.2", "127.0.0.1"});
    };
    NetSerialDevice device(o);
    const std::string name = "tcp://sim.example:" + std::to_string(server_->Port());
    ASSERT_EQ(device.Open(name), 0) << device.ErrorText(device.LastError());
    EXPECT_EQ(asked, "sim.example");
    EXPECT_TRUE(device.IsOpen());
    EXPECT_TRUE(device.Close());

    // Every address refuses: the last reason is the message.
    o.lookUp = [](const std::string&, uint16_t) { return Found({"127.0.0.2", "127.0.0.3"}); };
    NetSerialDevice refused(o);
    EXPECT_EQ(refused.Open(name), ECONNREFUSED);
    EXPECT_EQ(refused.ErrorText(ECONNREFUSED), "connection refused");
    EXPECT_TRUE(NoLookupPending());
}

TEST_F(LookupDevice, CloseEndsAnOpenWaitingForTheLookup) {
    HangingResolver resolver;
    NetSerialDevice::Options o;
    o.connectTimeoutMs = 600000;  // only the Close can end this wait
    o.lookUp = resolver.Fn(Found({"127.0.0.1"}));
    NetSerialDevice device(o);
    int opened = -1;
    std::thread opener([&] { opened = device.Open("tcp://plc.example:4001"); });
    ASSERT_TRUE(resolver.WaitEntered(1));
    EXPECT_FALSE(device.Close());  // nothing was open
    opener.join();
    EXPECT_EQ(opened, ECANCELED);
    EXPECT_FALSE(device.IsOpen());
    resolver.Release();
    ASSERT_TRUE(NoLookupPending());

    // The device opens again afterwards: the cancel does not stick.
    StartServer();
    o.lookUp = [](const std::string&, uint16_t) { return Found({"127.0.0.1"}); };
    NetSerialDevice again(o);
    EXPECT_FALSE(again.Close());  // a Close before any open leaves no cancel behind
    EXPECT_EQ(again.Open("tcp://plc.example:" + std::to_string(server_->Port())), 0);
}

}  // namespace
}  // namespace kelm::net
