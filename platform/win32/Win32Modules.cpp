// Module loading with the device's meanings. GetProcAddressW: the device looks exports up by
// wide name; desktop Windows only by the narrow one, which is what the library stores.
// LoadLibraryW: a name with a folder ("SDHC\zCompress.dll", the library on an update medium)
// is a device path; a bare name is searched, the device's "\Windows" folder included.
#include <cwchar>
#include <string>
#include <vector>

#include "platform/Win32.h"

#undef LoadLibraryW

HMODULE DeviceLoadLibraryW(LPCWSTR fileName) {
    if (fileName == nullptr ||
        (wcschr(fileName, L'\\') == nullptr && wcschr(fileName, L'/') == nullptr))
        return LoadLibraryW(fileName);
    // Relative to the current folder, which is the device root ("Q:\").
    DWORD size = GetFullPathNameW(fileName, 0, nullptr, nullptr);
    if (size == 0)
        return nullptr;
    std::vector<wchar_t> full(size);
    if (GetFullPathNameW(fileName, size, full.data(), nullptr) == 0)
        return nullptr;
    return LoadLibraryW(full.data());
}

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
