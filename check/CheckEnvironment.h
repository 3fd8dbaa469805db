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

struct CheckEnvironment {
    // Shows how far a long read has come ("SDHC\ZEL_Update\ZEL.bin", 0..100); may be empty.
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
