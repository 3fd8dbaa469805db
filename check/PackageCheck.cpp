#include "check/PackageCheck.h"

#include <set>

#include "check/TextHelpers.h"
#include "tools/package/PackageFormat.h"
#include "tools/zcompress/PackageEntries.h"
#include "tools/zcompress/PackageSource.h"
#include "workers/AppInstallThread.h"

namespace {

using namespace quarrin::package;
using quarrin::zcompress::NextInstallableEntry;
using quarrin::zcompress::OpenPackageArchive;
using quarrin::zcompress::PackageSource;

std::wstring EntryName(struct archive_entry* entry) {
    const char* name = entry != nullptr ? archive_entry_pathname(entry) : nullptr;
    return name != nullptr ? FromUtf8(name) : L"";
}

std::wstring RefusalReason(struct archive_entry* entry) {
    if (entry == nullptr)
        return L"the entry cannot be read";
    if (archive_entry_symlink(entry) != nullptr)
        return L"a link: the installer takes folders and regular files only";
    if (archive_entry_hardlink(entry) != nullptr)
        return L"a hard link: the installer takes folders and regular files only";
    auto type = archive_entry_filetype(entry);
    if (type != AE_IFREG && type != AE_IFDIR)
        return L"neither a folder nor a regular file";
    return L"a name the installer refuses (absolute, \"..\", a DOS device name, a drive, a name "
           L"ending in a dot or a space, or characters the device cannot hold)";
}

// What the library's writes would meet, in the order of the archive: a folder or file below
// a path the package already wrote as a file, or a file where it made a folder.
class WritePlan {
public:
    // Empty when the entry can be written; else why not.
    std::wstring Add(const std::wstring& devicePath, bool folder) {
        std::wstring key = FoldName(devicePath);
        for (std::size_t slash = key.find(L'\\'); slash != std::wstring::npos;
             slash = key.find(L'\\', slash + 1)) {
            if (m_files.count(key.substr(0, slash)) != 0)
                return L"it lies below " + devicePath.substr(0, slash) +
                       L", which the package "
                       L"writes as a file";
        }
        if (!folder && m_folders.count(key) != 0)
            return L"the package made a folder of that name before";
        (folder ? m_folders : m_files).insert(key);
        return L"";
    }

private:
    std::set<std::wstring> m_files;
    std::set<std::wstring> m_folders;
};

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

// Walks the entries; returns 0 at the end of the archive or the library's negative result.
int ReadEntries(struct archive* reader, PackageSource& source, PackageReading& reading,
                const std::function<void(int)>& progress) {
    WritePlan plan;
    std::vector<char> buffer(1 << 18);
    std::wstring program = FoldName(std::wstring(APP_FOLDER) + L"\\Velmoran.exe");
    for (;;) {
        struct archive_entry* entry = nullptr;
        std::wstring path;
        int status = NextInstallableEntry(reader, APP_DESTINATION, entry, path);
        if (status == 0)
            return 0;
        if (status == UNPACK_UNSAFE_ENTRY) {
            reading.refusedEntry = EntryName(entry);
            reading.refusal = RefusalReason(entry);
        }
        if (status < 0)
            return status;
        bool folder = archive_entry_filetype(entry) == AE_IFDIR;
        if (std::wstring blocked = plan.Add(path, folder); !blocked.empty()) {
            reading.refusedEntry = EntryName(entry);
            reading.refusal = blocked;
            return UNPACK_WRITE_FAILED;
        }
        if (!IsBelow(path, APP_FOLDER) && FoldName(path) != FoldName(APP_FOLDER))
            reading.outsideApplication.push_back(path);
        if (folder) {
            ++reading.folders;
            continue;
        }
        if (FoldName(path) == program)
            reading.installsProgram = true;
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
