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
    const auto address = static_cast<std::uint8_t>(1 + seed);
    master.State().Node_Device_ID = address;
    master.State().Node_Device_Name = std::string(kelm::Models()[seed % 8].name);
    int good = 0;
    for (std::string_view name : kReplyHandlerNames) {
        master.SetReplyHandler(name, [&](std::uint16_t cmd, const Frame& f) {
            if (cmd == 3 && f[0] == address && f.word(3) == f.word(5)) ++good;
        });
    }
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        const ByteString wire = FrameForProtocol({address, 3, 4, v, v, v, v}, protocol.index);
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

TEST_F(RoutingTest, BytesReadOnAnotherThreadAreReceivedOnTheOwningOne) {
    Select(9, "KELM-16I");
    constexpr int kReplies = 500;
    // What the reader hands over: bytes, then how many timer periods of silence
    // follow them; an empty delivery with no silence ends the run.
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::pair<ByteString, int>> queue;
    const auto push = [&](ByteString bytes, int silentTicks) {
        std::lock_guard<std::mutex> lock(mutex);
        queue.emplace_back(std::move(bytes), silentTicks);
        cv.notify_one();
    };
    std::thread reader([&] {
        for (int i = 0; i < kReplies; ++i) {
            const auto v = static_cast<std::uint8_t>(i);
            const ByteString wire = FrameRtu({9, 2, 2, v, static_cast<std::uint8_t>(~v)});
            // In pieces, as a driver hands them over.
            for (std::size_t at = 0; at < wire.size(); at += 3)
                push(ByteString(wire.begin() + at, wire.begin() + std::min(at + 3, wire.size())),
                     2);
            push({}, 11);
        }
        push({}, 0);
    });
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [&] { return !queue.empty(); });
        auto [bytes, silentTicks] = std::move(queue.front());
        queue.pop_front();
        lock.unlock();
        if (bytes.empty() && silentTicks == 0) break;
        if (!bytes.empty()) Deliver(bytes);
        recTimer.Tick(silentTicks);
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
