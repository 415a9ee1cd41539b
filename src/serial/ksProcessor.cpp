#include "serial/ksProcessor.h"

#include "serial/ksComm.h"

namespace kelm {

// ---- TksCustomLogFile ----

void TksCustomLogFile::DoFatalErrors(uint32_t Code, uint32_t Detail, const std::string& Msg) {
    bool raise = true;
    if (fOnFatalError) fOnFatalError(this, Code, Detail, Msg, raise);
    if (raise) throw EksError(Msg, Code, Detail);
}

// ---- TksCustomDataProcessor ----

TksCustomDataProcessor::TksCustomDataProcessor(IExecutor* executor)
    : fTimerAsync(std::make_unique<TksTimer>(executor)) {
    fTimerAsync->SetEnabled(false);
    fTimerAsync->SetOnTimer([this](TksTimer* sender) { DoAsyncTimeout(sender); });
}

TksCustomDataProcessor::~TksCustomDataProcessor() {
    // Leave the device while this object is still whole: the component base
    // would otherwise tell the device about our removal only after the
    // derived parts are gone, and the device would call into them.
    if (fDevice && fDevice->DataProcessor() == this) {
        fDevice->SetDataProcessor(nullptr);
    }
    SetDevice(nullptr);
    fTimerAsync->SetEnabled(false);
    fTimerAsync.reset();
}

void TksCustomDataProcessor::DetachDevice(bool deviceAlive) {
    if (fDevice && deviceAlive) {
        fDevice->NotifyDelete(MakeNotifyEvent(this, &TksCustomDataProcessor::DoHandleNotify));
    }
    fDevice = nullptr;
}

void TksCustomDataProcessor::SetDevice(TksBaseIO* Value) {
    if ((Value == nullptr || Value != fDevice) && fDevice) DetachDevice(true);
    fDevice = Value;
    if (fDevice) {
        FreeNotification(fDevice);
        fDevice->NotifyAdd(MakeNotifyEvent(this, &TksCustomDataProcessor::DoHandleNotify));
    }
}

void TksCustomDataProcessor::SetDataProcessor(TksCustomDataProcessor* Value) {
    if (Value == this) return;
    for (auto* p = Value; p != nullptr; p = p->fDataProcessor) {
        if (p == this) return;  // would make a loop
    }
    fDataProcessor = Value;
    if (fDataProcessor) {
        FreeNotification(fDataProcessor);
        fDataProcessor->SetDevice(fDevice);
    }
}

void TksCustomDataProcessor::SetLog(TksCustomLogFile* Value) {
    fLog = Value;
    if (fLog) FreeNotification(fLog);
}

void TksCustomDataProcessor::DoHandleNotify(TksComponent* /*Sender*/, int CodeState) {
    if (CodeState == csClosed) {
        DoMediumClosed();
    } else if (CodeState == csOpened) {
        DoMediumOpened();
    }
}

void TksCustomDataProcessor::DoMediumClosed() {
    Logging(TDetailLevel::dlDebug, "Medium Closed");
}

void TksCustomDataProcessor::DoMediumOpened() {
    Logging(TDetailLevel::dlDebug, "Medium Opened");
}

void TksCustomDataProcessor::DoDataSend(const uint8_t* pBuff, uint32_t Len) {
    if (Len == 0 || pBuff == nullptr) return;
    try {
        bool handled = false;
        if (fOnDataSend) fOnDataSend(this, pBuff, Len, false, handled);
        if (handled) {
            // Restart: DoAsyncTimeout follows after the interval unless
            // ResetTimeout changes it first.
            fTimerAsync->SetEnabled(false);
            fTimerAsync->SetEnabled(true);
        } else {
            if (fDevice == nullptr) return;  // nowhere to send: nothing done
            fDevice->SendData(pBuff, Len);
            if (auto* comm = dynamic_cast<TksCustomComm*>(fDevice)) comm->FlushOutputBuffer();
        }
        LoggingFmt(TDetailLevel::dlDebug, "DoDataSend: %u bytes", {uint64_t{Len}});
    } catch (...) {
        // A send through a processor never raises; the device reports write
        // failures through its own events.
    }
}

void TksCustomDataProcessor::DoStringSend(const std::string& sBuff) {
    if (sBuff.empty()) return;
    try {
        bool handled = false;
        if (fOnDataSend) {
            fOnDataSend(this, reinterpret_cast<const uint8_t*>(sBuff.data()),
                        static_cast<uint32_t>(sBuff.size()), true, handled);
        }
        if (!handled && fDevice) fDevice->SendString(sBuff);
    } catch (...) {
        // As in DoDataSend.
    }
}

void TksCustomDataProcessor::DoAsyncTimeout(TksTimer* /*Sender*/) {
    fTimerAsync->SetEnabled(false);
    bool ignore = false;
    DoAfterSendComplete(ignore);
}

void TksCustomDataProcessor::ResetTimeout(uint32_t aTimeout) {
    fTimerAsync->SetEnabled(false);
    if (aTimeout != 0) {
        fTimerAsync->SetInterval(aTimeout);
        fTimerAsync->SetEnabled(true);
    }
}

void TksCustomDataProcessor::DoFatalErrors(uint32_t Code, uint32_t Detail, const std::string& Msg) {
    bool raise = true;
    if (fOnFatalError) fOnFatalError(this, Code, Detail, Msg, raise);
    if (fLog) {
        fLog->AddLogFmt(TDetailLevel::dlSimple, "Fatal Error: %u, %u, %s",
                        {uint64_t{Code}, uint64_t{Detail}, Msg});
    }
    if (raise) throw EksError(Msg, Code, Detail);
}

void TksCustomDataProcessor::DoProcessing(const uint8_t* Data, uint32_t Len, TIgnoreTypes& R) {
    if (fDataProcessor) fDataProcessor->DoProcessing(Data, Len, R);
}

void TksCustomDataProcessor::DataReceive(const uint8_t* ptrBuffer, uint32_t Len) {
    TIgnoreTypes R;
    DoProcessing(ptrBuffer, Len, R);
}

void TksCustomDataProcessor::DoAfterSendComplete(bool& /*flIgnore*/) {
    // The base claims nothing: OnAfterSend runs as usual.
}

void TksCustomDataProcessor::Notification(TksComponent* AComponent, TOperation Operation) {
    TksComponent::Notification(AComponent, Operation);
    if (Operation != TOperation::opRemove || AComponent == nullptr) return;
    if (fDataProcessor && AComponent == fDataProcessor) fDataProcessor = nullptr;
    // The device is being destroyed: its listener list is already gone.
    if (fDevice && AComponent == fDevice) DetachDevice(false);
    if (fLog && AComponent == fLog) fLog = nullptr;
}

void TksCustomDataProcessor::Logging(TDetailLevel Det, const std::string& Mess) {
    if (fLog) fLog->AddLog(Det, sLogPrefix + Mess);
}

void TksCustomDataProcessor::LoggingFmt(TDetailLevel Det, const std::string& Mess,
                                        const std::vector<TksFmtArg>& Arg) {
    if (fLog) fLog->AddLogFmt(Det, KsFormatLiteral(sLogPrefix) + Mess, Arg);
}

}  // namespace kelm
