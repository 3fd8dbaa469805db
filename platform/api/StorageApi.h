// The storage manager: block devices ("stores", opened as "DSK1:" .. "DSK4:") and their
// partitions, with the device's Win32 semantics (failure values and GetLastError codes).
//
// A store holds one partition, "Part00", whose file system is mounted as a volume folder of
// the device ("Storage Card"). While a partition is dismounted its volume cannot be reached by
// any file operation (ERROR_PATH_NOT_FOUND); it stays so until it is mounted again, also
// after its handle is closed. Store, search and partition handles are closed with
// CloseHandle (a search also with FindClosePartition).
#pragma once

#include <string>

#include "platform/Win32Types.h"

inline constexpr int PARTITIONNAMESIZE = 32;
inline constexpr int FILESYSNAMESIZE = 32;
inline constexpr int VOLUMENAMESIZE = 64;

// The device's partition record. Its names are the device's 16-bit characters (UTF-16), so
// the record keeps the device's layout and size; PartInfoText turns a name into wide text.
struct PARTINFO {
    DWORD cbSize;
    char16_t szPartitionName[PARTITIONNAMESIZE];
    char16_t szFileSys[FILESYSNAMESIZE];
    char16_t szVolumeName[VOLUMENAMESIZE];
    ULONGLONG snNumSectors;
    FILETIME ftCreated;
    FILETIME ftLastModified;
    DWORD dwAttributes;
    BYTE bPartType;
};
using PPARTINFO = PARTINFO*;
static_assert(sizeof(PARTINFO) == 296, "PARTINFO must keep the device's layout");

// A missing store gives ERROR_FILE_NOT_FOUND.
HANDLE OpenStore(LPCWSTR deviceName);
// Fills the first partition's record; info->cbSize must be sizeof(PARTINFO)
// (ERROR_INVALID_PARAMETER otherwise). A store without partitions gives ERROR_NO_MORE_ITEMS.
HANDLE FindFirstPartition(HANDLE store, PPARTINFO info);
BOOL FindClosePartition(HANDLE search);
// A missing partition gives ERROR_FILE_NOT_FOUND.
HANDLE OpenPartition(HANDLE store, LPCWSTR partitionName);
// A partition that is not mounted gives ERROR_NOT_READY.
BOOL DismountPartition(HANDLE partition);
// A partition that is mounted already gives ERROR_ALREADY_EXISTS.
BOOL MountPartition(HANDLE partition);
// An existing name gives ERROR_ALREADY_EXISTS; more sectors than the store has free give
// ERROR_DISK_FULL (the store's one partition fills it).
BOOL CreatePartition(HANDLE store, LPCWSTR partitionName, ULONGLONG sectorCount);

// Wide text of a name field of PARTINFO (up to its terminator or its end).
template <std::size_t N>
std::wstring PartInfoText(const char16_t (&field)[N]) {
    std::wstring text;
    for (std::size_t i = 0; i < N && field[i] != 0; ++i) {
        char32_t unit = field[i];
        bool highSurrogate = unit >= 0xD800 && unit < 0xDC00;
        if (highSurrogate && i + 1 < N && field[i + 1] >= 0xDC00 && field[i + 1] < 0xE000) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (field[++i] - 0xDC00);
        }
        text.push_back(static_cast<wchar_t>(unit));
    }
    return text;
}
