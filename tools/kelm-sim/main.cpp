// kelm-sim: simulated KELM modules on a virtual or real serial port.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "kelm-sim/DeviceServer.h"
#include "kelm-sim/NetServer.h"
#include "kelm-sim/Options.h"
#include "kelm-sim/PtyServer.h"
#include "serial/VirtualPortDir.h"

namespace {

using namespace kelm::sim;

// Log lines carry the seconds since start, so request and reply pair up.
LineEngine::LogSink MakeLog(bool quiet) {
    if (quiet) return nullptr;
    const auto start = std::chrono::steady_clock::now();
    return [start](const std::string& line) {
        const double t =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%9.3f %s\n", t, line.c_str());
        std::fflush(stdout);
    };
}

void PrintModules(const std::vector<ModuleConfig>& modules) {
    for (const ModuleConfig& m : modules) {
        const SimModule module(m, SimTime{0});
        std::printf("  %-10s address %3u  %s %s\n", std::string(module.info().name).c_str(),
                    m.address, FormatLabel(m.format, m.protocol).c_str(),
                    std::string(ProtocolName(m.protocol)).c_str());
    }
    std::fflush(stdout);
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "kelm-sim: %s\n", message.c_str());
    return 1;
}

int ServePty(const SimOptions& o, int stopFd) {
    std::string error;
    std::unique_ptr<PtyServer> server =
        PtyServer::Create(PtyServer::Config{o.modules, o.delay, MakeLog(o.quiet)}, &error);
    if (!server) return Fail("cannot create a virtual serial port: " + error);
    const std::string path = server->SlavePath();
    if (o.com) {
        if (!kelm::VirtualPortDir::Ensure(&error) ||
            !kelm::VirtualPortDir::Publish(*o.com, path, &error))
            return Fail("cannot publish COM" + std::to_string(*o.com) + ": " + error);
        std::printf("kelm-sim: %zu module(s) on COM%u (%s -> %s)\n", o.modules.size(), *o.com,
                    kelm::VirtualPortDir::LinkPath(*o.com).c_str(), path.c_str());
    } else {
        std::printf("kelm-sim: %zu module(s) on %s\n", o.modules.size(), path.c_str());
    }
    PrintModules(o.modules);
    server->Run(stopFd);
    if (o.com) kelm::VirtualPortDir::Unpublish(*o.com, path);
    server.reset();
    std::printf("kelm-sim: stopped\n");
    return 0;
}

int ServeDevice(const SimOptions& o, int stopFd) {
    std::string error;
    std::unique_ptr<DeviceServer> server = DeviceServer::Open(
        DeviceServer::Config{*o.device, o.modules, o.delay, MakeLog(o.quiet)}, &error);
    if (!server) return Fail("cannot open " + *o.device + ": " + error);
    std::printf("kelm-sim: %zu module(s) on %s (%s)\n", o.modules.size(), o.device->c_str(),
                DescribeLine(server->Line()).c_str());
    PrintModules(o.modules);
    const bool ok = server->Run(stopFd);
    server.reset();
    if (!ok) return Fail(*o.device + " was lost");
    std::printf("kelm-sim: stopped\n");
    return 0;
}

int ServeNet(const SimOptions& o, int stopFd) {
    const bool gateway = o.mbtcp.has_value();
    const kelm::net::NetAddress& address = gateway ? *o.mbtcp : *o.tcp;
    std::string error;
    NetServer::Config config;
    config.mode = gateway ? NetServer::Mode::ModbusTcp : NetServer::Mode::Raw;
    config.host = address.host;
    config.port = address.port;
    config.modules = o.modules;
    config.replyDelay = o.delay;
    config.log = MakeLog(o.quiet);
    std::unique_ptr<NetServer> server = NetServer::Create(std::move(config), &error);
    if (!server)
        return Fail("cannot listen on " + address.host + ":" + std::to_string(address.port) + ": " +
                    error);
    std::printf("kelm-sim: %zu module(s) on %s (%s)\n", o.modules.size(),
                server->PortName().c_str(), DescribeLine(server->Line()).c_str());
    PrintModules(o.modules);
    server->Run(stopFd);
    server.reset();
    std::printf("kelm-sim: stopped\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ParseResult parsed = ParseArgs(args);
    if (!parsed.options) {
        std::fprintf(stderr, "kelm-sim: %s\nTry 'kelm-sim --help'.\n", parsed.error.c_str());
        return 2;
    }
    const SimOptions& o = *parsed.options;
    if (o.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    std::string error;
    const int stopFd = OpenStopSignalFd(&error);
    if (stopFd < 0) return Fail(error);
    if (o.tcp || o.mbtcp) return ServeNet(o, stopFd);
    return o.device ? ServeDevice(o, stopFd) : ServePty(o, stopFd);
}
