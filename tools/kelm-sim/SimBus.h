#pragma once
// A bus of simulated modules on one serial line.
//
// The bus hears each complete frame once, under the line settings in force,
// and lets every module decide whether the frame is meant for it: the frame
// must be valid in the module's protocol, addressed to the module (or the
// broadcast address 0), and the line must match the module's serial format.
// Not thread-safe: the owner serialises all calls (LineEngine's thread).
#include <cstddef>
#include <string>
#include <vector>

#include "kelm-sim/SimModule.h"
#include "kelm-sim/SimTypes.h"
#include "modbus/Bytes.h"

namespace kelm::sim {

struct BusResult {
    ByteString reply;                // what goes back on the line; empty: silence
    std::vector<std::string> notes;  // who answered, or why nobody did
    std::vector<std::string> answeredBy;
};

class SimBus {
  public:
    SimBus(const std::vector<ModuleConfig>& modules, SimTime start);

    BusResult OnFrame(const ByteString& frame, const LineSettings& line, SimTime now);

    // Modules that acknowledged new communication settings take them now;
    // returns the positions of the modules that changed.
    std::vector<std::size_t> ApplyPendingSettings();
    bool HasPendingSettings() const;

    std::vector<SimModule>& modules() { return modules_; }
    const std::vector<SimModule>& modules() const { return modules_; }

    // The first module answering at this address, or nullptr.
    SimModule* Find(std::uint8_t address);

  private:
    std::vector<SimModule> modules_;
};

// The link check's broadcast read: registers 3-5 at address 0, which a
// module answers from address 0.
bool IsBroadcastSettingsRead(const ByteString& pdu);

}  // namespace kelm::sim
