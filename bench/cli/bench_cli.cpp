// bench-cli: how fast the kelm program does its bus work at its defaults.
//   scan_s        kelm scan of addresses 1-247 on the demo bus (eight modules,
//                 10 ms reply delay, 9600 baud RTU)
//   scan_floor_s  what no master can beat there with the same time-outs: the
//                 default time-out of each silent address plus the measured
//                 reply time of each present module
//   scan_ratio    scan_s / scan_floor_s
//   find_s        kelm find of one module at the format and protocol it tries
//                 last (115200 baud, even parity, ASCII)
//   watch_per_s   readings per second of kelm watch of the eight inputs of a
//                 KELM-8AD at 115200 baud RTU (the simulator's default reply
//                 delay, watch_delay_ms), without the program's start-up
// usage: bench-cli [--kelm PATH]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "bus/BusClient.h"
#include "kelm-sim/Options.h"
#include "kelm-sim/PtyServer.h"
#include "kelm/RunProgram.h"

namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<kelm::sim::PtyServer> Serve(std::vector<kelm::sim::ModuleConfig> modules) {
    kelm::sim::PtyServer::Config config;
    config.modules = std::move(modules);
    std::string error;
    auto server = kelm::sim::PtyServer::Create(std::move(config), &error);
    if (!server) {
        std::fprintf(stderr, "bench-cli: %s\n", error.c_str());
        std::exit(1);
    }
    server->Start();
    return server;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    std::string kelmProgram = KELM_PROGRAM;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--kelm") == 0 && i + 1 < argc) kelmProgram = argv[++i];
    }

    const auto demo = kelm::sim::DemoModules();
    auto server = Serve(demo);

    // The floor: the reply time of each present module, measured the same way.
    double floor = 0;
    {
        kelm::bus::BusClient client;
        if (!client.Open(server->SlavePath(), kelm::bus::LineSettings{}).ok()) return 1;
        for (const auto& m : demo) {
            const kelm::ByteString read{m.address, 3, 0, 0, 0, 3};
            const auto r = client.Transact(read);
            if (r.outcome != kelm::bus::Outcome::Reply) {
                std::fprintf(stderr, "bench-cli: module %d did not answer\n", m.address);
                return 1;
            }
            floor += std::chrono::duration<double>(r.replyTime).count();
        }
        const kelm::ByteString silent{200, 3, 0, 0, 0, 3};
        floor += static_cast<double>(247 - demo.size()) *
                 std::chrono::duration<double>(client.DefaultTimeout(silent)).count();
    }

    auto t0 = Clock::now();
    const auto scan = kelm::test::RunProgram(kelmProgram, {"scan", "--port", server->SlavePath()});
    const double scanS = Seconds(Clock::now() - t0);
    if (scan.status != 0) {
        std::fprintf(stderr, "bench-cli: scan failed (%d): %s\n", scan.status, scan.err.c_str());
        return 1;
    }
    server->Stop();
    server.reset();

    kelm::sim::ModuleConfig last;
    last.typeCode = 16;
    last.address = 23;
    last.format = 15;
    last.protocol = kelm::sim::Protocol::Ascii;
    server = Serve({last});
    t0 = Clock::now();
    const auto find = kelm::test::RunProgram(kelmProgram, {"find", "--port", server->SlavePath()});
    const double findS = Seconds(Clock::now() - t0);
    if (find.status != 0) {
        std::fprintf(stderr, "bench-cli: find failed (%d): %s\n", find.status, find.err.c_str());
        return 1;
    }

    server->Stop();
    server.reset();

    // watch: the time of N+1 readings less that of one, so the start-up
    // (process, port, identity and mode reads) drops out.
    kelm::sim::ModuleConfig ad;
    ad.typeCode = 16;
    ad.address = 1;
    ad.format = 7;  // 115200, no parity, 2 stop bits
    server = Serve({ad});
    constexpr int kReadings = 200;
    auto watch = [&](int count) {
        const auto start = Clock::now();
        const auto r =
            kelm::test::RunProgram(kelmProgram, {"watch", "--port", server->SlavePath(), "--baud",
                                                 "115200", "--count", std::to_string(count), "ai"});
        if (r.status != 0) {
            std::fprintf(stderr, "bench-cli: watch failed (%d): %s\n", r.status, r.err.c_str());
            std::exit(1);
        }
        return Seconds(Clock::now() - start);
    };
    const double one = watch(1);
    const double many = watch(kReadings + 1);
    const double watchPerS = kReadings / std::max(many - one, 1e-9);

    std::printf("scan_s=%.3f\nscan_floor_s=%.3f\nscan_ratio=%.3f\nfind_s=%.3f\n", scanS, floor,
                scanS / floor, findS);
    std::printf("watch_per_s=%.1f\nwatch_delay_ms=%lld\n", watchPerS,
                static_cast<long long>(kelm::sim::PtyServer::Config{}.replyDelay.count()));
    return 0;
}
