// The device's name space on Windows: the device root is the root of a drive, which is the
// current directory of the loader. See Win32Runtime.h.
#include <cwctype>

#include "platform/Win32.h"
#include "platform/win32/Win32Runtime.h"

namespace quarrin::platform::win32 {

std::wstring EnterDeviceRoot(const std::wstring& root) {
    // "Q:", "Q:\" or "Q:/": a drive letter and nothing below it.
    bool driveRoot = (root.size() == 2 || root.size() == 3) && std::iswalpha(root[0]) &&
                     root[1] == L':' && (root.size() == 2 || root[2] == L'\\' || root[2] == L'/');
    if (!driveRoot) {
        return L"the device root must be the root of a drive, such as Q:\\ (map a folder to a "
               L"drive with subst, or under Wine with a link in the prefix's dosdevices folder)";
    }
    std::wstring drive = root.substr(0, 2) + L"\\";
    DWORD attributes = GetFileAttributesW(drive.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !SetCurrentDirectoryW(drive.c_str())) {
        return L"device root '" + root + L"' is not a folder";
    }
    // LoadLibraryW of a bare name: the device looks in its "\Windows" folder. The folder
    // added here comes after the executable's own folder and before the system's.
    std::wstring windows = drive + L"Windows";
    SetDllDirectoryW(windows.c_str());
    return {};
}

}  // namespace quarrin::platform::win32
