// Writes the bounds of the nine touch-key areas from the internal disk into the touch key of
// the registry, as part of an application update.
#pragma once

#include "platform/Win32.h"

// The file of the 36 touch-key values, always on the internal disk.
inline constexpr wchar_t TOUCHKEY_FILE_PATH[] = L"\\硬盘\\ZEL_Update\\Touchkey.bin";
inline constexpr DWORD TOUCHKEY_VALUE_COUNT = 36;
inline constexpr DWORD TOUCHKEY_FILE_BYTES = TOUCHKEY_VALUE_COUNT * 4;

// Whether a file of `bytes` bytes gives all 36 values; bytes beyond them are ignored.
inline bool TouchKeyFileComplete(DWORD bytes) {
    return bytes >= TOUCHKEY_FILE_BYTES;
}

// 1 when the file and the key were opened and the 36 values written, 0 otherwise. A file
// that does not give all 36 values is not imported (one log line says so), so the registry
// keeps the unit's calibration.
int ImportTouchKeyCalibration();
