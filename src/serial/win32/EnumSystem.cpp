// The system's port sources on Windows: the registry's map of active serial
// devices (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM) and the device-setup records
// of the port classes, whose friendly names describe the ports.
#include <windows.h>
// windows.h first: the device-setup headers build on it.
#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

#include <string>
#include <vector>

#include "serial/EnumPorts.h"
#include "serial/win32/WinText.h"

namespace kelm {

namespace {

using win32::Narrow;
using win32::Widen;

// A string of wide characters that the system may have left without its
// terminating NUL (registry data): cut at the first NUL or at len.
std::string FromWide(const wchar_t* w, size_t len) {
    size_t n = 0;
    while (n < len && w[n] != L'\0') ++n;
    return Narrow(w, n);
}

std::string RegistryProperty(HDEVINFO set, SP_DEVINFO_DATA& dev, DWORD property) {
    wchar_t buf[512] = {};
    DWORD type = 0, size = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &dev, property, &type,
                                             reinterpret_cast<BYTE*>(buf),
                                             sizeof buf - sizeof(wchar_t), &size)) {
        return {};
    }
    if (type != REG_SZ && type != REG_MULTI_SZ && type != REG_EXPAND_SZ) return {};
    return FromWide(buf, std::min<size_t>(size / sizeof(wchar_t), 511));
}

std::string RegistryString(HKEY key, const wchar_t* name) {
    wchar_t buf[260] = {};
    DWORD type = 0, size = sizeof buf - sizeof(wchar_t);
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return {};
    }
    return FromWide(buf, std::min<size_t>(size / sizeof(wchar_t), 259));
}

std::string Trimmed(std::string s) {
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.pop_back();
    size_t b = 0;
    while (b < s.size() && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    return s.substr(b);
}

// "USB Serial Port (COM3)" -> "USB Serial Port": the list puts the port name
// in front of the description itself.
std::string WithoutPortSuffix(const std::string& friendly, const std::string& portName) {
    const std::string suffix = " (" + portName + ")";
    if (!portName.empty() && friendly.size() > suffix.size() &&
        friendly.compare(friendly.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return friendly.substr(0, friendly.size() - suffix.size());
    }
    return friendly;
}

class SystemPortSource : public PortSource {
  public:
    bool OpenByMapValueName() const override { return false; }

    std::vector<PortMapValue> ReadPortMap() override {
        std::vector<PortMapValue> map;
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                            &key) != ERROR_SUCCESS) {
            return map;
        }
        for (DWORD i = 0;; ++i) {
            wchar_t name[260] = {};
            wchar_t data[260] = {};
            DWORD nameLen = 259, type = 0, dataSize = sizeof data - sizeof(wchar_t);
            const LONG r = ::RegEnumValueW(key, i, name, &nameLen, nullptr, &type,
                                           reinterpret_cast<BYTE*>(data), &dataSize);
            if (r == ERROR_MORE_DATA) continue;  // a value too long for a port name
            if (r != ERROR_SUCCESS) break;
            if (type != REG_SZ) continue;
            map.push_back({FromWide(name, nameLen),
                           FromWide(data, std::min<size_t>(dataSize / sizeof(wchar_t), 259))});
        }
        ::RegCloseKey(key);
        return map;
    }

    std::vector<PortDeviceRecord> DeviceRecords(bool presentOnly) override {
        std::vector<PortDeviceRecord> out;
        // Serial and parallel ports (whose LPT names the list skips), modems
        // and multi-port cards: the classes whose devices carry a port name.
        static const GUID* const kClasses[] = {&GUID_DEVCLASS_PORTS, &GUID_DEVCLASS_MODEM,
                                               &GUID_DEVCLASS_MULTIPORTSERIAL};
        for (const GUID* cls : kClasses) Collect(*cls, presentOnly, out);
        return out;
    }

  private:
    static void Collect(const GUID& cls, bool presentOnly, std::vector<PortDeviceRecord>& out) {
        const HDEVINFO set =
            ::SetupDiGetClassDevsW(&cls, nullptr, nullptr, presentOnly ? DIGCF_PRESENT : 0);
        if (set == INVALID_HANDLE_VALUE) return;
        for (DWORD i = 0;; ++i) {
            SP_DEVINFO_DATA dev{};
            dev.cbSize = sizeof dev;
            if (!::SetupDiEnumDeviceInfo(set, i, &dev)) break;
            PortDeviceRecord rec;
            rec.DevInst = dev.DevInst;
            rec.Driver = RegistryProperty(set, dev, SPDRP_DRIVER);
            rec.Service = RegistryProperty(set, dev, SPDRP_SERVICE);
            rec.NamePDO = RegistryProperty(set, dev, SPDRP_PHYSICAL_DEVICE_OBJECT_NAME);
            rec.Manufacturer = RegistryProperty(set, dev, SPDRP_MFG);
            wchar_t id[260] = {};
            if (::SetupDiGetDeviceInstanceIdW(set, &dev, id, 259, nullptr))
                rec.InstanceId = FromWide(id, 259);
            DEVINST parent = 0;
            if (::CM_Get_Parent(&parent, dev.DevInst, 0) == CR_SUCCESS) {
                rec.DevInstParent = parent;
                wchar_t pid[260] = {};
                if (::CM_Get_Device_IDW(parent, pid, 259, 0) == CR_SUCCESS)
                    rec.InstanceIdParent = FromWide(pid, 259);
            }
            const HKEY key =
                ::SetupDiOpenDevRegKey(set, &dev, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
            if (key != INVALID_HANDLE_VALUE) {
                rec.PortName = Trimmed(RegistryString(key, L"PortName"));
                rec.NameSymbolic = RegistryString(key, L"SymbolicName");
                ::RegCloseKey(key);
            }
            // The friendly name as the device manager shows it, without the
            // port name it ends with; the device description otherwise.
            std::string description =
                WithoutPortSuffix(RegistryProperty(set, dev, SPDRP_FRIENDLYNAME), rec.PortName);
            if (description.empty()) description = RegistryProperty(set, dev, SPDRP_DEVICEDESC);
            rec.Description = Trimmed(description);
            rec.RegKey = rec.InstanceId.empty()
                             ? std::string()
                             : "SYSTEM\\CurrentControlSet\\Enum\\" + rec.InstanceId;
            rec.Present = true;
            out.push_back(std::move(rec));
        }
        ::SetupDiDestroyDeviceInfoList(set);
    }
};

}  // namespace

PortAccess CheckPortAccess(const std::string& path) {
    // A port opens for one program at a time: a short exclusive open is the
    // only way to know.
    PortAccess a;
    std::wstring w = Widen(path);
    if (w.rfind(L"\\\\", 0) != 0) w = L"\\\\.\\" + w;
    const HANDLE h = ::CreateFileW(w.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        ::CloseHandle(h);
        a.allowed = true;
        return a;
    }
    const DWORD e = ::GetLastError();
    a.error = static_cast<int>(e);
    a.errorText = e == ERROR_ACCESS_DENIED ? "the port is in use by another program"
                                           : "system error " + std::to_string(e);
    return a;
}

std::unique_ptr<PortSource> MakeSystemPortSource(const std::string& /*sysRoot*/,
                                                 const std::string& /*devRoot*/) {
    return std::make_unique<SystemPortSource>();
}

}  // namespace kelm
