// The engine is confined to one thread per instance. These cases check that
// instances share nothing hidden (tables, caches) when several run at once,
// and the hand-over the serial component does: bytes read on another thread
// reach the master only through a locked queue drained on the owning thread.
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "MasterFixture.h"

namespace kelm::test {
namespace {

// Runs `frames` replies through a master of its own and returns how many
// reached the model handler intact.
int RunOwnMaster(int seed, int frames) {
    RecordingSink sink;
    RecordingStatus status;
    FixedProtocol protocol(seed % 2);
    ManualTimer timer;
    ModbusMaster master(sink, status, protocol, timer);
    master.State().Node_Device_ID = static_cast<std::uint8_t>(1 + seed);
    master.State().Node_Device_Name = std::string(kelm::Models()[seed % 8].name);
    int good = 0;
    for (std::string_view name : kReplyHandlerNames) {
        master.SetReplyHandler(name, [&](std::uint16_t cmd, const Frame& f) {
            if (cmd == 3 && f[0] == 1 + seed && f.word(3) == f.word(5)) ++good;
        });
    }
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        const ByteString body{static_cast<std::uint8_t>(1 + seed), 3, 4, v, v, v, v};
        const ByteString wire = protocol.index == 0 ? FrameRtu(body) : FrameAscii(body);
        master.ksComm1AfterReceive(wire.data(), static_cast<std::uint32_t>(wire.size()));
        timer.Tick(11);
        master.Modbus_Send_oneWord(3, static_cast<std::uint16_t>(i), 2);
    }
    return good;
}

TEST(EngineThreads, IndependentMastersOnSeveralThreads) {
    constexpr int kThreads = 6;
    constexpr int kFrames = 3000;
    int results[kThreads] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&results, t] { results[t] = RunOwnMaster(t, kFrames); });
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(results[t], kFrames) << "thread " << t;
}

// What a reader thread hands to the owning thread: bytes, or the news that the
// line has gone quiet (so many timer periods passed).
struct Delivery {
    ByteString bytes;
    int silentTicks = 0;
    bool last = false;
};

// A queue guarded by one mutex; the owning thread waits on the condition
// variable and is the only one that touches the master.
class HandOver {
  public:
    void Push(Delivery d) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(std::move(d));
        }
        cv_.notify_one();
    }
    Delivery Pop() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return !queue_.empty(); });
        Delivery d = std::move(queue_.front());
        queue_.pop_front();
        return d;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Delivery> queue_;
};

TEST_F(RoutingTest, BytesReadOnAnotherThreadAreReceivedOnTheOwningOne) {
    Select(9, "KELM-16I");
    constexpr int kReplies = 500;
    HandOver handOver;
    std::thread reader([&handOver] {
        for (int i = 0; i < kReplies; ++i) {
            const auto v = static_cast<std::uint8_t>(i);
            const ByteString wire = FrameRtu({9, 2, 2, v, static_cast<std::uint8_t>(~v)});
            // In pieces, as a driver hands them over.
            for (std::size_t at = 0; at < wire.size(); at += 3) {
                const std::size_t len = std::min<std::size_t>(3, wire.size() - at);
                handOver.Push({ByteString(wire.begin() + at, wire.begin() + at + len), 2});
            }
            handOver.Push({{}, 11});
        }
        handOver.Push({{}, 0, true});
    });
    for (;;) {
        Delivery d = handOver.Pop();
        if (d.last) break;
        if (!d.bytes.empty()) Deliver(d.bytes);
        recTimer.Tick(d.silentTicks);
    }
    reader.join();
    ASSERT_EQ(calls.size(), static_cast<std::size_t>(kReplies));
    for (int i = 0; i < kReplies; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        EXPECT_EQ(calls[i].pbuf, (ByteString{9, 2, 2, v, static_cast<std::uint8_t>(~v)}));
    }
}

}  // namespace
}  // namespace kelm::test
