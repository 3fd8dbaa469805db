// Loading libraries at run time, with the device's Win32 semantics.
#pragma once

#include "platform/Win32Types.h"

// A name without a folder is looked for in the device's "Windows" folder; a path is taken as
// a device path. A missing file gives ERROR_MOD_NOT_FOUND (126), a file that is no library
// of this platform ERROR_BAD_EXE_FORMAT (193).
HMODULE LoadLibraryW(LPCWSTR fileName);
// Looks an export up by name (export names are narrow text in the library; the wide name is
// converted). A missing export gives ERROR_PROC_NOT_FOUND (127).
FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName);
BOOL FreeLibrary(HMODULE module);

// Finds the file that LoadLibraryW would load for `fileName` (`path` and `extension` must be
// null), without loading it: copies its device path into `buffer` and returns its length, or
// the size needed with the terminator when `bufferLength` is too small. 0 with
// ERROR_FILE_NOT_FOUND when there is no such file (a folder does not count).
DWORD SearchPathW(LPCWSTR path, LPCWSTR fileName, LPCWSTR extension, DWORD bufferLength,
                  LPWSTR buffer, LPWSTR* filePart);
