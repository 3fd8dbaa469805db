// GetProcAddressW: the device looks exports up by wide name; desktop Windows only by the
// narrow one, which is what the library stores.
#include <string>

#include "platform/Win32.h"

DEVICE_FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName) {
    if (procName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string narrow;
    for (const wchar_t* p = procName; *p != L'\0'; ++p) {
        if (*p > 0x7F) {  // export names are ASCII; no export can match
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        narrow.push_back(static_cast<char>(*p));
    }
    return reinterpret_cast<DEVICE_FARPROC>(GetProcAddress(module, narrow.c_str()));
}
