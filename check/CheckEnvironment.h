// What the check gets from the program that runs it, beside the device's Win32 calls.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Win32.h"

// An entry that a device volume cannot hold as the host holds it, as the device's listings
// met it: what the loader's log names in a "Device cannot hold" line.
struct UnheldEntry {
    enum Kind {
        NAME,         // a name a device volume cannot hold: left out of the listing
        LINK,         // a link below a volume: left out, never followed
        DEAD_VOLUME,  // a volume folder that links to no usable folder: left out
        NOT_A_FILE,   // a pipe, socket or device node: listed, but no open reaches it
        TOO_LARGE,    // a file of 4 GiB or more: listed, but no open reaches it
    };
    std::wstring folder;  // device path of the folder listed
    std::wstring name;    // the entry's name as the log shows it (bytes that are no UTF-8 as <xx>)
    Kind kind = NAME;
    std::wstring why;  // in words, as the log line gives it
    bool Listed() const { return kind == NOT_A_FILE || kind == TOO_LARGE; }
    std::wstring Path() const { return folder + L"\\" + name; }
};

inline constexpr ULONGLONG PROGRESS_PACKAGE_BYTES = 16 * 1048576;
inline constexpr int PROGRESS_TREE_FILES = 5000;

struct CheckEnvironment {
    // Shows how far a large read has come ("SDHC\ZEL_Update\ZEL.bin", 0..100); may be empty.
    // Reads are large from PROGRESS_PACKAGE_BYTES of package or PROGRESS_TREE_FILES files on.
    std::function<void(const std::wstring& what, int percent)> progress;
    // The entries that listings have met so far that the device cannot hold; may be empty.
    std::function<std::vector<UnheldEntry>()> unheld;
    // The size of the unit's "Storage Card" once formatted; 0: the volume's total size.
    ULONGLONG cardCapacity = 0;

    void Progress(const std::wstring& what, int percent) const {
        if (progress)
            progress(what, percent);
    }
    // Such entries in `folder` and below it.
    std::vector<UnheldEntry> UnheldBelow(const std::wstring& folder) const;
};
