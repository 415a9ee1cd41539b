#include "serial/win32/ConfigStore.h"

#include <windows.h>

#include <stdexcept>

#include "serial/win32/WinText.h"

namespace kelm::win32 {

namespace {

class Key {
  public:
    Key(bool localMachine, const std::string& path) {
        // Both separators are taken: the store on Linux accepts "/" too.
        std::wstring w = Widen(path);
        for (wchar_t& c : w)
            if (c == L'/') c = L'\\';
        const LONG r = ::RegCreateKeyExW(localMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                                         w.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
        if (r != ERROR_SUCCESS) throw std::runtime_error("registry key: " + std::to_string(r));
    }
    ~Key() { ::RegCloseKey(key_); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

}  // namespace

void WriteRegistryBinary(bool localMachine, const std::string& key, const std::string& name,
                         const uint8_t* data, std::size_t size) {
    Key k(localMachine, key);
    const LONG r = ::RegSetValueExW(k.get(), Widen(name).c_str(), 0, REG_BINARY, data,
                                    static_cast<DWORD>(size));
    if (r != ERROR_SUCCESS) throw std::runtime_error("registry value: " + std::to_string(r));
}

std::optional<std::vector<uint8_t>> ReadRegistryBinary(bool localMachine, const std::string& key,
                                                       const std::string& name) {
    Key k(localMachine, key);
    const std::wstring w = Widen(name);
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(k.get(), w.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_BINARY) {
        return std::nullopt;
    }
    std::vector<uint8_t> data(size);
    DWORD got = size;
    if (::RegQueryValueExW(k.get(), w.c_str(), nullptr, &type, data.data(), &got) !=
            ERROR_SUCCESS ||
        type != REG_BINARY) {
        return std::nullopt;
    }
    data.resize(got);
    return data;
}

}  // namespace kelm::win32
