#pragma once
// What the engine needs from its surroundings, as small interfaces the
// application implements (serial component, status bar, protocol list, Qt
// timers) and tests replace with recording doubles. No Qt here.
#include <functional>
#include <string>

#include "modbus/Bytes.h"

namespace kelm {

// The serial component's SendString: writes the frame as it is.
class IFrameSink {
  public:
    virtual ~IFrameSink() = default;
    virtual void SendString(const ByteString& S) = 0;
};

// Text of a status bar panel (UTF-8).
class IStatusText {
  public:
    virtual ~IStatusText() = default;
    virtual void SetStatusText(int panel, const std::string& utf8) = 0;
};

// The host protocol list `Cmb_comXY`, read at the moment of use.
class IHostProtocol {
  public:
    virtual ~IHostProtocol() = default;
    // 0 RTU, 1 ASCII, -1 none selected.
    virtual int ProtocolIndex() const = 0;
    // The selected item's text: "RTU", "ASCII", or empty.
    virtual std::string ProtocolText() const = 0;
};

// A GUI timer. Ticks run on the thread that owns the engine.
class ITimer {
  public:
    virtual ~ITimer() = default;
    virtual void SetInterval(int ms) = 0;
    // Enabling a running timer leaves its rhythm unchanged.
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetOnTimer(std::function<void()> onTimer) = 0;
};

}  // namespace kelm
