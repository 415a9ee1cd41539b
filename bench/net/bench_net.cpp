// bench-net: median round trip of an identity read (function 3, registers
// 0-2) through TksComm against kelm-sim in process with the reply delay set
// to 0, on a pseudo-terminal, on tcp:// and on mbtcp://. The simulated
// module still waits for the line to fall silent (10 ms at least) before it
// answers, the same on all three lines; the differences are the transport's.
//
//   bench-net [--count N]      prints rtt_pty_ms, rtt_tcp_ms, rtt_mbtcp_ms
//                              (medians), their 90th percentiles, and
//                              tcp_minus_pty_ms / mbtcp_minus_pty_ms
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kelm-sim/NetServer.h"
#include "kelm-sim/PtyServer.h"
#include "modbus/Checks.h"
#include "serial/LoopExecutor.h"
#include "serial/ksComm.h"

namespace {

using namespace kelm;
using Clock = std::chrono::steady_clock;

struct Result {
    double median = -1, p90 = -1;
    int failures = 0;
};

Result Measure(LoopExecutor& ex, const std::string& portName, int count) {
    Result res;
    TksComm com(&ex);
    auto d = std::make_shared<TksDevice>();
    d->Data = 77;
    d->NameFriendly = "COM77";
    d->NameDeviceDos = "COM77";
    d->PortName = portName;
    com.AddDeviceSorted(d);
    com.SetStreamProtocol(TStreamProtocol::spNone);
    com.SetBaudRate(9600);
    com.SetStopBits(TStopBits::sbTwo);
    com.SetComPortNo(77);
    try {
        com.SetActive(true);
    } catch (const EksError& e) {
        std::fprintf(stderr, "bench-net: %s\n", e.what());
        res.failures = count;
        return res;
    }
    const ByteString request = FrameRtu({5, 3, 0, 0, 0, 3});
    const std::string req(request.begin(), request.end());
    constexpr size_t kReply = 11;  // address, 3, 6, three registers, CRC
    size_t got = 0;
    Clock::time_point done{};
    com.SetOnAfterReceive([&](TksBaseIO*, const uint8_t*, uint32_t n) {
        got += n;
        if (got >= kReply && done == Clock::time_point{}) done = Clock::now();
    });
    std::vector<double> ms;
    ms.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        got = 0;
        done = {};
        const auto start = Clock::now();
        com.SendString(req);
        if (!ex.RunUntil([&] { return done != Clock::time_point{}; }, std::chrono::seconds(5))) {
            ++res.failures;
            continue;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(done - start).count());
        // The module waits for silence: let any stray byte go before the next.
        ex.ProcessEvents();
    }
    com.SetOnAfterReceive(nullptr);
    com.SetActive(false);
    if (!ms.empty()) {
        std::sort(ms.begin(), ms.end());
        res.median = ms[ms.size() / 2];
        res.p90 = ms[ms.size() * 9 / 10];
    }
    return res;
}

std::vector<sim::ModuleConfig> Modules() {
    return {{16, 5, 3, sim::Protocol::Rtu}};
}

}  // namespace

int main(int argc, char** argv) {
    int count = 1000;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--count") == 0) count = std::max(1, std::atoi(argv[i + 1]));
    LoopExecutor ex;
    std::string error;

    auto pty = sim::PtyServer::Create({Modules(), std::chrono::milliseconds(0), nullptr}, &error);
    if (!pty) {
        std::fprintf(stderr, "bench-net: %s\n", error.c_str());
        return 1;
    }
    pty->Start();
    const Result p = Measure(ex, pty->SlavePath(), count);
    pty.reset();

    Result r[2];
    const sim::NetServer::Mode modes[2] = {sim::NetServer::Mode::Raw,
                                           sim::NetServer::Mode::ModbusTcp};
    for (int k = 0; k < 2; ++k) {
        sim::NetServer::Config c;
        c.mode = modes[k];
        c.modules = Modules();
        c.replyDelay = std::chrono::milliseconds(0);
        auto server = sim::NetServer::Create(std::move(c), &error);
        if (!server) {
            std::fprintf(stderr, "bench-net: %s\n", error.c_str());
            return 1;
        }
        server->Start();
        r[k] = Measure(ex, server->PortName(), count);
    }

    std::printf("exchanges=%d\n", count);
    std::printf("rtt_pty_ms=%.3f\nrtt_pty_p90_ms=%.3f\n", p.median, p.p90);
    std::printf("rtt_tcp_ms=%.3f\nrtt_tcp_p90_ms=%.3f\n", r[0].median, r[0].p90);
    std::printf("rtt_mbtcp_ms=%.3f\nrtt_mbtcp_p90_ms=%.3f\n", r[1].median, r[1].p90);
    std::printf("tcp_minus_pty_ms=%.3f\n", r[0].median - p.median);
    std::printf("mbtcp_minus_pty_ms=%.3f\n", r[1].median - p.median);
    std::printf("failures=%d\n", p.failures + r[0].failures + r[1].failures);
    return (p.failures + r[0].failures + r[1].failures) == 0 ? 0 : 1;
}
