// Reads an application package the way zUncompress does, with the same reader and entry
// rule, but writes nothing: what the library would return, and what the package holds.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Win32.h"

struct PackageReading {
    int result = 0;  // 0, or the library's negative result (UNPACK_*)
    ULONGLONG packageBytes = 0;
    std::wstring marker;
    int files = 0;
    int folders = 0;
    ULONGLONG unpackedBytes = 0;
    std::wstring refusedEntry;  // with UNPACK_UNSAFE_ENTRY: the entry's name in the archive
    std::wstring refusal;       // why the entry rule refuses it
    std::wstring archiveError;  // with UNPACK_CORRUPT_ARCHIVE: libarchive's reason
    std::vector<std::wstring> outsideApplication;  // entries written beside ResidentFlash3\ZEL
};

// The size of the file at `path`, 0 when it does not open.
ULONGLONG SizeOf(const std::wstring& path);

// `progress` receives the share of the archive read so far, 0 to 100.
PackageReading ReadPackageAsInstaller(const std::wstring& package,
                                      const std::function<void(int)>& progress);

// Reads a package as the installer would on a thread of its own, so that the checks of the
// other kinds go on meanwhile (a package's read is the longest part of a check).
class PackageReadAhead {
public:
    // `progress` is called on the reading thread.
    PackageReadAhead(std::wstring package, std::function<void(int)> progress);
    ~PackageReadAhead();
    PackageReadAhead(const PackageReadAhead&) = delete;
    PackageReadAhead& operator=(const PackageReadAhead&) = delete;

    const std::wstring& Package() const { return m_package; }
    // The reading, once the thread has finished it.
    const PackageReading& Reading();

private:
    static DWORD Run(LPVOID self);

    std::wstring m_package;
    std::function<void(int)> m_progress;
    PackageReading m_reading;
    HANDLE m_thread = nullptr;
    bool m_done = false;
};
