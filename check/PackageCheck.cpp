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

bool ReadData(struct archive* reader, PackageSource& source, std::vector<char>& buffer,
              const std::function<void(int)>& progress) {
    for (;;) {
        la_ssize_t n = archive_read_data(reader, buffer.data(), buffer.size());
        if (n == 0)
            return true;
        if (n < 0)
            return false;
        progress(source.PercentRead());
    }
}

// Walks the entries as the library does; returns 0 for a package that installs, or the
// library's negative result.
int ReadEntries(struct archive* reader, PackageSource& source, PackageReading& reading,
                const std::function<void(int)>& progress) {
    PackageEntryCheck check;
    std::vector<char> buffer(1 << 18);
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
        if (!ReadData(reader, source, buffer, progress))
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
