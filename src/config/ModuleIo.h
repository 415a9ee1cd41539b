#pragma once
// Reading a module's configuration over a bus line and carrying out a
// restore plan: channel settings first, each read back, the communication
// parameters last and only when everything before them was verified. Every
// result says which settings were written and verified and which were not.
// Reads go through the item reader (bus/ItemIo.h). No Qt; the caller owns
// the client (one thread, see BusClient).
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bus/BusClient.h"
#include "config/ConfigFile.h"

namespace kelm::config {

enum class IoFailure : std::uint8_t { None, Exception, NoReply, PortLost, BadReply, Unsupported };

struct IoError {
    IoFailure failure = IoFailure::None;
    std::string message;
};

// Reads registers 0-5 and every configuration item of the module at
// address. `time` is stored as the identity's time. nullopt with *error when
// a request fails or the module is of a type the program does not know.
std::optional<ModuleConfig> ReadConfig(bus::Transactor& client, int address,
                                       const bus::RequestOptions& request, const std::string& time,
                                       IoError* error);

enum class StepState : std::uint8_t {
    NotWritten,  // not sent (an earlier step failed, or the run stopped)
    Failed,      // sent and refused, or no acknowledgement: the state is unknown
    Written,     // acknowledged, not (yet) read back
    Verified,    // read back equal
    Differs,     // read back different
};
const char* StepStateText(StepState s);

struct StepResult {
    Step step;
    StepState state = StepState::NotWritten;
    std::string message;  // why it failed or how it differs
};

struct RestoreResult {
    bool ok = false;
    IoError error;  // the first failure
    std::vector<StepResult> steps;
    // The module's line afterwards: its address and line settings (changed
    // only when the communication step was verified).
    int address = 0;
    bus::LineSettings line;
};

// Sends the plan to the module at address on the client's present line.
// onStep (may be empty) is told after each step's state changes; returning
// false from `proceed` (may be empty) before a step stops the run there
// (the remaining steps stay NotWritten; no communication write follows).
RestoreResult ExecuteRestore(bus::Transactor& client, int address, const ModuleConfig& wanted,
                             const std::vector<Step>& plan, const bus::RequestOptions& request,
                             const std::function<void(const StepResult&)>& onStep = {},
                             const std::function<bool(const Step&)>& proceed = {});

// One line per step: "verified      pulse_on.DO3 = 250".
std::string DescribeResult(const RestoreResult& r, const ModuleConfig& wanted);

}  // namespace kelm::config
