#include "serial/ksProcessorStreamLog.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/utsname.h>
#include <unistd.h>
#endif

#include <chrono>
#include <ctime>
#include <iomanip>
#include <sstream>

namespace kelm {

namespace {

std::string Timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm tm{};
#ifdef _WIN32
    ::localtime_s(&tm, &t);
#else
    ::localtime_r(&t, &tm);
#endif
    std::ostringstream s;
    s << std::put_time(&tm, "%Y-%m-%d %H:%M:%S") << '.' << std::setw(3) << std::setfill('0') << ms;
    return s.str();
}

const char* LevelName(TDetailLevel l) {
    switch (l) {
        case TDetailLevel::dlSimple:
            return "simple";
        case TDetailLevel::dlDetail:
            return "detail";
        case TDetailLevel::dlDebug:
            return "debug";
    }
    return "?";
}

// Control characters would break the one-line-per-entry layout, and bytes
// from 0x80 up would make the file invalid UTF-8: log texts carry raw frames
// ("Try to send string %s"), whose bytes are shown as \xHH.
std::string Printable(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    static const char* hex = "0123456789ABCDEF";
    for (unsigned char c : s) {
        if (c < 0x20 || c >= 0x7F) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

TksStreamLog::TksStreamLog(std::ostream& out) : out_(&out) {}

TksStreamLog::TksStreamLog(const std::string& path, TOnFatalErrorEvent onFatalError)
    : path_(path), out_(&file_) {
    // Set before the file is opened, so that the handler sees the failure.
    fOnFatalError = std::move(onFatalError);
    file_.open(path, std::ios::out | std::ios::app);
    if (!file_) DoFatalErrors(1, 0, "Cannot open the log file " + path);
}

TDetailLevel TksStreamLog::MaxLevel() const {
    std::lock_guard lock(mutex_);
    return maxLevel_;
}

void TksStreamLog::SetMaxLevel(TDetailLevel level) {
    std::lock_guard lock(mutex_);
    maxLevel_ = level;
}

unsigned long TksStreamLog::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

void TksStreamLog::Save() {
    std::lock_guard lock(mutex_);
    out_->flush();
}

void TksStreamLog::Clear() {
    std::lock_guard lock(mutex_);
    if (!path_.empty()) {
        file_.close();
        file_.clear();
        file_.open(path_, std::ios::out | std::ios::trunc);
    } else {
        out_->clear();
    }
}

void TksStreamLog::WriteLine(const std::string& level, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (!path_.empty() && !file_.is_open()) return;  // the file could not be opened
    *out_ << Timestamp();
    if (!level.empty()) *out_ << " [" << level << "]";
    *out_ << ' ' << Printable(text) << '\n';
    ++lines_;
}

void TksStreamLog::Add(const std::string& s) {
    WriteLine("", s);
}

void TksStreamLog::AddFmt(const std::string& Format, const std::vector<TksFmtArg>& Args) {
    WriteLine("", KsFormat(Format, Args));
}

void TksStreamLog::AddSysInfo() {
    std::string sys = "system:";
#ifdef _WIN32
    // GetVersionEx would answer for the version the program declares; the
    // kernel's own numbers come from RtlGetVersion.
    OSVERSIONINFOW v{};
    v.dwOSVersionInfoSize = sizeof v;
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    if (HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll")) {
        auto fn = reinterpret_cast<RtlGetVersionFn>(
            reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")));
        if (fn && fn(&v) == 0) {
            sys += " Windows " + std::to_string(v.dwMajorVersion) + "." +
                   std::to_string(v.dwMinorVersion) + "." + std::to_string(v.dwBuildNumber);
        }
    }
    char host[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD n = sizeof host;
    if (::GetComputerNameA(host, &n)) sys += std::string(", host ") + host;
    sys += ", pid " + std::to_string(::GetCurrentProcessId());
#else
    utsname u{};
    if (::uname(&u) == 0) {
        sys += std::string(" ") + u.sysname + " " + u.release + " " + u.machine + ", host " +
               u.nodename;
    }
    sys += ", pid " + std::to_string(::getpid());
#endif
    WriteLine("info", sys);
}

void TksStreamLog::AddLog(TDetailLevel l, const std::string& s) {
    if (static_cast<int>(l) > static_cast<int>(MaxLevel())) return;
    WriteLine(LevelName(l), s);
}

void TksStreamLog::AddLogFmt(TDetailLevel l, const std::string& Format,
                             const std::vector<TksFmtArg>& Args) {
    if (static_cast<int>(l) > static_cast<int>(MaxLevel())) return;
    WriteLine(LevelName(l), KsFormat(Format, Args));
}

}  // namespace kelm
