// The compressed archive inside a package, read through the loader's Win32 file calls so
// that the device's rules (confinement, sharing, injected faults) apply. Reads are
// positional and never go past the end of the archive.
#pragma once

#include <archive.h>

#include <vector>

#include "platform/Win32.h"

namespace quarrin::zcompress {

class PackageSource {
public:
    PackageSource() = default;
    ~PackageSource();
    PackageSource(const PackageSource&) = delete;
    PackageSource& operator=(const PackageSource&) = delete;

    // 0, or UNPACK_CANNOT_OPEN / UNPACK_BAD_HEADER.
    int Open(LPCWSTR packagePath);
    // Hands the archive to libarchive through callbacks; ARCHIVE_OK or an error.
    int Attach(struct archive* reader);

    // Share of the archive consumed so far, 0 to 100.
    int PercentRead() const;

private:
    static la_ssize_t Read(struct archive*, void* self, const void** buffer);
    static la_int64_t Skip(struct archive*, void* self, la_int64_t request);
    bool ReadAt(ULONGLONG offset, void* buffer, DWORD count, DWORD& done);

    HANDLE m_file = INVALID_HANDLE_VALUE;
    ULONGLONG m_archiveStart = 0;
    ULONGLONG m_archiveLength = 0;
    ULONGLONG m_position = 0;  // within the archive
    std::vector<unsigned char> m_buffer;
};

}  // namespace quarrin::zcompress
