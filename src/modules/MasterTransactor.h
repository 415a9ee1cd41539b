#pragma once
// The window's master as a one-request-at-a-time client for the Qt-free
// configuration code (config/ModuleIo.h): each request goes out through the
// master's codec send path, so that it takes its turn with the trend
// poller's polls and never meets a panel's request on the line, and its reply
// comes back through the master's reply tap. Transact() waits for that reply
// in a local event loop (user input is held back meanwhile), bounded by the
// request's time-out; a port that closes ends the wait as a lost port.
//
// GUI thread only. While a MasterTransactor exists it owns the master's reply
// tap: panels receive no replies (their own requests cannot be made while
// the transfer's modal dialogs are up).
#include <chrono>
#include <functional>

#include "bus/BusClient.h"

namespace kelm {

class ModbusMaster;

class MasterTransactor : public bus::Transactor {
  public:
    // line: the window's port settings now (the module's line); portOpen:
    // whether the port is open (empty: taken as open).
    MasterTransactor(ModbusMaster& master, bus::LineSettings line, std::function<bool()> portOpen);
    ~MasterTransactor() override;
    MasterTransactor(const MasterTransactor&) = delete;
    MasterTransactor& operator=(const MasterTransactor&) = delete;

    bus::TransactionResult Transact(const ByteString& requestBody,
                                    const bus::RequestOptions& options) override;
    const bus::LineSettings& Line() const override { return line_; }
    // The window's port keeps the settings the user chose: only "moving" to
    // the same settings succeeds.
    bool SwitchLine(const bus::LineSettings& line) override;
    void Settle(std::chrono::milliseconds quiet) override;

    // The wait for one reply when the request gives none (the end-of-frame
    // silence and a poll that may be on the line first included).
    static constexpr std::chrono::milliseconds kDefaultTimeout{1500};

  private:
    bool PortOpen() const { return !portOpen_ || portOpen_(); }

    ModbusMaster& master_;
    bus::LineSettings line_;
    std::function<bool()> portOpen_;
};

}  // namespace kelm
