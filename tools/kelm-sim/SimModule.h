#pragma once
// One simulated KELM module: its register map, its answers to Modbus
// requests and its life over time.
//
// The module works on protocol data units (function code + data, no address
// and no check); SimBus does the framing and the addressing. A module is not
// thread-safe: whoever owns it serialises the calls (see SimBus, PtyServer).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kelm-sim/SimTypes.h"
#include "modbus/Bytes.h"
#include "modbus/Models.h"

namespace kelm::sim {

// Modbus exception codes a KELM module sends.
inline constexpr std::uint8_t kIllegalFunction = 0x01;
inline constexpr std::uint8_t kIllegalDataAddress = 0x02;
inline constexpr std::uint8_t kIllegalDataValue = 0x03;

// Identity values in holding registers 1 and 2 (the scan accepts 0xA0-0xF0).
inline constexpr std::uint8_t kHardwareVersion = 0xA1;
inline constexpr std::uint8_t kSoftwareVersion = 0xB3;

struct ModuleConfig {
    std::uint8_t typeCode = 10;  // 10..17, see modbus/Models.h
    std::uint8_t address = 1;    // 1..247
    std::uint8_t format = kDefaultFormatCode;
    Protocol protocol = Protocol::Rtu;
};

// Where each kind of register lies in a model's map; -1 when the model has none.
struct RegisterLayout {
    unsigned inputs = 0;   // discrete inputs (function 2)
    unsigned outputs = 0;  // coils (functions 1, 5, 15)
    int initialStates = -1;
    int outputModes = -1;
    int pulseOnTime = -1;      // + ch
    int pulseOffTime = -1;     // + ch
    int pulseContinuous = -1;  // + ch
    int pulseCount = -1;       // + 2ch (high word), + 2ch + 1 (low word)
    int filterTime = -1;       // + ch
    int countControl = -1;     // + ch
    int inputCount = -1;       // + 2ch (high word), + 2ch + 1 (low word)
    int analogOutMode = -1;    // 2 channels, then 2 values
    int analogInMode = -1;     // 8 channels
    unsigned holdingCount = 6;
    unsigned inputRegisterCount = 0;  // function 4
};

// Layout of a model by its type code; nullopt for an unknown code.
std::optional<RegisterLayout> LayoutOf(std::uint8_t typeCode);

// Defaults and accepted ranges, in units of 0.1 ms.
inline constexpr std::uint16_t kDefaultPulseTime = 5000;  // 500 ms
inline constexpr std::uint16_t kMinPulseTime = 2;
inline constexpr std::uint16_t kDefaultFilterTime = 100;  // 10 ms
inline constexpr std::uint16_t kMinFilterTime = 100;
inline constexpr std::uint16_t kMaxFilterTime = 10000;
inline constexpr std::uint16_t kCharStart = 0x0031;  // "1": start / running
inline constexpr std::uint16_t kCharStop = 0x0030;   // "0": stop

class SimModule {
  public:
    // A module switched on at `start`. The configuration must be valid
    // (known type code, address 1-247, format 0-15); Options checks it.
    SimModule(const ModuleConfig& config, SimTime start);

    // Answers one request PDU at time `now`: the reply PDU, which is an
    // exception reply (function | 0x80, code) when the request cannot be
    // served. An empty request yields an empty reply (nothing to answer).
    ByteString Handle(const ByteString& request, SimTime now);

    // A write of holding registers 3-5 is acknowledged under the old settings;
    // the new ones wait here until ApplyPendingSettings, which the bus calls
    // once the acknowledgement has gone out.
    bool HasPendingSettings() const { return pending_.has_value(); }
    void ApplyPendingSettings();

    const ModuleConfig& config() const { return config_; }
    const ModelInfo& info() const { return *info_; }
    const RegisterLayout& layout() const { return layout_; }
    std::uint8_t address() const { return config_.address; }
    std::uint8_t format() const { return config_.format; }
    Protocol protocol() const { return config_.protocol; }

    // "KELM-16T@5" for log lines.
    std::string Name() const;

    // State as a master would read it at `now` (out-of-map positions read 0).
    std::uint16_t HoldingRegister(unsigned reg, SimTime now) const;
    std::uint16_t InputRegister(unsigned reg, SimTime now) const;
    bool Coil(unsigned ch, SimTime now) const;
    bool DiscreteInput(unsigned ch, SimTime now) const;

    // The signal an analog input channel sees, in mA or V, or the output of
    // an analog output channel; 0 for a channel the model does not have.
    double AnalogSignal(unsigned ch, SimTime now) const;

  private:
    // Run state of a transistor output; its times live in holding_.
    struct Output {
        bool level = false;  // switch output state
        bool continuous = false;
        std::uint32_t total = 0;  // pulses of a counted run, counted from runStart
        SimTime runStart{0};
    };
    // Counter state of a digital input; its filter time lives in holding_.
    struct Input {
        bool counting = false;
        std::uint32_t countAtMark = 0;
        SimTime mark{0};
    };
    struct PendingSettings {
        std::uint8_t format;
        std::uint8_t address;
        Protocol protocol;
    };

    ByteString ReadBits(std::uint8_t fc, const ByteString& req, SimTime now) const;
    ByteString ReadRegisters(std::uint8_t fc, const ByteString& req, SimTime now) const;
    ByteString WriteSingleCoil(const ByteString& req, SimTime now);
    ByteString WriteSingleRegister(const ByteString& req, SimTime now);
    ByteString WriteMultipleCoils(const ByteString& req, SimTime now);
    ByteString WriteMultipleRegisters(const ByteString& req, SimTime now);

    // 0 when `value` may be written to `reg`, else the exception code.
    std::uint8_t CheckWrite(unsigned reg, std::uint16_t value) const;
    // Writes several registers that CheckWrite accepted, as one operation.
    void ApplyWrites(unsigned first, const std::vector<std::uint16_t>& values, SimTime now);

    bool PulseMode(unsigned ch) const;
    bool OutputLevel(unsigned ch, SimTime now) const;
    SimTime PulsePeriod(unsigned ch) const;
    std::uint32_t PulsesDone(unsigned ch, SimTime now) const;
    std::uint32_t PulsesRemaining(unsigned ch, SimTime now) const;
    bool PulseRunning(unsigned ch, SimTime now) const;
    void StopPulses(unsigned ch);
    void RebasePulses(unsigned ch, SimTime now);

    bool RawInput(unsigned ch, SimTime t) const;
    std::uint32_t InputCount(unsigned ch, SimTime now) const;
    std::uint32_t RisingEdges(unsigned ch, SimTime t) const;
    SimTime Elapsed(SimTime now) const;

    std::uint32_t AnalogCount(unsigned ch, SimTime now) const;

    ModuleConfig config_;
    const ModelInfo* info_;
    RegisterLayout layout_;
    SimTime start_;
    std::vector<std::uint16_t> holding_;  // stored values; live ones are computed
    std::vector<Output> outputs_;
    std::vector<Input> inputs_;
    std::optional<PendingSettings> pending_;
};

// Exception reply PDU for a request with function code fc.
ByteString ExceptionReply(std::uint8_t fc, std::uint8_t code);

}  // namespace kelm::sim
