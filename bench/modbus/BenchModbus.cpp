// bench-modbus: what the engine costs per reply and per request, as key=value
// lines. A reply's cost is end to end: the receive event, the 11 end-of-frame
// ticks, validation, the status text and the dispatch to a handler that reads
// every byte. Each figure is the median of several timed runs. The watched_
// figures are the same with a frame observer attached; the others have none.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "modbus/Checks.h"
#include "modbus/ModbusMaster.h"
#include "support/ManualTimer.h"
#include "support/ModbusDoubles.h"

namespace {

using namespace kelm;
using Clock = std::chrono::steady_clock;

class DiscardSink : public IFrameSink {
  public:
    void SendString(const ByteString& S) override { bytes += S.size(); }
    std::size_t bytes = 0;
};

class LatestStatus : public IStatusText {
  public:
    void SetStatusText(int, const std::string& utf8) override { text = utf8; }
    std::string text;
};

// Median ns per call of f over `reps` runs of `n` calls.
template <class F>
double MedianNs(F&& f, int n, int reps = 9) {
    std::vector<double> runs;
    for (int r = 0; r < reps; ++r) {
        const auto t0 = Clock::now();
        for (int i = 0; i < n; ++i) f();
        const auto t1 = Clock::now();
        runs.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / n);
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

// Does what a monitor must at least do with each report: look at it.
class CountingObserver : public IFrameObserver {
  public:
    void OnFrameSent(const SentFrameInfo& i) override { bytes += i.frame.size(); }
    void OnFrameReceived(const ReceivedFrameInfo& i) override {
        bytes += i.bytes.size();
        ++frames;
    }
    void OnReplyRow(const ReplyRowInfo&) override {}
    std::uint64_t bytes = 0;
    std::uint64_t frames = 0;
};

struct Rig {
    DiscardSink sink;
    LatestStatus status;
    test::FixedProtocol protocol;
    test::ManualTimer timer;
    ModbusMaster master{sink, status, protocol, timer};
    std::uint64_t handled = 0;
    std::uint64_t checksum = 0;

    explicit Rig(int proto) : protocol(proto) {
        master.State().Node_Device_ID = 1;
        master.State().Node_Device_Name = "KELM-8AD";
        master.SetReplyHandler("KELM_8AD_Event", [this](std::uint16_t, const Frame& f) {
            ++handled;
            for (std::size_t i = 0; i < f.size(); ++i) checksum += f[i];
        });
    }
    void Reply(const ByteString& wire) {
        master.ksComm1AfterReceive(wire.data(), static_cast<std::uint32_t>(wire.size()));
        timer.Tick(11);
    }
};

}  // namespace

int main() {
    // The longest reply each protocol accepts: 256 RTU bytes, 255 ASCII characters.
    ByteString rtuBody(254);
    std::iota(rtuBody.begin(), rtuBody.end(), 0);
    rtuBody[0] = 1;
    rtuBody[1] = 3;
    rtuBody[2] = 250;
    const ByteString rtuWire = FrameRtu(rtuBody);
    ByteString asciiBody(125);
    std::iota(asciiBody.begin(), asciiBody.end(), 0x80);
    asciiBody[0] = 1;
    asciiBody[1] = 3;
    asciiBody[2] = 122;
    const ByteString asciiWire = FrameAscii(asciiBody);
    // A typical short reply: three registers.
    const ByteString shortWire = FrameRtu({1, 3, 6, 0, 10, 0, 0xA0, 0, 0xA1});

    const int n = 20000;
    Rig rtu(kProtocolRtu);
    const double rtuNs = MedianNs([&] { rtu.Reply(rtuWire); }, n);
    const double shortNs = MedianNs([&] { rtu.Reply(shortWire); }, n);
    Rig ascii(kProtocolAscii);
    const double asciiNs = MedianNs([&] { ascii.Reply(asciiWire); }, n);

    // The same 256-byte reply arriving in 8-byte deliveries.
    const double piecesNs = MedianNs(
        [&] {
            for (std::size_t i = 0; i < rtuWire.size(); i += 8) {
                const std::size_t len = std::min<std::size_t>(8, rtuWire.size() - i);
                rtu.master.ksComm1AfterReceive(rtuWire.data() + i, static_cast<std::uint32_t>(len));
            }
            rtu.timer.Tick(11);
        },
        n);

    // The same short reply with an observer attached (the monitor open).
    Rig watched(kProtocolRtu);
    CountingObserver observer;
    watched.master.SetFrameObserver(&observer);
    const double watchedShortNs = MedianNs([&] { watched.Reply(shortWire); }, n);
    const double watchedRequestNs =
        MedianNs([&] { watched.master.Modbus_Send_oneWord(3, 0, 3); }, n * 5);

    const double rtuRequestNs = MedianNs([&] { rtu.master.Modbus_Send_oneWord(3, 0, 3); }, n * 5);
    const double asciiRequestNs =
        MedianNs([&] { ascii.master.Modbus_Send_oneWord(3, 0, 3); }, n * 5);
    volatile std::uint16_t crcSink = 0;
    const double crcNs =
        MedianNs([&] { crcSink = Calculate_CRC16_Modbus(rtuWire.data(), 256); }, n * 5);

    const std::uint64_t expected = 9ull * n * 3;  // rtu: long, short, in pieces
    if (rtu.handled != expected || ascii.handled != 9ull * n || watched.handled != 9ull * n ||
        observer.frames != 9ull * n) {
        std::fprintf(stderr, "replies lost: rtu %llu of %llu, ascii %llu of %llu\n",
                     static_cast<unsigned long long>(rtu.handled),
                     static_cast<unsigned long long>(expected),
                     static_cast<unsigned long long>(ascii.handled),
                     static_cast<unsigned long long>(9ull * n));
        return 1;
    }
    std::printf("rtu_frame_bytes=%zu\n", rtuWire.size());
    std::printf("rtu_frame_ns=%.0f\n", rtuNs);
    std::printf("rtu_frame_8byte_pieces_ns=%.0f\n", piecesNs);
    std::printf("rtu_short_frame_ns=%.0f\n", shortNs);
    std::printf("ascii_frame_chars=%zu\n", asciiWire.size());
    std::printf("ascii_frame_ns=%.0f\n", asciiNs);
    std::printf("rtu_request_ns=%.0f\n", rtuRequestNs);
    std::printf("ascii_request_ns=%.0f\n", asciiRequestNs);
    std::printf("crc16_256_bytes_ns=%.0f\n", crcNs);
    std::printf("watched_rtu_short_frame_ns=%.0f\n", watchedShortNs);
    std::printf("watched_rtu_request_ns=%.0f\n", watchedRequestNs);
    std::printf("checksum=%llu\n", static_cast<unsigned long long>(rtu.checksum + ascii.checksum));
    return 0;
}
