// The serial component's configuration record and device identification:
// SaveConfig/LoadConfig (the 49-byte record: port number, DCB, time-outs),
// GetPNPDeviceString (the Plug and Play enumeration exchange) and
// InitDeviceConnect (does a device answer on DSR).
//
// On Linux the record is kept in a small key-value store under the user's
// configuration directory, one file per key and value name:
//   $XDG_CONFIG_HOME/kelm/registry/<root>/<key>/<name>   (~/.config without XDG_CONFIG_HOME)
// On Windows it is the registry value itself (win32/ConfigStore.h).
#ifndef _WIN32
#include <unistd.h>
#endif
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "serial/ksComm.h"
#ifdef _WIN32
#include "serial/win32/ConfigStore.h"
#endif

namespace kelm {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kRecordSize = 1 + sizeof(TDCB) + sizeof(TCommTimeouts);
static_assert(kRecordSize == 49);

#ifdef _WIN32

void StoreRecord(TksRegRoot Root, const std::string& Key, const std::string& Name,
                 const uint8_t* rec) {
    win32::WriteRegistryBinary(Root == TksRegRoot::LocalMachine, Key, Name, rec, kRecordSize);
}

bool FetchRecord(TksRegRoot Root, const std::string& Key, const std::string& Name, uint8_t* rec) {
    const auto value = win32::ReadRegistryBinary(Root == TksRegRoot::LocalMachine, Key, Name);
    if (!value || value->size() != kRecordSize) return false;
    std::memcpy(rec, value->data(), kRecordSize);
    return true;
}

#else

fs::path ConfigBase() {
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && x[0] == '/') return x;
    if (const char* h = std::getenv("HOME"); h && h[0] == '/') return fs::path(h) / ".config";
    throw std::runtime_error("no configuration directory");
}

// The directory of Key under Root, made when missing. Key uses "\" or "/"
// between its parts; a part that would leave the store ("..") or name
// nothing is refused, so a caller's key can never write elsewhere.
fs::path OpenKey(TksRegRoot Root, const std::string& Key) {
    fs::path dir = ConfigBase() / "kelm" / "registry" /
                   (Root == TksRegRoot::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER");
    std::string part;
    auto add = [&] {
        if (part == "." || part == "..") throw std::runtime_error("bad key");
        if (!part.empty()) dir /= part;
        part.clear();
    };
    for (char c : Key) {
        if (c == '\\' || c == '/') {
            add();
        } else if (c == '\0') {
            throw std::runtime_error("bad key");
        } else {
            part += c;
        }
    }
    add();
    fs::create_directories(dir);
    return dir;
}

fs::path ValuePath(const fs::path& key, const std::string& Name) {
    if (Name.find_first_of(std::string("/\\\0", 3)) != std::string::npos || Name == "." ||
        Name == "..") {
        throw std::runtime_error("bad value name");
    }
    // The unnamed value of a key, as the registry has one.
    return key / (Name.empty() ? std::string("(default)") : Name);
}

void StoreRecord(TksRegRoot Root, const std::string& Key, const std::string& Name,
                 const uint8_t* rec) {
    const fs::path file = ValuePath(OpenKey(Root, Key), Name);
    // Written beside and renamed into place: a crash never leaves a
    // record of another size, which a load would silently ignore.
    const fs::path tmp = file.string() + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(rec), kRecordSize);
        out.close();
        if (!out) {
            std::error_code ec;
            fs::remove(tmp, ec);
            throw std::runtime_error("write failed");
        }
    }
    fs::rename(tmp, file);
}

// True with the record in rec when the value exists and has the record's
// size; false when it is missing or of another size.
bool FetchRecord(TksRegRoot Root, const std::string& Key, const std::string& Name, uint8_t* rec) {
    const fs::path file = ValuePath(OpenKey(Root, Key), Name);
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (ec || size != kRecordSize) return false;
    std::ifstream in(file, std::ios::binary);
    in.read(reinterpret_cast<char*>(rec), kRecordSize);
    if (in.gcount() != static_cast<std::streamsize>(kRecordSize)) {
        throw std::runtime_error("read failed");
    }
    return true;
}

#endif

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

void TksCustomSerialComm::SaveConfig(TksRegRoot Root, const std::string& Key,
                                     const std::string& Name) {
    try {
        uint8_t rec[kRecordSize];
        {
            std::lock_guard lock(fLock);
            // One byte holds the port number: a number it cannot hold would
            // come back as another port, so such a record is not written.
            if (fComPortNo > 0xFF) throw std::runtime_error("port number does not fit");
            rec[0] = static_cast<uint8_t>(fComPortNo & 0xFF);
            std::memcpy(rec + 1, &CommCfg.dcb, sizeof(TDCB));
            std::memcpy(rec + 1 + sizeof(TDCB), &fCommTimeouts, sizeof(TCommTimeouts));
        }
        StoreRecord(Root, Key, Name, rec);
        Logging(TDetailLevel::dlDetail, "Configuration was saved");
    } catch (const std::exception&) {
        DoFatalErrors(1, 0, "Error on save config information from registry", false);
    }
}

void TksCustomSerialComm::LoadConfig(TksRegRoot Root, const std::string& Key,
                                     const std::string& Name) {
    try {
        uint8_t rec[kRecordSize];
        if (FetchRecord(Root, Key, Name, rec)) {
            SetComPortNo(rec[0]);  // reopens an open port
            {
                std::lock_guard lock(fLock);
                std::memcpy(&CommCfg.dcb, rec + 1, sizeof(TDCB));
                // The flow-control bits follow StreamProtocol and RS485Mode,
                // which the record does not change.
                DCBApply();
                std::memcpy(&fCommTimeouts, rec + 1 + sizeof(TDCB), sizeof(TCommTimeouts));
                if (IsHandleValid()) fDevice->SetTimeouts(fCommTimeouts);
            }
        }
        Logging(TDetailLevel::dlDetail, "Configuration was loaded");
    } catch (const std::exception&) {
        DoFatalErrors(1, 0, "Error on load config information from registry", false);
    }
}

void TksCustomSerialComm::InitDeviceConnect() {
    if (!IsHandleValid()) return;
    ClearDeviceBuffers();
    SetStateDTR(true);
    SetStateRTS(false);
    if (WaitForSignal(TModemSignal::msDSR, 200)) {
        SetStateRTS(true);
        Logging(TDetailLevel::dlDetail, "The device connection was succesful tested");
    } else {
        DoFatalErrors(1, 0, "Device Connect Initialization Error", false);
    }
}

std::string TksCustomSerialComm::GetPNPDeviceString() {
    std::string result;
    const bool wasActive = Active();
    SetActive(true);
    if (!IsHandleValid()) return result;

    ClearDeviceBuffers();
    SetStateDTR(true);
    SetStateRTS(false);
    if (!WaitForSignal(TModemSignal::msDSR, 200)) {
        // The port stays open with DTR raised and RTS dropped.
        DoFatalErrors(1, 0, "Device Connect Initialization Error", false);
        return result;  // an OnFatalError handler suppressed the exception
    }

    TDCB kept;
    {
        std::lock_guard lock(fLock);
        DCBApply();
        kept = CommCfg.dcb;
    }
    TDCB work = kept;
    work.BaudRate = 1200;
    work.ByteSize = 7;
    work.Parity = 0;
    work.StopBits = 0;
    fDevice->ApplyDcb(work);
    const TTraceStates savedTrace = TraceStates();
    SetTraceStates(TTraceStates{});

    // Takes one queued byte without waiting: a receiver that ran during a
    // wait may have taken the byte the wait saw, and a direct read would
    // then block for ever.
    auto readByte = [&](uint8_t& b) {
        uint32_t got = 0;
        return IsHandleValid() && fDevice->ReadNow(&b, 1, &got) && got == 1;
    };

    auto exchange = [&] {
        SetStateDTR(false);
        SetStateRTS(false);
        Sleep(200);
        SetStateDTR(true);
        Sleep(200);
        SetStateRTS(true);
        if (!WaitForBytes(1, 200)) {
            SetStateDTR(false);
            SetStateRTS(false);
            Sleep(200);
            SetStateDTR(true);
            SetStateRTS(true);
            if (!WaitForBytes(1, 200)) return;
        }
        uint8_t b = 0;
        if (!readByte(b)) return;
        uint8_t end;
        if (b == 0x08) {
            end = 0x09;
        } else if (b == 0x28) {
            end = 0x29;
        } else {
            return;
        }
        result += static_cast<char>(b);
        while (WaitForBytes(1, 200)) {
            if (!readByte(b)) break;
            result += static_cast<char>(b);
            if (b == end) break;
        }
    };
    try {
        exchange();
    } catch (...) {
        if (IsHandleValid()) fDevice->ApplyDcb(kept);
        SetTraceStates(savedTrace);
        throw;
    }

    if (IsHandleValid()) fDevice->ApplyDcb(kept);
    SetTraceStates(savedTrace);
    SetActive(false);
    SetActive(wasActive);
    return result;
}

}  // namespace kelm
