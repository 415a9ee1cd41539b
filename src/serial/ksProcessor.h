#pragma once
// Data processors and log sinks: the two pluggable companions of an I/O
// component.
//
// A data processor sees every received chunk before the terminal and
// OnAfterReceive (and may keep it out of the terminal), may take over or
// watch outgoing data, and is told when a transmission is complete.
// Processors chain: each base DoProcessing hands the data on to the next one.
// A log sink receives the component's log lines with a detail level.
//
// Threads. A processor runs on the thread that calls it: received data on
// the thread that delivers it (the GUI thread for the serial component with
// UseMainThread), sends on the caller's thread, medium notices on whatever
// thread opens, closes or loses the device. Its time-out timer fires on the
// GUI thread through the executor. Log sinks may be called from any of these
// threads, so a concrete sink must be thread-safe (TksStreamLog is).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/ksBaseIO.h"

namespace kelm {

class TksCustomLogFile : public TksComponent, public IksLogSink {
  public:
    TksComponent* LogComponent() override { return this; }

    const TOnFatalErrorEvent& OnFatalError() const { return fOnFatalError; }
    void SetOnFatalError(TOnFatalErrorEvent Value) { fOnFatalError = std::move(Value); }

    // OnFatalError (which may clear the raise flag), then throws EksError
    // with Msg unless the flag was cleared.
    virtual void DoFatalErrors(uint32_t Code, uint32_t Detail, const std::string& Msg);

    // What a concrete sink provides.
    virtual void Save() = 0;
    virtual void Clear() = 0;
    virtual void Add(const std::string& s) = 0;
    virtual void AddFmt(const std::string& Format, const std::vector<TksFmtArg>& Args) = 0;
    // AddSysInfo, AddLog and AddLogFmt come from IksLogSink.

  protected:
    TOnFatalErrorEvent fOnFatalError;
};

class TksCustomDataProcessor : public TksComponent, public IksDataProcessor {
  public:
    // executor: the GUI thread's executor for the time-out timer; nullptr
    // uses the application's.
    explicit TksCustomDataProcessor(IExecutor* executor = nullptr);
    ~TksCustomDataProcessor() override;

    TksComponent* ProcessorComponent() override { return this; }

    // The component served, or nullptr.
    TksBaseIO* Device() const { return fDevice; }
    void SetDevice(TksBaseIO* Value) override;

    // The next processor of the chain. A processor that would close a loop
    // (itself, or one whose chain leads back here) is refused: received
    // data would circle for ever.
    TksCustomDataProcessor* DataProcessor() const { return fDataProcessor; }
    virtual void SetDataProcessor(TksCustomDataProcessor* Value);

    TksCustomLogFile* Log() const { return fLog; }
    void SetLog(TksCustomLogFile* Value);

    bool Active() const { return fActive; }
    virtual void SetActive(bool Value) { fActive = Value; }

    const TOnFatalErrorEvent& OnFatalError() const { return fOnFatalError; }
    void SetOnFatalError(TOnFatalErrorEvent Value) { fOnFatalError = std::move(Value); }
    const TDataSendEvent& OnDataSend() const { return fOnDataSend; }
    void SetOnDataSend(TDataSendEvent Value) { fOnDataSend = std::move(Value); }

    const std::string& LogPrefix() const { return sLogPrefix; }
    void SetLogPrefix(std::string Value) { sLogPrefix = std::move(Value); }

    // The time-out timer for sends a handler took over (disabled at first).
    TksTimer& TimerAsync() { return *fTimerAsync; }

    // Listener registered with the device: csClosed and csOpened only.
    virtual void DoHandleNotify(TksComponent* Sender, int CodeState);
    virtual void DoMediumClosed();
    virtual void DoMediumOpened();

    // Sends through the processor (see the .cpp for the rules).
    virtual void DoDataSend(const uint8_t* pBuff, uint32_t Len);
    virtual void DoStringSend(const std::string& sBuff);
    virtual void DoAsyncTimeout(TksTimer* Sender);
    virtual void ResetTimeout(uint32_t aTimeout);

    // OnFatalError, the sink's "Fatal Error" line, then EksError unless the
    // handler cleared the raise flag.
    virtual void DoFatalErrors(uint32_t Code, uint32_t Detail, const std::string& Msg);

    // Received data. The base hands it on to the next processor with the
    // same ignore set; a concrete processor adds itTerminal to R to keep
    // the data out of the terminal.
    void DoProcessing(const uint8_t* Data, uint32_t Len, TIgnoreTypes& R) override;
    // Feeds data as if received, with an empty ignore set.
    virtual void DataReceive(const uint8_t* ptrBuffer, uint32_t Len);
    // End of a transmission: a processor sets flIgnore to stop OnAfterSend.
    // The base leaves it as it is.
    void DoAfterSendComplete(bool& flIgnore) override;

    void Notification(TksComponent* AComponent, TOperation Operation) override;

  protected:
    void Logging(TDetailLevel Det, const std::string& Mess);
    void LoggingFmt(TDetailLevel Det, const std::string& Mess, const std::vector<TksFmtArg>& Arg);

    TksBaseIO* fDevice = nullptr;
    TksCustomDataProcessor* fDataProcessor = nullptr;
    bool fActive = false;
    TOnFatalErrorEvent fOnFatalError;
    TksCustomLogFile* fLog = nullptr;
    TDataSendEvent fOnDataSend;
    std::unique_ptr<TksTimer> fTimerAsync;
    std::string sLogPrefix;

  private:
    // Drops the device; with deviceAlive false (it is being destroyed) its
    // listener list is no longer touched.
    void DetachDevice(bool deviceAlive);
};

}  // namespace kelm
