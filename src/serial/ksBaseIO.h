#pragma once
// The device-independent base of the library's I/O components (TksBaseIO),
// with its two small utilities: the listener list (TksNotifyList) and a timer
// that fires on the GUI thread (TksTimer).
//
// Threads. Properties, open and close belong to the GUI thread. A device may
// be lost on a worker thread of a descendant; the members such a thread
// touches are protected as documented on each of them: the handle is atomic,
// the listener list has its own mutex and calls its listeners outside it, the
// plain flags read by workers are atomic.
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/Executor.h"
#include "serial/ksComponent.h"
#include "serial/ksTypes.h"

namespace kelm {

class TksBaseIO;

// Event types.
using TNotifyEvent = std::function<void(TksComponent* Sender)>;
using TOnReceived = std::function<void(TksBaseIO* Com, const uint8_t* Buffer, uint32_t Received)>;
using TOnSent = std::function<void(TksBaseIO* Com)>;
using TOnFatalErrorEvent =
    std::function<void(TksComponent* Sender, uint32_t ErrorCode, uint32_t Detail,
                       const std::string& ErrorMsg, bool& RaiseException)>;
using TDataSendEvent = std::function<void(TksComponent* Sender, const uint8_t* ptrBuffer,
                                          uint32_t Len, bool flSynchro, bool& flHandled)>;

// A listener: a handler and the object it belongs to. Two listeners are the
// same when both the object and the handler are the same; MakeNotifyEvent
// records the member function so that this can be compared.
struct TksNotifyEvent {
    const void* Target = nullptr;
    std::array<unsigned char, 2 * sizeof(void*)> HandlerKey{};
    std::function<void(TksComponent* Sender, int Code)> Handler;

    bool SameAs(const TksNotifyEvent& other) const {
        return Target == other.Target && HandlerKey == other.HandlerKey;
    }
};

// A listener on obj's member function m.
template <class T>
TksNotifyEvent MakeNotifyEvent(T* obj, void (T::*m)(TksComponent*, int)) {
    static_assert(sizeof(m) <= sizeof(TksNotifyEvent::HandlerKey));
    TksNotifyEvent e;
    e.Target = obj;
    std::memcpy(e.HandlerKey.data(), &m, sizeof(m));
    e.Handler = [obj, m](TksComponent* sender, int code) { (obj->*m)(sender, code); };
    return e;
}
// A listener on a free function or lambda, identified by (target, key).
inline TksNotifyEvent MakeNotifyEvent(const void* target, uintptr_t key,
                                      std::function<void(TksComponent*, int)> fn) {
    TksNotifyEvent e;
    e.Target = target;
    std::memcpy(e.HandlerKey.data(), &key, sizeof(key));
    e.Handler = std::move(fn);
    return e;
}

// The listener list. Thread-safe: its mutex guards the entries; Call() takes
// a copy first and calls the listeners without holding it, so a listener may
// add or remove listeners. A listener removed during a call (by an earlier
// listener, which may free its object) is not called any more; one added
// during a call is called from the next call on.
class TksNotifyList {
  public:
    int Add(const TksNotifyEvent& Item);
    void Delete(int index);
    void Clear();
    TksNotifyEvent Get(int Index) const;
    void Put(int Index, const TksNotifyEvent& Item);
    int IndexOf(const TksNotifyEvent& Item) const;
    int Count() const;
    // Calls every entry in list order: those present when the call starts
    // and still present when their turn comes.
    void Call(TksComponent* Sender, int Code) const;
    // Adds unless an equal entry exists; deletes the first equal entry.
    void AddUnique(const TksNotifyEvent& Item);
    void DeleteEqual(const TksNotifyEvent& Item);

  private:
    // An entry is shared with the calls running over it; removing it marks
    // it, so that a running call skips it.
    struct Entry {
        explicit Entry(const TksNotifyEvent& e) : event(e) {}
        TksNotifyEvent event;
        std::atomic<bool> removed{false};
    };
    void RemoveAt(std::size_t index);

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Entry>> items_;
};

// A timer that needs no form: fires OnTimer every Interval ms on the thread
// that created it, through that thread's executor loop. Without an executor
// (none given and no application executor) it never fires.
class TksTimer {
  public:
    explicit TksTimer(IExecutor* executor = nullptr);
    ~TksTimer();
    TksTimer(const TksTimer&) = delete;
    TksTimer& operator=(const TksTimer&) = delete;

    bool Enabled() const { return fEnabled; }
    void SetEnabled(bool Value);
    uint32_t Interval() const { return fInterval; }
    void SetInterval(uint32_t Value);
    const std::function<void(TksTimer* Sender)>& OnTimer() const { return fOnTimer; }
    void SetOnTimer(std::function<void(TksTimer* Sender)> Value);

  private:
    void UpdateTimer();
    void Fire();

    uint32_t fInterval = 1000;
    bool fEnabled = true;
    std::function<void(TksTimer* Sender)> fOnTimer;
    std::unique_ptr<IGuiTimer> fTimer;
    // Lets a tick that is already queued see that the timer is gone.
    std::shared_ptr<TksTimer*> fSelf;
};

// What the enumeration knows about one device. For ports Data is the port
// number and PortName what opens the port.
struct TksDevice {
    int Index() const { return fIndex; }
    TksBaseIO* Parent() const { return fParent; }

    int fIndex = -1;
    TksBaseIO* fParent = nullptr;
    TksHandle Handle = kInvalidHandle;
    uint32_t DevInst = 0;
    uint32_t DevInstParent = 0;
    int Data = 0;
    int DataEx = 0;
    std::string NameFriendly;
    std::string NamePDO;
    std::string NameDeviceDos;
    std::string NameSymbolic;
    std::string NameParentDevice;
    std::string RegKey;
    std::string Description;
    std::string Service;
    std::string Driver;
    std::string InstanceId;
    std::string InstanceIdParent;
    std::string BusRelations;
    std::string PortName;
    std::string Manufacturer;
    std::string SerialNumber;
    std::array<uint8_t, 16> GuidClass{};
    std::string DiskID;
    std::string NameVolume;
    int DiskNumber = -1;
};

// The device list: pairs of display text (the record's NameFriendly) and
// record. Records are shared with copies of the list (a port selector's
// items), so a reload never leaves a copy dangling.
struct TksDeviceListItem {
    std::string Text;
    std::shared_ptr<TksDevice> Device;
};
using TksDeviceList = std::vector<TksDeviceListItem>;

// What the base calls on an attached data processor. The processor classes
// (serial/ksProcessor.h) implement it.
class IksDataProcessor {
  public:
    virtual ~IksDataProcessor() = default;
    // The processor as a component, for destruction notices.
    virtual TksComponent* ProcessorComponent() = 0;
    virtual void SetDevice(TksBaseIO* Value) = 0;
    virtual void DoProcessing(const uint8_t* Data, uint32_t Len, TIgnoreTypes& R) = 0;
    virtual void DoAfterSendComplete(bool& flIgnore) = 0;
};

// What the base calls on an attached log sink. The sink may be called from
// the component's worker threads (a port lost while waiting), so an
// implementation must be thread-safe.
class IksLogSink {
  public:
    virtual ~IksLogSink() = default;
    virtual TksComponent* LogComponent() = 0;
    virtual void AddSysInfo() = 0;
    virtual void AddLog(TDetailLevel l, const std::string& s) = 0;
    virtual void AddLogFmt(TDetailLevel l, const std::string& Format,
                           const std::vector<TksFmtArg>& Args) = 0;
};

// An edit control used as terminal (the application implements it with a
// text widget). GUI thread only.
class IksTerminal {
  public:
    virtual ~IksTerminal() = default;
    virtual TksComponent* TerminalComponent() = 0;
    // The attach notice (message WM_KS_SETDEVICEIO): the component, or
    // nullptr when detached.
    virtual void SetDeviceIO(TksBaseIO* device) = 0;
    // Installs the component's hook for typed characters, or removes it
    // (nullptr). The hook returns true when the character must not be shown.
    virtual void SetCharHook(std::function<bool(uint16_t ch)> hook) = 0;
    // Shows one typed character (WM_CHAR, repeat count 1).
    virtual void TypeChar(uint16_t ch) = 0;
    // Inserts text at the caret; each byte is the character of that code.
    virtual void InsertText(const std::string& latin1) = 0;
};

// A control with a Boolean "Checked" property (the monitor controls).
class IksCheckable {
  public:
    virtual ~IksCheckable() = default;
    virtual void SetChecked(bool Value) = 0;
};

class TksBaseIO : public TksComponent {
  public:
    // executor: the GUI thread's executor; nullptr uses ApplicationExecutor().
    explicit TksBaseIO(IExecutor* executor = nullptr);
    ~TksBaseIO() override;

    // Open while the handle is valid (the stored flag while loading).
    bool Active() const;
    void SetActive(bool Value);

    IExecutor* Executor() const { return fExecutor; }

    // Listeners.
    virtual void NotifyAdd(const TksNotifyEvent& NotifyEvent);
    virtual void NotifyDelete(const TksNotifyEvent& NotifyEvent);
    const TksNotifyList& NotifyList() const { return ksNotifyList; }

    // Attached objects.
    IksLogSink* Log() const { return fLog; }
    void SetLog(IksLogSink* Value);
    IksDataProcessor* DataProcessor() const { return fDataProcessor; }
    void SetDataProcessor(IksDataProcessor* Value);
    IksTerminal* Terminal() const { return fTerminal; }
    void SetTerminal(IksTerminal* Value);
    TTerminalUsage TerminalUsage() const { return fTerminalUsage; }
    void SetTerminalUsage(TTerminalUsage Value);
    bool TerminalEcho() const { return fTerminalEcho; }
    void SetTerminalEcho(bool Value) {
        std::lock_guard g(fLock);
        fTerminalEcho = Value;
    }

    // Events.
    const TOnFatalErrorEvent& OnFatalError() const { return fOnFatalError; }
    void SetOnFatalError(TOnFatalErrorEvent Value) {
        std::lock_guard g(fLock);
        fOnFatalError = std::move(Value);
    }
    const TNotifyEvent& OnClose() const { return fOnClose; }
    void SetOnClose(TNotifyEvent Value) {
        std::lock_guard g(fLock);
        fOnClose = std::move(Value);
    }
    const TNotifyEvent& OnOpen() const { return fOnOpen; }
    void SetOnOpen(TNotifyEvent Value) {
        std::lock_guard g(fLock);
        fOnOpen = std::move(Value);
    }
    const TOnReceived& OnAfterReceive() const { return fOnReceived; }
    void SetOnAfterReceive(TOnReceived Value) {
        std::lock_guard g(fLock);
        fOnReceived = std::move(Value);
    }

    bool UseMainThread() const { return fUseMainThread.load(); }
    void SetUseMainThread(bool Value) { fUseMainThread.store(Value); }
    bool KeepConnection() const { return fKeepConnection.load(); }
    void SetKeepConnection(bool Value) { fKeepConnection.store(Value); }

    // The device handle, or kInvalidHandle.
    TksHandle Handle() const { return fHandle.load(); }

    // Device list.
    TksDevice* GetDevice(int Index) const;
    int GetDeviceCount() const { return static_cast<int>(slDevices.size()); }
    int DeviceCount() const { return GetDeviceCount(); }
    int IndexOfDevice(const TksDevice* aDevice) const;
    int IndexOfDeviceData(int aData) const;
    int AddDevice(std::shared_ptr<TksDevice> aDevice);
    // Sorted by Data; -1 when the number is listed already. Defined with the
    // port enumeration (Enum*.cpp).
    int AddDeviceSorted(std::shared_ptr<TksDevice> aDevice);
    void DeviceListClear();
    // Loads the list first when it is empty; then copies it into L when given.
    void GetDeviceList(TksDeviceList* L);
    const TksDeviceList& Devices() const { return slDevices; }
    int DeviceIndex() { return GetDeviceIndex(); }

    // Log lines (nothing without a sink).
    void Logging(TDetailLevel Det, const std::string& Mess);
    void LoggingFmt(TDetailLevel Det, const std::string& Mess, const std::vector<TksFmtArg>& Arg);
    const std::string& LogPrefix() const { return sLogPrefix; }

    // Applies the stored Terminal, TerminalUsage and Active after loading.
    void Loaded() override;
    void Notification(TksComponent* AComponent, TOperation Operation) override;

    // Virtual operations.
    virtual bool IsHandleValid() const;
    virtual void Update();
    virtual void SetDeviceIndex(int Value);
    virtual int GetDeviceIndex() = 0;
    virtual void DeviceListLoad() = 0;
    virtual void SendChar(uint16_t Ch) = 0;
    virtual void SendString(const std::string& S) = 0;
    void SendString(const std::vector<uint8_t>& S) { SendString(std::string(S.begin(), S.end())); }
    virtual void SendData(const uint8_t* Buff, uint32_t N) = 0;
    virtual void ClearDeviceInput() = 0;
    virtual void ClearDeviceOutput() = 0;
    virtual void ClearDeviceBuffers() = 0;
    // Device change handling (the platform's device-change notice with its
    // wParam and device type); true when it caused an Update. Defined with
    // the port enumeration (Enum*.cpp).
    bool WMDeviceChange(uint32_t wParam, uint32_t deviceType);

    // Keep-connection timer.
    virtual void TryConnectHandle(TksTimer* sender);
    void TryConnectRestart();
    void TryConnectStop();
    TksTimer* KeepConnectionTimer() const { return timerKeepConnection.get(); }

  protected:
    virtual TksHandle RequestDeviceHandle();
    virtual void RequestDeviceHandleClose(TksHandle aHandle);
    virtual bool IsReadNeeded() const;
    virtual void Open();
    virtual void Close();
    virtual void ThreadStart();
    virtual void ThreadStop();
    virtual void ThreadExecute(std::stop_token stop);
    virtual void DoFatalErrors(uint32_t Code, uint32_t Detail, const std::string& Msg,
                               bool flByThread);
    virtual void DoNotify(int CodeState);
    virtual bool DoInputData(const uint8_t* Data, uint32_t Len);
    virtual bool DoOutputData();
    virtual void UpdateTerminalByChars(const uint8_t* Buff, uint32_t Len);
    void DoInputDataInMainThread();

    // The base close's two halves: invalidate and close the handle (true
    // when it was valid), then the own thread and OnClose.
    bool CloseHandleOnly();
    void AfterHandleClosed();
    void RaiseOnClose();

    // The typed-character hook installed into the terminal.
    bool TerminalCharHook(uint16_t ch);

    IExecutor* const fExecutor;
    // Guards the component's state and events against a worker thread that
    // runs receive processing (when it does not run on the GUI thread). The
    // GUI thread takes it in every operation that changes what receive
    // processing reads. Recursive: handlers run with it held may call back.
    mutable std::recursive_mutex fLock;
    TksNotifyList ksNotifyList;
    // The attached objects as components, kept apart so that their
    // destruction notice is recognised without calling into them.
    TksComponent* fLogComp = nullptr;
    TksComponent* fDataProcessorComp = nullptr;
    TksComponent* fTerminalComp = nullptr;
    IksLogSink* fLog = nullptr;
    IksDataProcessor* fDataProcessor = nullptr;
    TOnFatalErrorEvent fOnFatalError;
    TksDeviceList slDevices;
    const uint8_t* threadData = nullptr;
    uint32_t threadDataSize = 0;
    IksTerminal* hTerminal = nullptr;  // the terminal while it shows received data
    TTerminalUsage fTerminalUsage = TTerminalUsage::tuNone;
    IksTerminal* fTerminal = nullptr;
    bool fTerminalEcho = false;
    bool fTerminalLocked = false;
    TNotifyEvent fOnClose, fOnOpen;
    std::jthread fThreadIO;
    TOnReceived fOnReceived;
    std::atomic<bool> fUseMainThread{true};
    std::atomic<bool> fKeepConnection{false};
    std::unique_ptr<TksTimer> timerKeepConnection;
    bool fActive = false;
    // Written by the GUI thread on open and close and by a worker thread
    // that finds the device lost; atomic so that Active reads it anywhere.
    std::atomic<TksHandle> fHandle{kInvalidHandle};
    std::string sLogPrefix = "TksBaseIO";
    bool flClearDeviceListWithFree = true;
    bool isThreaded = false;
    bool IsThreadIOTerminated = true;
};

}  // namespace kelm
