// The worker thread of an application update: clears the leftover folders, unpacks the
// application package with the decompression library (which replaces the application folder
// whole, and only once the new one is complete), refreshes the backup package, imports the
// touch-key calibration and sets the update record for the next start.
#pragma once

#include <string>
#include <vector>

#include "contract/DevicePaths.h"
#include "platform/Win32.h"

inline constexpr int APP_ERROR_TEMP_FOLDER = 10;
inline constexpr int APP_ERROR_PREVIOUS_FOLDER = 11;
inline constexpr int APP_ERROR_LIBRARY = 12;
inline constexpr int APP_ERROR_EXPORTS = 14;
inline constexpr int APP_ERROR_UNPACK_BASE = 1000;

// The places LoadLibraryW is asked for the decompression library, in order: by name (the
// system folder), then at the root of the medium that holds the package.
std::vector<std::wstring> DecompressionLibraryPlaces();

// The package that the worker unpacks: the medium's, or the backup in restore mode.
std::wstring PackagePath();

// 1000 minus the library's negative result (the largest code when it would not fit).
int UnpackErrorCode(int result);

// Whether a package of `packageBytes` becomes the new backup when the backup volume has
// `freeBytes` free (after the old backup was deleted): in whole MiB, more than 2 to spare.
// A FAT volume keeps a file's size in 32 bits, so a package of 4 GiB or more never does.
bool BackupFits(ULONGLONG freeBytes, ULONGLONG packageBytes);

// Thread procedure; `dialog` is the update dialog, of which only its window is read
// (DialogWindowOf). Reports by posting WM_UPDATE_PROGRESS and by g_updateErrorCode; always
// returns 0.
DWORD AppInstallThread(LPVOID dialog);
