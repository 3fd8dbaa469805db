// The device's API in the Windows build: the real Windows API, plus what the device has and
// desktop Windows lacks. Those few are implemented in platform/win32 on top of the real API
// (the debug print, GetProcAddressW, the bounded wsprintfW) or as small stand-ins (the
// storage manager, TouchCalibrate, the progress lines).
#pragma once

#include <cstddef>

#include "platform/api/ProgressApi.h"
#include "platform/api/StorageApi.h"
#include "platform/api/TouchApi.h"
#include "platform/win32/WindowsTypes.h"

// The device's FARPROC: a pointer type that converts to any function pointer type without a
// warning about incompatible function types.
using DEVICE_FARPROC = void (*)();

// Looks an export up by its wide name (desktop Windows has only the narrow GetProcAddress).
DEVICE_FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName);

// The device's CreateProcessW takes no start-up information (it must be null), while desktop
// Windows requires it. A call that passes null for it chooses this overload, which starts the
// program with empty start-up information.
BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine,
                    LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                    BOOL inheritHandles, DWORD creationFlags, LPVOID environment,
                    LPCWSTR currentDirectory, std::nullptr_t startupInfo,
                    LPPROCESS_INFORMATION processInformation);

// The device's WaitCommEvent on a port opened without overlapped I/O: sleeps until an event
// of the mask occurs, also on a line without modem status (see Win32Serial.cpp). Calls with
// an OVERLAPPED structure go to the system's WaitCommEvent unchanged.
BOOL DeviceWaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped);
#define WaitCommEvent DeviceWaitCommEvent

// The device's LoadLibraryW: a name with a folder is a device path, below the device root,
// while Windows would look a relative path up along the library search path (which loses the
// current folder once SetDllDirectoryW is set). See Win32Modules.cpp.
HMODULE DeviceLoadLibraryW(LPCWSTR fileName);
#define LoadLibraryW DeviceLoadLibraryW

// Writes one formatted line to the debug output (OutputDebugStringW), to standard error and
// to the log file of the run.
void NKDbgPrintfW(LPCWSTR format, ...);

namespace quarrin::platform {
// Formats like wsprintfW (%s is a wide string, %S and %hs narrow ones) into at most
// capacity - 1 characters plus a terminator. Returns the characters stored.
int FormatWideBounded(wchar_t* buffer, std::size_t capacity, const wchar_t* format, ...);
}  // namespace quarrin::platform

// Bounded form chosen for character arrays: the output never exceeds the array. The
// unbounded form is the system's own wsprintfW.
template <std::size_t N, class... Args>
int wsprintfW(wchar_t (&buffer)[N], LPCWSTR format, Args... args) {
    return quarrin::platform::FormatWideBounded(buffer, N, format, args...);
}

// Whether the entry `path` is the folder `folder` itself or lies below it, by file identity
// (see platform/api/FileApi.h); desktop Windows has no such call. See Win32FolderContainment.cpp.
BOOL IsPathWithinFolderW(LPCWSTR path, LPCWSTR folder, PBOOL within);

// Folder handles for walks of whole trees (see platform/api/FileApi.h); desktop Windows has
// no such calls. A folder handle is a real directory handle, and the calls on its entries
// name them by the folder's final path. See Win32FolderWalk.cpp.
HANDLE OpenFolderW(LPCWSTR folderName);
HANDLE FindFirstFileInFolderW(HANDLE folder, LPWIN32_FIND_DATAW findData);
inline constexpr DWORD DELETE_IN_FOLDER_READ_ONLY = 0x1;
BOOL DeleteFileInFolderW(HANDLE folder, LPCWSTR fileName, DWORD flags);
BOOL CopyFileInFolderW(HANDLE sourceFolder, LPCWSTR fileName, HANDLE targetFolder,
                       BOOL failIfExists);
