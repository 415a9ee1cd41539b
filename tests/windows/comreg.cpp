// kelm-wine-comreg COMn...
//
// Lists COM ports in the registry's map of serial devices
// (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), as a port driver does when it starts. Under wine a
// COM port mapped to a pseudo-terminal (a dosdevices link) is not listed by
// itself, and kelm resolves COM names through that list. The map is volatile:
// it goes with the wine server.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: kelm-wine-comreg COMn...\n", stderr);
        return 2;
    }
    HKEY key = nullptr;
    const LONG r =
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                          REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (r != ERROR_SUCCESS) {
        std::fprintf(stderr, "kelm-wine-comreg: cannot open the port map (error %ld)\n", r);
        return 1;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string narrow = argv[i];  // COM names are ASCII
        const std::wstring port(narrow.begin(), narrow.end());
        const std::wstring name = L"\\Device\\KelmWine" + port;
        const DWORD size = static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t));
        if (::RegSetValueExW(key, name.c_str(), 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(port.c_str()), size) != ERROR_SUCCESS) {
            std::fprintf(stderr, "kelm-wine-comreg: cannot list %ls\n", port.c_str());
            status = 1;
        }
    }
    ::RegCloseKey(key);
    return status;
}
