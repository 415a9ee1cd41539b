#pragma once
// The device the component uses: it opens a port name of the form
// scheme://... (tcp, rfc2217, mbtcp) over the network and any other name on
// the platform's serial backend, and forwards every later call to the one it
// opened. The choice is made in Open, which the component calls only while
// the port is closed and its threads have ended; the forwarding target is an
// atomic pointer to a device that lives as long as the router.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "serial/SerialDevice.h"

namespace kelm::net {

class NetPortRouter final : public ISerialDevice {
  public:
    using Factory = std::function<std::unique_ptr<ISerialDevice>()>;

    // local: the platform's serial backend; makeNet: creates the network
    // device when a network name is first opened.
    NetPortRouter(std::unique_ptr<ISerialDevice> local, Factory makeNet);

    int Open(const std::string& portName) override;
    int Adopt(TksHandle handle) override;
    bool Close() override { return Active().Close(); }
    bool IsOpen() const override { return Active().IsOpen(); }
    TksHandle NativeHandle() const override { return Active().NativeHandle(); }
    std::string ErrorText(int code) const override { return Active().ErrorText(code); }
    bool ApplyDcb(const TDCB& dcb) override { return Active().ApplyDcb(dcb); }
    bool ReadDcb(TDCB& dcb) override { return Active().ReadDcb(dcb); }
    bool SetupQueues(uint32_t in, uint32_t out) override { return Active().SetupQueues(in, out); }
    bool SetTimeouts(const TCommTimeouts& t) override { return Active().SetTimeouts(t); }
    bool SupportsRs485Toggle() override { return Active().SupportsRs485Toggle(); }
    bool SetRs485(bool enabled) override { return Active().SetRs485(enabled); }
    bool ClearError(uint32_t* errors, TComStat* stat) override {
        return Active().ClearError(errors, stat);
    }
    bool ReadNow(uint8_t* buf, uint32_t n, uint32_t* got) override {
        return Active().ReadNow(buf, n, got);
    }
    bool Read(uint8_t* buf, uint32_t n, uint32_t* got) override {
        return Active().Read(buf, n, got);
    }
    bool Write(const uint8_t* buf, uint32_t n, uint32_t* written, int* lastError) override {
        return Active().Write(buf, n, written, lastError);
    }
    bool Purge(uint32_t flags) override { return Active().Purge(flags); }
    bool Escape(uint32_t function) override { return Active().Escape(function); }
    bool ModemStatus(uint32_t* status) override { return Active().ModemStatus(status); }
    bool TransmitChar(uint8_t ch) override { return Active().TransmitChar(ch); }
    bool Flush() override { return Active().Flush(); }
    bool DrainTransmitter() override { return Active().DrainTransmitter(); }
    bool Properties(TCommProp* prop) override { return Active().Properties(prop); }
    void SetMask(uint32_t mask) override;
    uint32_t Mask() const override { return Active().Mask(); }
    WaitStatus Wait(uint32_t* events) override { return Active().Wait(events); }
    void Wake() override { Active().Wake(); }
    void NoteTransmit() override { Active().NoteTransmit(); }
    int LastError() const override { return Active().LastError(); }

    // The device calls go to now (for tests).
    ISerialDevice& Current() { return Active(); }

  private:
    ISerialDevice& Active() const { return *active_.load(); }
    // Makes target the device calls go to; false when another is open.
    bool Select(ISerialDevice* target);

    std::unique_ptr<ISerialDevice> local_;
    Factory makeNet_;
    std::mutex createMutex_;  // creation of net_
    std::unique_ptr<ISerialDevice> net_;
    std::atomic<ISerialDevice*> active_;
};

// The platform's serial backend with the network ports beside it.
std::unique_ptr<ISerialDevice> WithNetworkPorts(std::unique_ptr<ISerialDevice> local);

}  // namespace kelm::net
