#include "serial/ksBaseIO.h"

#include <cinttypes>
#include <cstdio>
#include <string_view>

namespace kelm {

// ---------------------------------------------------------------- KsFormat

std::string KsFormat(const std::string& format, const std::vector<TksFmtArg>& args) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        // %[-][0][width](s|d|u|x|X)
        std::size_t j = i + 1;
        bool left = false, zero = false;
        while (j < format.size() && (format[j] == '-' || format[j] == '0')) {
            (format[j] == '-' ? left : zero) = true;
            ++j;
        }
        int width = 0;
        while (j < format.size() && format[j] >= '0' && format[j] <= '9' && width < 1000)
            width = width * 10 + (format[j++] - '0');
        if (j >= format.size() || std::string_view("sduxX").find(format[j]) == std::string::npos ||
            next >= args.size()) {
            out += format.substr(i, j - i + (j < format.size() ? 1 : 0));
            i = j;
            continue;
        }
        const char conv = format[j];
        const TksFmtArg& a = args[next++];
        std::string text;
        if (conv == 's') {
            if (const auto* s = std::get_if<std::string>(&a))
                text = *s;
            else if (const auto* u = std::get_if<uint64_t>(&a))
                text = std::to_string(*u);
            else
                text = std::to_string(std::get<int64_t>(a));
        } else {
            int64_t sv = 0;
            uint64_t uv = 0;
            if (const auto* u = std::get_if<uint64_t>(&a)) {
                uv = *u;
                sv = static_cast<int64_t>(*u);
            } else if (const auto* s = std::get_if<int64_t>(&a)) {
                sv = *s;
                uv = static_cast<uint64_t>(*s);
            } else {
                text = std::get<std::string>(a);  // a string where a number was asked
            }
            if (text.empty()) {
                char buf[32];
                if (conv == 'd')
                    std::snprintf(buf, sizeof buf, "%" PRId64, sv);
                else if (conv == 'u')
                    std::snprintf(buf, sizeof buf, "%" PRIu64, uv);
                else if (conv == 'x')
                    std::snprintf(buf, sizeof buf, "%" PRIx64, uv);
                else
                    std::snprintf(buf, sizeof buf, "%" PRIX64, uv);
                text = buf;
            }
        }
        if (static_cast<int>(text.size()) < width) {
            const std::size_t pad = static_cast<std::size_t>(width) - text.size();
            if (left)
                text.append(pad, ' ');
            else if (zero && conv != 's')
                text.insert(text[0] == '-' ? 1 : 0, pad, '0');
            else
                text.insert(0, pad, ' ');
        }
        out += text;
        i = j;
    }
    return out;
}

std::string KsFormatLiteral(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        out += c;
        if (c == '%') out += '%';
    }
    return out;
}

// ----------------------------------------------------------- TksNotifyList

void TksNotifyList::RemoveAt(std::size_t index) {
    items_[index]->removed = true;
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
}

int TksNotifyList::Add(const TksNotifyEvent& Item) {
    std::lock_guard lock(mutex_);
    items_.push_back(std::make_shared<Entry>(Item));
    return static_cast<int>(items_.size()) - 1;
}

void TksNotifyList::Delete(int index) {
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= static_cast<int>(items_.size())) return;
    RemoveAt(static_cast<std::size_t>(index));
}

void TksNotifyList::Clear() {
    std::lock_guard lock(mutex_);
    for (auto& e : items_) e->removed = true;
    items_.clear();
}

TksNotifyEvent TksNotifyList::Get(int Index) const {
    std::lock_guard lock(mutex_);
    if (Index < 0 || Index >= static_cast<int>(items_.size())) return {};
    return items_[static_cast<std::size_t>(Index)]->event;
}

void TksNotifyList::Put(int Index, const TksNotifyEvent& Item) {
    std::lock_guard lock(mutex_);
    if (Index < 0 || Index >= static_cast<int>(items_.size())) return;
    auto& slot = items_[static_cast<std::size_t>(Index)];
    slot->removed = true;  // a running call does not call the replaced one
    slot = std::make_shared<Entry>(Item);
}

int TksNotifyList::IndexOf(const TksNotifyEvent& Item) const {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i]->event.SameAs(Item)) return static_cast<int>(i);
    return -1;
}

int TksNotifyList::Count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(items_.size());
}

void TksNotifyList::Call(TksComponent* Sender, int Code) const {
    std::vector<std::shared_ptr<Entry>> snapshot;
    {
        std::lock_guard lock(mutex_);
        snapshot = items_;
    }
    for (const auto& e : snapshot)
        if (!e->removed && e->event.Handler) e->event.Handler(Sender, Code);
}

void TksNotifyList::AddUnique(const TksNotifyEvent& Item) {
    std::lock_guard lock(mutex_);
    for (const auto& e : items_)
        if (e->event.SameAs(Item)) return;
    items_.push_back(std::make_shared<Entry>(Item));
}

void TksNotifyList::DeleteEqual(const TksNotifyEvent& Item) {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (items_[i]->event.SameAs(Item)) {
            RemoveAt(i);
            return;
        }
    }
}

// ---------------------------------------------------------------- TksTimer

TksTimer::TksTimer(IExecutor* executor) : fSelf(std::make_shared<TksTimer*>(this)) {
    IExecutor* ex = executor ? executor : ApplicationExecutor();
    if (ex) fTimer = ex->CreateTimer();
}

TksTimer::~TksTimer() {
    if (fTimer) fTimer->SetEnabled(false);
    fTimer.reset();
}

void TksTimer::SetEnabled(bool Value) {
    if (Value == fEnabled) return;
    fEnabled = Value;
    UpdateTimer();
}

void TksTimer::SetInterval(uint32_t Value) {
    if (Value == fInterval) return;
    fInterval = Value;
    UpdateTimer();
}

void TksTimer::SetOnTimer(std::function<void(TksTimer*)> Value) {
    fOnTimer = std::move(Value);
    UpdateTimer();
}

void TksTimer::UpdateTimer() {
    if (!fTimer) return;
    fTimer->SetEnabled(false);
    if (fInterval != 0 && fEnabled && fOnTimer) {
        std::weak_ptr<TksTimer*> self = fSelf;
        fTimer->SetOnTimer([self] {
            if (auto p = self.lock()) (*p)->Fire();
        });
        fTimer->SetInterval(static_cast<int>(fInterval > 0x7FFFFFFF ? 0x7FFFFFFF : fInterval));
        fTimer->SetEnabled(true);
    }
}

void TksTimer::Fire() {
    if (!fEnabled || !fOnTimer) return;
    auto handler = fOnTimer;  // the handler may replace itself
    try {
        handler(this);
    } catch (...) {
        // A timer handler's exception is swallowed.
    }
}

// --------------------------------------------------------------- TksBaseIO

TksBaseIO::TksBaseIO(IExecutor* executor)
    : fExecutor(executor ? executor : ApplicationExecutor()) {}

TksBaseIO::~TksBaseIO() {
    if (timerKeepConnection) {
        timerKeepConnection->SetEnabled(false);
        timerKeepConnection.reset();
    }
    ThreadStop();
    if (fTerminal) {
        fTerminal->SetCharHook(nullptr);
        fTerminal->SetDeviceIO(nullptr);
    }
    if (fDataProcessor) fDataProcessor->SetDevice(nullptr);
    DeviceListClear();
    ksNotifyList.Clear();
}

bool TksBaseIO::Active() const {
    if (Loading() || Designing()) return fActive;
    return IsHandleValid();
}

void TksBaseIO::SetActive(bool Value) {
    if (Loading()) {
        fActive = Value;
        return;
    }
    if (Value != Active() || Designing()) {
        if (Value)
            Open();
        else
            Close();
    }
}

bool TksBaseIO::IsHandleValid() const {
    return fHandle.load() != kInvalidHandle;
}

void TksBaseIO::Loaded() {
    TksComponent::Loaded();
    try {
        SetTerminal(fTerminal);
        SetTerminalUsage(fTerminalUsage);
        SetActive(fActive);
    } catch (...) {
        if (fExecutor) fExecutor->ShowError("Error", "error");
    }
}

void TksBaseIO::Notification(TksComponent* AComponent, TOperation Operation) {
    TksComponent::Notification(AComponent, Operation);
    if (Operation != TOperation::opRemove || AComponent == nullptr) return;
    // The object is being destroyed: forget it without calling into it (it
    // detaches itself from us on its way out).
    if (AComponent == fDataProcessorComp) {
        fDataProcessor = nullptr;
        fDataProcessorComp = nullptr;
    } else if (AComponent == fTerminalComp) {
        fTerminal = nullptr;
        fTerminalComp = nullptr;
        hTerminal = nullptr;
    } else if (AComponent == fLogComp) {
        fLog = nullptr;
        fLogComp = nullptr;
    }
}

void TksBaseIO::NotifyAdd(const TksNotifyEvent& NotifyEvent) {
    ksNotifyList.AddUnique(NotifyEvent);
}

void TksBaseIO::NotifyDelete(const TksNotifyEvent& NotifyEvent) {
    ksNotifyList.DeleteEqual(NotifyEvent);
}

void TksBaseIO::DoNotify(int CodeState) {
    ksNotifyList.Call(this, CodeState);
}

void TksBaseIO::SetLog(IksLogSink* Value) {
    std::lock_guard g(fLock);
    fLog = Value;
    fLogComp = Value ? Value->LogComponent() : nullptr;
    if (fLogComp) FreeNotification(fLogComp);
}

void TksBaseIO::SetDataProcessor(IksDataProcessor* Value) {
    std::lock_guard g(fLock);
    if (fDataProcessor && fDataProcessor != Value) fDataProcessor->SetDevice(nullptr);
    fDataProcessor = Value;
    fDataProcessorComp = Value ? Value->ProcessorComponent() : nullptr;
    if (Value) {
        Value->SetDevice(this);
        FreeNotification(fDataProcessorComp);
    }
}

void TksBaseIO::SetTerminal(IksTerminal* Value) {
    std::lock_guard g(fLock);
    if (Loading()) {
        fTerminal = Value;
        fTerminalComp = Value ? Value->TerminalComponent() : nullptr;
        return;
    }
    if (fTerminal) {
        fTerminal->SetCharHook(nullptr);
        fTerminal->SetDeviceIO(nullptr);
    }
    if (Value) {
        Value->SetDeviceIO(this);
        Value->SetCharHook([this](uint16_t ch) { return TerminalCharHook(ch); });
    }
    hTerminal = nullptr;
    fTerminal = Value;
    fTerminalComp = Value ? Value->TerminalComponent() : nullptr;
    SetTerminalUsage(fTerminalUsage);
    if (fTerminalComp) FreeNotification(fTerminalComp);
}

void TksBaseIO::SetTerminalUsage(TTerminalUsage Value) {
    std::lock_guard g(fLock);
    fTerminalUsage = Value;
    if (Loading() || !fTerminal) return;
    hTerminal = (Value == TTerminalUsage::tuReceive || Value == TTerminalUsage::tuBoth) ? fTerminal
                                                                                        : nullptr;
}

bool TksBaseIO::TerminalCharHook(uint16_t ch) {
    if (!fTerminalLocked &&
        (fTerminalUsage == TTerminalUsage::tuSend || fTerminalUsage == TTerminalUsage::tuBoth)) {
        SendChar(ch);
        if (!fTerminalEcho) return true;
    }
    return false;
}

void TksBaseIO::UpdateTerminalByChars(const uint8_t* Buff, uint32_t Len) {
    if (Buff == nullptr || Len == 0) return;
    struct Lock {
        bool& flag;
        explicit Lock(bool& f) : flag(f) { flag = true; }
        ~Lock() { flag = false; }
    } lock(fTerminalLocked);
    if (!hTerminal) return;
    if (Len == 1) {
        hTerminal->TypeChar(Buff[0]);
        return;
    }
    // Piece by piece up to each NUL; the NULs themselves are not shown.
    uint32_t start = 0;
    for (uint32_t i = 0; i <= Len; ++i) {
        if (i == Len || Buff[i] == 0) {
            if (i > start && hTerminal)
                hTerminal->InsertText(
                    std::string(reinterpret_cast<const char*>(Buff + start), i - start));
            start = i + 1;
        }
    }
}

void TksBaseIO::Logging(TDetailLevel Det, const std::string& Mess) {
    if (!fLog) return;
    if (Mess.empty())
        fLog->AddSysInfo();
    else
        fLog->AddLog(Det, sLogPrefix + Mess);
}

void TksBaseIO::LoggingFmt(TDetailLevel Det, const std::string& Mess,
                           const std::vector<TksFmtArg>& Arg) {
    // The prefix is text: a "%" in it is no format code.
    if (fLog) fLog->AddLogFmt(Det, KsFormatLiteral(sLogPrefix) + Mess, Arg);
}

TksHandle TksBaseIO::RequestDeviceHandle() {
    return kInvalidHandle;
}

// The base knows no device to close; a descendant that opens one closes it.
void TksBaseIO::RequestDeviceHandleClose(TksHandle /*aHandle*/) {}

bool TksBaseIO::IsReadNeeded() const {
    return fTerminal != nullptr || static_cast<bool>(fOnReceived) || fDataProcessor != nullptr;
}

void TksBaseIO::Open() {
    fHandle.store(RequestDeviceHandle());
    if (!IsHandleValid()) return;
    if (isThreaded) ThreadStart();
    if (fOnOpen) {
        try {
            fOnOpen(this);
        } catch (...) {
            // An OnOpen handler's failure does not undo the open.
        }
    }
}

bool TksBaseIO::CloseHandleOnly() {
    const TksHandle old = fHandle.exchange(kInvalidHandle);
    if (old == kInvalidHandle) return false;
    RequestDeviceHandleClose(old);
    return true;
}

void TksBaseIO::AfterHandleClosed() {
    if (isThreaded) ThreadStop();
    RaiseOnClose();
}

void TksBaseIO::RaiseOnClose() {
    if (!fOnClose) return;
    try {
        fOnClose(this);
    } catch (...) {
        // An OnClose handler's failure does not stop the close.
    }
}

void TksBaseIO::Close() {
    if (CloseHandleOnly()) AfterHandleClosed();
}

void TksBaseIO::ThreadStart() {
    IsThreadIOTerminated = false;
    fThreadIO = std::jthread([this](std::stop_token stop) {
        try {
            ThreadExecute(stop);
        } catch (...) {
            // The thread ends; nothing else to do.
        }
    });
}

void TksBaseIO::ThreadStop() {
    if (IsThreadIOTerminated) return;
    IsThreadIOTerminated = true;
    if (!fThreadIO.joinable()) return;
    fThreadIO.request_stop();
    if (fThreadIO.get_id() == std::this_thread::get_id())
        fThreadIO.detach();
    else
        fThreadIO.join();
}

void TksBaseIO::ThreadExecute(std::stop_token /*stop*/) {}

void TksBaseIO::DoFatalErrors(uint32_t Code, uint32_t Detail, const std::string& Msg,
                              bool flByThread) {
    bool raise = true;
    if (fOnFatalError) fOnFatalError(this, Code, Detail, Msg, raise);
    if (fLog)
        fLog->AddLogFmt(TDetailLevel::dlSimple, "Fatal Error: %u, %u, %s",
                        {uint64_t{Code}, uint64_t{Detail}, Msg});
    if (!raise || Loading()) return;
    if (flByThread) {
        if (fExecutor)
            fExecutor->ShowError("Error", Msg);
        else
            std::fprintf(stderr, "%s\n", Msg.c_str());
    } else {
        throw EksError(Msg, Code, Detail);
    }
}

void TksBaseIO::DoInputDataInMainThread() {
    DoInputData(threadData, threadDataSize);
}

bool TksBaseIO::DoInputData(const uint8_t* Data, uint32_t Len) {
    if (fThreadIO.joinable() && UseMainThread() && fExecutor &&
        fThreadIO.get_id() == std::this_thread::get_id()) {
        threadData = Data;
        threadDataSize = Len;
        fExecutor->Synchronize([this] { DoInputDataInMainThread(); }, fThreadIO.get_stop_token());
        return false;
    }
    if (fLog) Logging(TDetailLevel::dlDebug, "Input data length: " + std::to_string(Len));
    TIgnoreTypes R;
    if (fDataProcessor) fDataProcessor->DoProcessing(Data, Len, R);
    if (fTerminal && !R.Contains(TIgnoreType::itTerminal)) UpdateTerminalByChars(Data, Len);
    if (fOnReceived) fOnReceived(this, Data, Len);
    return false;
}

bool TksBaseIO::DoOutputData() {
    if (!fDataProcessor) return false;
    bool handled = false;
    fDataProcessor->DoAfterSendComplete(handled);
    return handled;
}

void TksBaseIO::SetDeviceIndex(int /*Value*/) {
    DoNotify(csDeviceIdChanged);
}

void TksBaseIO::Update() {
    DoNotify(csDeviceIdChanged);
}

TksDevice* TksBaseIO::GetDevice(int Index) const {
    if (Index < 0 || Index >= GetDeviceCount()) return nullptr;
    return slDevices[static_cast<std::size_t>(Index)].Device.get();
}

int TksBaseIO::IndexOfDevice(const TksDevice* aDevice) const {
    for (std::size_t i = 0; i < slDevices.size(); ++i)
        if (slDevices[i].Device.get() == aDevice) return static_cast<int>(i);
    return -1;
}

int TksBaseIO::IndexOfDeviceData(int aData) const {
    for (std::size_t i = 0; i < slDevices.size(); ++i)
        if (slDevices[i].Device && slDevices[i].Device->Data == aData) return static_cast<int>(i);
    return -1;
}

int TksBaseIO::AddDevice(std::shared_ptr<TksDevice> aDevice) {
    if (!aDevice) return -1;
    aDevice->fIndex = static_cast<int>(slDevices.size());
    aDevice->fParent = this;
    std::string text = aDevice->NameFriendly;
    slDevices.push_back({std::move(text), std::move(aDevice)});
    return static_cast<int>(slDevices.size()) - 1;
}

void TksBaseIO::DeviceListClear() {
    // Copies that share a record keep it alive; it no longer names us.
    if (flClearDeviceListWithFree)
        for (auto& item : slDevices)
            if (item.Device) item.Device->fParent = nullptr;
    slDevices.clear();
}

void TksBaseIO::GetDeviceList(TksDeviceList* L) {
    if (slDevices.empty()) DeviceListLoad();
    if (L) *L = slDevices;
}

void TksBaseIO::TryConnectHandle(TksTimer* /*sender*/) {
    TryConnectStop();
    Logging(TDetailLevel::dlDetail, "Try to connect ...");
}

void TksBaseIO::TryConnectRestart() {
    if (!timerKeepConnection) {
        timerKeepConnection = std::make_unique<TksTimer>(fExecutor);
        timerKeepConnection->SetInterval(2000);
        timerKeepConnection->SetOnTimer([this](TksTimer* t) { TryConnectHandle(t); });
    }
    timerKeepConnection->SetEnabled(true);
}

void TksBaseIO::TryConnectStop() {
    if (timerKeepConnection) timerKeepConnection->SetEnabled(false);
}

}  // namespace kelm
