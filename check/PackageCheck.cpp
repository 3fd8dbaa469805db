#include "check/PackageCheck.h"

#include "check/TextHelpers.h"
#include "tools/package/ArchiveEntry.h"
#include "tools/package/PackageFormat.h"
#include "tools/zcompress/PackageEntries.h"
#include "tools/zcompress/PackageSource.h"
#include "workers/AppInstallThread.h"

namespace {

using namespace quarrin::package;
using quarrin::zcompress::NextInstallableEntry;
using quarrin::zcompress::OpenPackageArchive;
using quarrin::zcompress::PackageSource;
using quarrin::zcompress::ProgramEntryResult;

std::wstring EntryName(struct archive_entry* entry) {
    return entry != nullptr ? FromUtf8(EntryDisplayName(entry)) : L"";
}

bool IsBelow(const std::wstring& path, const std::wstring& folder) {
    std::wstring p = FoldName(path);
    std::wstring f = FoldName(folder) + L"\\";
    return p.compare(0, f.size(), f) == 0;
}

// Reads the entry's data block by block without copying them out: the decompression and the
// checks of archive_read_data, which the library reads with, but not its copy. Like it, any
// status but ARCHIVE_OK fails, and so does a block that starts before the end of the one
// before (sparse blocks out of order).
bool ReadData(struct archive* reader, PackageSource& source,
              const std::function<void(int)>& progress) {
    la_int64_t end = 0;
    for (;;) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        int status = archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF)
            return true;
        if (status != ARCHIVE_OK || offset < end)
            return false;
        end = offset + static_cast<la_int64_t>(size);
        progress(source.PercentRead());
    }
}

// Walks the entries as the library does; returns 0 for a package that installs, or the
// library's negative result.
int ReadEntries(struct archive* reader, PackageSource& source, PackageReading& reading,
                const std::function<void(int)>& progress) {
    PackageEntryCheck check;
    for (;;) {
        struct archive_entry* entry = nullptr;
        EntryDecision decision;
        int status = NextInstallableEntry(reader, check, entry, decision);
        if (status == UNPACK_UNSAFE_ENTRY) {
            reading.refusedEntry = EntryName(entry);
            reading.refusal = FromUtf8(DescribeVerdict(decision.verdict));
        }
        if (status < 0)
            return status;
        if (status == 0)
            return ProgramEntryResult(check);
        std::wstring path = std::wstring(APP_DESTINATION) + decision.path;
        if (!IsBelow(path, APP_FOLDER) && FoldName(path) != FoldName(APP_FOLDER))
            reading.outsideApplication.push_back(path);
        if (archive_entry_filetype(entry) == AE_IFDIR) {
            ++reading.folders;
            continue;
        }
        // The data are read to the end of the entry, as the library reads them to write them,
        // so damage and the checksum of the compressed stream are found.
        if (!ReadData(reader, source, progress))
            return UNPACK_CORRUPT_ARCHIVE;
        ++reading.files;
        reading.unpackedBytes += static_cast<ULONGLONG>(archive_entry_size(entry));
    }
}

std::wstring MarkerOf(const std::wstring& package) {
    HANDLE file = CreateFileW(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return L"";
    BYTE bytes[2 * PACKAGE_MARKER_CHARS] = {};
    DWORD read = 0;
    ReadFile(file, bytes, sizeof bytes, &read, nullptr);
    CloseHandle(file);
    std::u16string marker = DecodeUtf16Field(bytes, read / 2);
    return std::wstring(marker.begin(), marker.end());
}

}  // namespace

PackageReading ReadPackageAsInstaller(const std::wstring& package,
                                      const std::function<void(int)>& progress) {
    PackageReading reading;
    reading.marker = MarkerOf(package);
    reading.packageBytes = SizeOf(package);
    PackageSource source;
    reading.result = source.Open(package.c_str());
    if (reading.result < 0)
        return reading;
    struct archive* reader = nullptr;
    reading.result = OpenPackageArchive(source, reader);
    if (reading.result == 0)
        reading.result = ReadEntries(reader, source, reading, progress);
    if (reading.result == UNPACK_CORRUPT_ARCHIVE) {
        const char* error = archive_error_string(reader);
        reading.archiveError = error != nullptr ? FromUtf8(error) : L"";
    }
    archive_read_free(reader);
    progress(100);
    return reading;
}

PackageReadAhead::PackageReadAhead(std::wstring package, std::function<void(int)> progress)
    : m_package(std::move(package)), m_progress(std::move(progress)) {
    m_thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

PackageReadAhead::~PackageReadAhead() {
    Reading();
}

const PackageReading& PackageReadAhead::Reading() {
    if (m_done)
        return m_reading;
    if (m_thread != nullptr) {
        // The read ends with the archive, which is as long as the file.
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
        m_thread = nullptr;
    } else {
        Run(this);  // no thread: read it now
    }
    m_done = true;
    return m_reading;
}

DWORD PackageReadAhead::Run(LPVOID self) {
    auto* ahead = static_cast<PackageReadAhead*>(self);
    ahead->m_reading = ReadPackageAsInstaller(ahead->m_package, ahead->m_progress);
    return 0;
}

ULONGLONG SizeOf(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    CloseHandle(file);
    return static_cast<ULONGLONG>(high) << 32 | low;
}
