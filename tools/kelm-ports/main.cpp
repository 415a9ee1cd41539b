// kelm-ports: prints the serial port list as KELM-Utility builds it, one
// line per port (number, display text, port name), for users who wonder why
// an adaptor is missing or which COM number it got.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "serial/EnumPorts.h"
#include "serial/EnumWatcher.h"
#include "serial/VirtualPortDir.h"

namespace {

void Usage(std::ostream& out) {
    out << "usage: kelm-ports [--mode present|info|quick] [--verbose] [--watch]\n"
           "  Lists the serial ports as KELM-Utility numbers them:\n"
           "  <number> TAB <display text> TAB <port name>\n"
           "  --mode present  ports of devices present now (the program's setting; default)\n"
           "  --mode info     also devices known but absent (dangling virtual links)\n"
           "  --mode quick    port names only, without descriptions\n"
           "  --verbose       also driver, manufacturer, device path, USB vendor:product,\n"
           "                  serial number, the stable /dev/serial/by-id link, and\n"
           "                  whether you may open the port (the dialout group)\n"
           "  --watch         print the list again whenever a port comes or goes\n";
}

void Print(kelm::PortEnumMode mode, bool verbose) {
    auto src = kelm::MakeSystemPortSource();
    const auto list = kelm::LoadPortRecords(mode, *src);
    for (const auto& r : list) {
        std::cout << r.Data << '\t' << r.NameFriendly << '\t' << r.PortName << '\n';
        if (verbose) {
            std::cout << "\tservice=" << r.Service << " driver=" << r.Driver
                      << " manufacturer=" << r.Manufacturer << " device=" << r.InstanceId << '\n';
            std::cout << "\tusb=" << (r.NameParentDevice.empty() ? "-" : r.NameParentDevice)
                      << " serial=" << (r.SerialNumber.empty() ? "-" : r.SerialNumber)
                      << " by-id=" << (r.NameSymbolic.empty() ? "-" : r.NameSymbolic) << '\n';
            std::cout << "\taccess=" << kelm::DescribePortAccess(kelm::CheckPortAccess(r.PortName))
                      << '\n';
        }
    }
    if (list.empty()) std::cout << "(no serial ports)\n";
    if (verbose) std::cout << "virtual-port directory: " << kelm::VirtualPortDir::Path() << '\n';
    std::cout.flush();
}

}  // namespace

int main(int argc, char** argv) {
    kelm::PortEnumMode mode = kelm::PortEnumMode::FullPresent;
    bool verbose = false;
    bool watch = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--mode" && i + 1 < argc) {
            const std::string m = argv[++i];
            if (m == "present") {
                mode = kelm::PortEnumMode::FullPresent;
            } else if (m == "info") {
                mode = kelm::PortEnumMode::FullInfo;
            } else if (m == "quick") {
                mode = kelm::PortEnumMode::QuickAll;
            } else {
                std::cerr << "kelm-ports: unknown mode \"" << m << "\"\n";
                Usage(std::cerr);
                return 2;
            }
        } else if (a == "--verbose" || a == "-v") {
            verbose = true;
        } else if (a == "--watch" || a == "-w") {
            watch = true;
        } else if (a == "--help" || a == "-h") {
            Usage(std::cout);
            return 0;
        } else {
            std::cerr << "kelm-ports: unknown argument \"" << a << "\"\n";
            Usage(std::cerr);
            return 2;
        }
    }
    if (!watch) {
        Print(mode, verbose);
        return 0;
    }
    kelm::PortChangeWatcher watcher;
    if (watcher.Fds().empty()) {
        std::cerr << "kelm-ports: cannot watch for device changes\n";
        return 1;
    }
    Print(mode, verbose);
    for (;;) {
        if (watcher.Wait(-1)) {
            std::cout << "--\n";
            Print(mode, verbose);
        }
    }
}
