// Where a unit keeps the files the tests put on a device, and the update record's word.
#pragma once

#include <string>

#include "platform/Win32Types.h"

namespace testsupport {

inline constexpr wchar_t kApp[] = L"ResidentFlash3\\ZEL\\Velmoran.exe";  // the main application
inline constexpr wchar_t kShell[] = L"\\Windows\\explorer.exe";
inline constexpr wchar_t kBackup[] = L"ResidentFlash\\ZEL.bin";  // the backup package
inline constexpr wchar_t kRecord[] = L"ResidentFlash2\\UpdateInfo.dat";

// The update record's four bytes for `value`, low byte first.
inline std::string Word(DWORD value) {
    return std::string{static_cast<char>(value), static_cast<char>(value >> 8),
                       static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
}
inline const std::string kWordZero = Word(0);
inline const std::string kWordTwo = Word(2);

}  // namespace testsupport
