#pragma once
// UTF-8 (the library's strings) to and from UTF-16 (the system's).
#include <windows.h>

#include <string>

namespace kelm::win32 {

inline std::wstring Widen(const std::string& s) {
    if (s.empty()) return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring w(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

inline std::string Narrow(const wchar_t* w, size_t len) {
    if (len == 0) return {};
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string s(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), s.data(), n, nullptr, nullptr);
    return s;
}

inline std::string Narrow(const std::wstring& w) {
    return Narrow(w.data(), w.size());
}

}  // namespace kelm::win32
