// Creates a key below HKEY_LOCAL_MACHINE\HARDWARE for a Windows run. That branch is volatile
// (rebuilt at every start), so its keys must be volatile too, which reg.exe cannot create;
// the device has its HARDWARE\DEVICEMAP\TOUCH key from its own start.
//   volatile-key.exe HARDWARE\DEVICEMAP\TOUCH
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: volatile-key.exe SUBKEY-OF-HKLM\n", stderr);
        return 2;
    }
    HKEY key = nullptr;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, argv[1], 0, nullptr, REG_OPTION_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) {
        std::fprintf(stderr, "volatile-key: error %ld\n", result);
        return 1;
    }
    RegCloseKey(key);
    return 0;
}
