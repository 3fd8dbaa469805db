// What the check gets from the program that runs it, beside the device's Win32 calls.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Win32.h"

// An entry that a listing of the device left out (a name the device cannot hold, a link
// that leads nowhere the device reaches): the unit never sees it.
struct LeftOutEntry {
    std::wstring folder;  // device path of the folder listed
    std::wstring name;    // the entry's host name
    DWORD reason = 0;     // ERROR_INVALID_NAME, ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND
};

inline constexpr ULONGLONG PROGRESS_PACKAGE_BYTES = 16 * 1048576;
inline constexpr int PROGRESS_TREE_FILES = 5000;

struct CheckEnvironment {
    // Shows how far a large read has come ("SDHC\ZEL_Update\ZEL.bin", 0..100); may be empty.
    // Reads are large from PROGRESS_PACKAGE_BYTES of package or PROGRESS_TREE_FILES files on.
    std::function<void(const std::wstring& what, int percent)> progress;
    // The entries that listings have left out so far; may be empty.
    std::function<std::vector<LeftOutEntry>()> leftOut;
    // The size of the unit's "Storage Card" once formatted; 0: the volume's total size.
    ULONGLONG cardCapacity = 0;

    void Progress(const std::wstring& what, int percent) const {
        if (progress)
            progress(what, percent);
    }
    // The left-out entries in `folder` and below it.
    std::vector<LeftOutEntry> LeftOutBelow(const std::wstring& folder) const;
};
