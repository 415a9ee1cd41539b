// bench-net: median round trip of an identity read (function 3, registers
// 0-2) against kelm-sim in process with the reply delay set to 0, on a
// pseudo-terminal, on tcp:// and on mbtcp://. The simulated module still
// waits for the line to fall silent (10 ms at least) before it answers, the
// same on all three lines; the differences are the transport's.
//
// Measured twice: through BusClient, the transaction layer kelm uses (the
// round trip is its reply time, from the request's hand-over to the whole
// reply; the exchange adds the inter-frame gap it keeps before sending), and
// through the bare serial component as the window uses it.
//
//   bench-net [--count N]      prints rtt_pty_ms, rtt_tcp_ms, rtt_mbtcp_ms
//                              (BusClient medians), their 90th percentiles,
//                              exchange_*_ms, tcp_minus_pty_ms /
//                              mbtcp_minus_pty_ms, and comm_rtt_*_ms (TksComm)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bus/BusClient.h"
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

void Percentiles(std::vector<double> ms, double* median, double* p90) {
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    *median = ms[ms.size() / 2];
    *p90 = ms[ms.size() * 9 / 10];
}

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
    Percentiles(ms, &res.median, &res.p90);
    return res;
}

struct BusResult {
    Result rtt, exchange;
    int failures = 0;
};

// count identity reads through kelm's transaction layer.
BusResult MeasureBus(const std::string& portName, int count) {
    BusResult res;
    bus::BusClient client;
    const bus::OpenResult open = client.Open(portName, bus::LineSettings{});
    if (!open.ok()) {
        std::fprintf(stderr, "bench-net: %s\n", bus::DescribeOpenFailure(portName, open).c_str());
        res.failures = count;
        return res;
    }
    bus::RequestOptions options;
    options.timeout = std::chrono::seconds(5);  // a busy machine is slow, not silent
    const ByteString body{5, 3, 0, 0, 0, 3};
    std::vector<double> rtt, exchange;
    rtt.reserve(static_cast<size_t>(count));
    exchange.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        const bus::TransactionResult r = client.Transact(body, options);
        const auto end = Clock::now();
        if (r.outcome == bus::Outcome::PortLost) break;
        if (r.outcome != bus::Outcome::Reply || r.body.size() != 9) continue;
        rtt.push_back(std::chrono::duration<double, std::milli>(r.replyTime).count());
        exchange.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    res.failures = count - static_cast<int>(rtt.size());
    Percentiles(rtt, &res.rtt.median, &res.rtt.p90);
    Percentiles(exchange, &res.exchange.median, &res.exchange.p90);
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

    // One server per line, measured by both layers in turn (one client at a
    // time is all the network servers take).
    Result comm[3];
    BusResult viaBus[3];
    const char* names[3] = {"pty", "tcp", "mbtcp"};
    {
        auto pty =
            sim::PtyServer::Create({Modules(), std::chrono::milliseconds(0), nullptr}, &error);
        if (!pty) {
            std::fprintf(stderr, "bench-net: %s\n", error.c_str());
            return 1;
        }
        pty->Start();
        viaBus[0] = MeasureBus(pty->SlavePath(), count);
        comm[0] = Measure(ex, pty->SlavePath(), count);
    }
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
        viaBus[k + 1] = MeasureBus(server->PortName(), count);
        comm[k + 1] = Measure(ex, server->PortName(), count);
    }

    int failures = 0;
    std::printf("exchanges=%d\n", count);
    for (int k = 0; k < 3; ++k) {
        std::printf("rtt_%s_ms=%.3f\nrtt_%s_p90_ms=%.3f\n", names[k], viaBus[k].rtt.median,
                    names[k], viaBus[k].rtt.p90);
        std::printf("exchange_%s_ms=%.3f\n", names[k], viaBus[k].exchange.median);
        failures += viaBus[k].failures + comm[k].failures;
    }
    std::printf("tcp_minus_pty_ms=%.3f\n", viaBus[1].rtt.median - viaBus[0].rtt.median);
    std::printf("mbtcp_minus_pty_ms=%.3f\n", viaBus[2].rtt.median - viaBus[0].rtt.median);
    for (int k = 0; k < 3; ++k)
        std::printf("comm_rtt_%s_ms=%.3f\ncomm_rtt_%s_p90_ms=%.3f\n", names[k], comm[k].median,
                    names[k], comm[k].p90);
    std::printf("failures=%d\n", failures);
    return failures == 0 ? 0 : 1;
}
