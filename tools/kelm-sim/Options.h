#pragma once
// The simulator's command line:
//   kelm-sim [--com N | --device PATH | --tcp HOST:PORT | --mbtcp HOST:PORT]
//            [--module MODEL@ADDRESS[,format=CODE][,protocol=rtu|ascii]]...
//            [--demo] [--delay MS] [--quiet]
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kelm-sim/LineEngine.h"
#include "kelm-sim/SimModule.h"
#include "serial/net/NetAddress.h"

namespace kelm::sim {

struct SimOptions {
    std::optional<unsigned> com;        // publish the pty as COM<n>
    std::optional<std::string> device;  // serve a real serial port instead
    // Or serve the bus behind a listening socket: raw bytes (a serial
    // device server) or Modbus TCP (a gateway). Port 0: the system picks.
    std::optional<net::NetAddress> tcp;
    std::optional<net::NetAddress> mbtcp;
    std::vector<ModuleConfig> modules;
    bool demo = false;
    std::chrono::milliseconds delay = kDefaultReplyDelay;
    bool quiet = false;
    bool help = false;
};

struct ParseResult {
    std::optional<SimOptions> options;  // set on success
    std::string error;                  // a clear message otherwise
};

// Parses the arguments after the program name.
ParseResult ParseArgs(const std::vector<std::string>& args);

// The --help text.
std::string UsageText();

// All eight models at distinct addresses, 9600 baud, no parity, 2 stop bits, RTU.
std::vector<ModuleConfig> DemoModules();

// Type code of "KELM-16T" or its short form "16T" (either case); nullopt if unknown.
std::optional<std::uint8_t> ModelCodeOfName(std::string_view name);

// Parses MODEL@ADDRESS[,format=CODE][,protocol=rtu|ascii].
std::optional<ModuleConfig> ParseModuleArg(std::string_view text, std::string* error);

inline constexpr unsigned kMaxDelayMs = 10000;

}  // namespace kelm::sim
