#pragma once
// The serial port component: TksCustomComm (threads, reading, writing, line
// control, errors), TksCustomSerialComm (port number, opening by name, device
// list, configuration record) and TksComm (the published component).
//
// Threads and what protects what:
//  - The GUI thread sets properties, opens, closes and sends.
//  - The event thread (one per open port) only waits for driver events and
//    hands them to the dispatch thread's queue. It reads the handle (atomic),
//    the backend device (thread-safe by contract) and the atomic flags. When
//    the port vanishes it closes the handle itself and posts the rest of the
//    lost-port halt (OnClose, csClosed, keep-connection timer) to the thread
//    that runs receive processing, so that listeners never run concurrently
//    with it.
//  - The dispatch thread takes one event at a time and runs the receive
//    processing: on the GUI thread through the executor (UseMainThread, the
//    application's setting) and waits for it, or on itself.
//  - fLock (recursive, in the base) guards the component's state and events
//    against the dispatch thread when receive processing runs there; the GUI
//    thread holds it in every operation that changes what receive processing
//    reads. Open and close do not hold it while joining the threads, and the
//    event thread never takes it. With UseMainThread False, do not close the
//    port from inside an event the component raises on the GUI thread during
//    one of its own calls (a comm error of a send): the close would wait for
//    a dispatch thread that waits for that call to release the lock.
//  - Closing from the GUI thread while the dispatch thread waits for the GUI
//    thread withdraws the pending call (stop request) and joins; closing from
//    inside a handler of receive processing detaches the dispatch thread
//    instead, which then ends without touching the component.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/SerialDevice.h"
#include "serial/ksBaseIO.h"

namespace kelm {

class TksCustomComm;

using TOnTraceEvent = std::function<void(TksBaseIO* Com, TTraceStates Event)>;
using TOnCommErrorEvent = std::function<void(TksBaseIO* Com, uint32_t CommCode, uint32_t SysError,
                                             uint8_t State, bool& flFlashBuffers)>;

// A port the user names by hand (a bus behind the network): listed after the
// system's ports at every load of the device list, under its own number.
struct TksUserPort {
    uint16_t Number = 0;   // the port number (ComPortNo) that opens it
    std::string PortName;  // what the backend opens ("tcp://10.0.0.5:4001")
    std::string Text;      // the display text ("TCP 10.0.0.5:4001")
};

// Where SaveConfig/LoadConfig keep the configuration record.
enum class TksRegRoot { CurrentUser, LocalMachine };

// The port configuration dialog the application registers: shows the
// dialog for the named port on the record and returns true when the user
// confirmed (the record then holds the edits).
using TksConfigDialogFn = std::function<bool(const std::string& portName, TCommConfig& cfg)>;

class TksCustomComm : public TksBaseIO {
  public:
    explicit TksCustomComm(IExecutor* executor = nullptr);
    // With another backend (a future platform, or a scripted one in tests).
    TksCustomComm(IExecutor* executor, std::unique_ptr<ISerialDevice> device);
    ~TksCustomComm() override;

    // Line settings; each change rebuilds the DCB and, when open, reaches the
    // driver at once.
    uint32_t BaudRate() const;
    void SetBaudRate(uint32_t Value);
    TParity Parity() const;
    void SetParity(TParity Value);
    TStopBits StopBits() const;
    void SetStopBits(TStopBits Value);
    uint8_t ByteSize() const;
    // 4 to 8 are stored; any other value stores 8.
    void SetByteSize(uint8_t Value);
    char EventChar() const;
    void SetEventChar(char Value);
    TStreamProtocol StreamProtocol() const;
    void SetStreamProtocol(TStreamProtocol Value);
    bool RS485Mode() const;
    void SetRS485Mode(bool Value);

    TTraceStates TraceStates() const;
    void SetTraceStates(TTraceStates Value);
    // Current modem lines; empty when closed.
    TModemSignals ModemSignals();

    uint16_t BufferInSize() const;
    void SetBufferInSize(uint16_t Value);
    uint16_t BufferOutSize() const;
    void SetBufferOutSize(uint16_t Value);
    uint32_t TimeoutRead() const;
    void SetTimeoutRead(uint32_t Value);
    uint32_t TimeoutWrite() const;
    void SetTimeoutWrite(uint32_t Value);

    // Monitor controls: set from the modem lines at every trace report.
    TksComponent* MonitorCTS() const { return fMonitorCTS; }
    void SetMonitorCTS(TksComponent* Value) { SetMonitor(fMonitorCTS, Value); }
    TksComponent* MonitorDSR() const { return fMonitorDSR; }
    void SetMonitorDSR(TksComponent* Value) { SetMonitor(fMonitorDSR, Value); }
    TksComponent* MonitorRLSD() const { return fMonitorRLSD; }
    void SetMonitorRLSD(TksComponent* Value) { SetMonitor(fMonitorRLSD, Value); }
    TksComponent* MonitorRing() const { return fMonitorRing; }
    void SetMonitorRing(TksComponent* Value) { SetMonitor(fMonitorRing, Value); }

    // Events.
    const TOnSent& OnAfterSend() const { return fOnSent; }
    void SetOnAfterSend(TOnSent Value);
    const TOnTraceEvent& OnTraceState() const { return fOnTraceState; }
    void SetOnTraceState(TOnTraceEvent Value);
    const TOnCommErrorEvent& OnCommError() const { return fOnCommError; }
    void SetOnCommError(TOnCommErrorEvent Value);

    // Public, not stored.
    std::string ComName() { return GetPortName(); }
    uint32_t ReadyForRead();
    uint32_t NotYetSend();
    const TCommProp* CommProp();
    uint32_t TotalReceived() const;
    uint32_t TotalSent() const;
    const std::string& LastErrorString() const { return fLastErrorString; }
    // The whole configuration, DCB inside (read only here; the line
    // utilities and the configuration dialog change it).
    const TCommConfig& CommConfig() const { return CommCfg; }
    const TCommTimeouts& CommTimeouts() const { return fCommTimeouts; }
    // Whether the component drives RTS itself in RS-485 mode.
    bool IsNotSupportRS485() const { return fIsNotSupportRS485; }
    // The receive buffer's size while open, 0 when closed.
    uint32_t ReceiveBufferSize() const;

    // Sending. None of them raises for a closed port or a failed write.
    void SendChar(uint16_t Ch) override;
    void SendString(const std::string& S) override;
    using TksBaseIO::SendString;
    void SendData(const uint8_t* Buff, uint32_t N) override;
    void SendAheadChar(uint16_t Ch);
    void ClearDeviceInput() override;
    void ClearDeviceOutput() override;
    void ClearDeviceBuffers() override;

    virtual std::string GetPortName();

    // ---- Line control and port utilities (defined in ksLineUtils*.cpp) ----
    void Read(uint8_t* Buffer, uint32_t Len);
    void ReadAll(uint8_t* Buffer);
    int ReadMax(uint8_t* Buffer, int MaxLen);
    std::string ReadString();
    void FlushOutputBuffer();
    void SetStateDTR(bool State);
    void SetStateRTS(bool State);
    void SetStateX(bool State);
    void SetStateBreak(bool State);
    bool WaitForBytes(uint32_t Count, uint32_t Ms);
    bool WaitForSignal(TModemSignal Signal, uint32_t Ms);
    void ConfigDialog();
    // Reads the settings back from the driver and derives StreamProtocol and
    // RS485Mode from the flags.
    void DCBUpdate();
    // The dialog ConfigDialog shows; registered by the application.
    const TksConfigDialogFn& ConfigDialogProvider() const { return fConfigDialog; }
    void SetConfigDialogProvider(TksConfigDialogFn fn) { fConfigDialog = std::move(fn); }

    // The backend; for the line utilities and tests.
    ISerialDevice& Device() { return *fDevice; }

    // Reporting a set of trace states: monitor controls, then OnTraceState.
    void DoTraceStates(TksBaseIO* Com, TTraceStates Event);

  protected:
    // Closes the port and ends the threads. Each destructor level calls it
    // first, so that no worker thread runs while the object is taken apart.
    void ShutDown();

    // Thread message queue of the dispatch thread, shared with it so that a
    // detached dispatch thread never touches a component that is gone.
    struct DispatchQueue {
        // mutex guards everything below; cv signals a new message.
        std::mutex mutex;
        std::condition_variable_any cv;
        std::deque<uint32_t> events;  // msgComEvent masks, in arrival order
        bool lost = false;            // a lost-port halt waits to be finished
        bool quit = false;            // msgQComEvent
        bool inProcessing = false;    // an event is being handled
    };
    void Open() override;
    void Close() override;
    void ThreadStart() override;
    void ThreadStop() override;
    void Notification(TksComponent* AComponent, TOperation Operation) override;
    TksHandle RequestDeviceHandle() override;
    void RequestDeviceHandleClose(TksHandle aHandle) override;
    virtual void InitAfterOpen();
    virtual char GetEventChar() const { return EventChar(); }
    virtual void DoCommError(uint32_t CommCode, uint32_t SysError, uint8_t State);
    // Opens the backend on the named port; kInvalidHandle on failure with
    // the error code kept for the open-failure message.
    TksHandle OpenPortByName(const std::string& name);
    TksHandle AdoptHandle(TksHandle handle);

    // DCB building and applying.
    void DCBApply();
    // The event mask for the driver from TraceStates.
    uint32_t BuildEventMask() const;
    void ApplyEventMask();
    // Component drives RTS for RS-485 now.
    bool Rs485Emulated() const { return fRS485Mode && fIsNotSupportRS485; }
    void Rs485RaiseRts();
    // Drops RTS, after the output has left the transmitter when drain is set.
    void Rs485DropRts(bool drain);
    void Rs485DropRtsNow();
    // Whether a write's system error means the device has gone.
    static bool IsLostPortError(int error);
    // Starts the keep-connection timer on the GUI thread.
    void RestartKeepConnection();
    void TryConnectHandle(TksTimer* sender) override;
    // Runs fn on the GUI thread when there is one and it is not this thread
    // (posted, not waited for); otherwise at once.
    void RunOnGuiThread(std::function<void()> fn);

    // Halt: shared by close and by lost-port detection.
    void ForceHalt(bool byOwner);
    // The event thread found the port lost: close the handle and have the
    // rest of the halt run where receive processing runs.
    void HaltLostFromEventThread(const std::shared_ptr<DispatchQueue>& q);
    // The rest of a lost-port halt, run once (whoever comes first: the
    // posted call or the next open or close).
    void FinishLostHalt();

    // Receive processing of one driver event.
    void WinProc(uint32_t mask, uint64_t openGen);
    void EventThreadRun(std::stop_token stop, std::shared_ptr<DispatchQueue> q);

    // Writes n bytes (ahead: the one byte ahead of queued output), with
    // RS-485 direction, totals, and a comm error (and a lost port) on failure.
    bool WriteBytes(const uint8_t* data, uint32_t n, bool ahead = false);

    static void DispatchThreadRun(std::stop_token stop, std::shared_ptr<DispatchQueue> q,
                                  TksCustomComm* com);
    // Posts an event mask to the dispatch thread; a mask is merged into one
    // that has not been taken yet (that one reads all queued bytes anyway).
    static void PostComEvent(DispatchQueue& q, uint32_t mask);

    void SetMonitor(TksComponent*& field, TksComponent* Value);
    static void SetMonitorChecked(TksComponent* control, bool value);

    std::unique_ptr<ISerialDevice> fDevice;
    std::jthread MsgThread;
    std::jthread CommThread;
    std::shared_ptr<DispatchQueue> fQueue;
    TComStat Stat;
    TCommProp ComProp;
    TCommTimeouts fCommTimeouts;
    std::string fLastErrorString;
    int fLastOpenError = 0;
    uint32_t fTotalSent = 0;
    uint32_t fTotalReceived = 0;
    TOnSent fOnSent;
    TTraceStates fTraceStates;
    uint16_t fBufferOutSize = 8192;
    uint16_t fBufferInSize = 8192;
    std::vector<uint8_t> glBuffer;
    bool fRS485Mode = false;
    TksComponent* fMonitorRLSD = nullptr;
    TksComponent* fMonitorRing = nullptr;
    TksComponent* fMonitorCTS = nullptr;
    TksComponent* fMonitorDSR = nullptr;
    bool fIsNotSupportRS485 = true;
    TStreamProtocol fProtocol = TStreamProtocol::spHardware;
    TOnTraceEvent fOnTraceState;
    TOnCommErrorEvent fOnCommError;
    TCommConfig CommCfg;
    TksConfigDialogFn fConfigDialog;
    // Counts opens; receive processing stops when the port it started on is
    // no longer the open one.
    std::atomic<uint64_t> fOpenGen{0};
    // Set by the event thread when it closed a lost port; cleared by whoever
    // finishes the halt.
    std::atomic<bool> fLostPending{false};
    // Lets a posted lost-port completion see that the component is gone.
    std::shared_ptr<TksCustomComm*> fAlive;
    // The thread running receive processing now, if any: a close from there
    // cannot join the dispatch thread, which waits for it.
    std::atomic<std::thread::id> fProcessingThread{};
};

class TksCustomSerialComm : public TksCustomComm {
  public:
    explicit TksCustomSerialComm(IExecutor* executor = nullptr);
    TksCustomSerialComm(IExecutor* executor, std::unique_ptr<ISerialDevice> device);
    ~TksCustomSerialComm() override;

    uint16_t ComPortNo() const { return fComPortNo; }
    // Closes an open port, stores the number and reopens (a failure to
    // reopen raises as an open does), then notifies csDeviceIdChanged.
    void SetComPortNo(uint16_t Value);
    TComPort ComPort() const;
    void SetComPort(TComPort Value);
    TksEnumPorts EnumPorts() const { return fEnumPorts; }
    void SetEnumPorts(TksEnumPorts Value) { fEnumPorts = Value; }

    std::string GetPortName() override;
    void Update() override;

    // The user's ports, listed after the system's at every load (a number
    // the system already lists keeps the system's port). Takes effect at the
    // next load of the list (Update).
    const std::vector<TksUserPort>& UserPorts() const { return fUserPorts; }
    void SetUserPorts(std::vector<TksUserPort> Ports) { fUserPorts = std::move(Ports); }

    // ---- Port enumeration (defined with the port enumeration, Enum*.cpp) ----
    void DeviceListLoad() override;
    void SetDeviceIndex(int Value) override;
    int GetDeviceIndex() override;

    // ---- Port utilities (defined in ksLineUtils*.cpp) ----
    void SaveConfig(TksRegRoot Root, const std::string& Key, const std::string& Name);
    void LoadConfig(TksRegRoot Root, const std::string& Key, const std::string& Name);
    std::string GetPNPDeviceString();
    void InitDeviceConnect();
    void SetExtHandle(TksHandle aHandle);

  protected:
    TksHandle RequestDeviceHandle() override;

    uint16_t fComPortNo = 1;
    TksHandle fExtHandle = kInvalidHandle;
    TksEnumPorts fEnumPorts = TksEnumPorts::epQuickAll;
    std::vector<TksUserPort> fUserPorts;
};

// The component as the main window places it (ksComm1). Adds no behaviour.
class TksComm : public TksCustomSerialComm {
  public:
    explicit TksComm(IExecutor* executor = nullptr) : TksCustomSerialComm(executor) {}
    TksComm(IExecutor* executor, std::unique_ptr<ISerialDevice> device)
        : TksCustomSerialComm(executor, std::move(device)) {}
    // The port closes and the threads end while the object is still whole.
    ~TksComm() override { ShutDown(); }
};

}  // namespace kelm
