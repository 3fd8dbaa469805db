// The decompression library that the application worker loads at run time. It unpacks an
// application package into a device folder through the loader's own Win32 file calls and
// reports its progress by posting to the window it was given.
//
// Exports (C linkage, nothing else is visible):
//   zCompressSetNotifyWnd(HWND, UINT)  window and message for (1, percent) progress posts
//   zUncompress(package, destination)  the number of files written; below 0 a failure
//
// Entries are judged by the package entry rule (tools/package/EntryRule.h), the same rule
// that mkpackage packs and verifies with. A package succeeds only when it brought the main
// application, ZEL\Velmoran.exe, and that file is in place afterwards.
//
// Nothing installed below the destination changes until the whole package has been unpacked
// into a staging folder (tools/zcompress/StagingFolder.h); then renames put the entries in
// place, the program's folder last. A failure, or a power cut, thus never leaves half an
// application where the unit would start it.
#include <archive.h>
#include <archive_entry.h>

#include <string>
#include <vector>

#include "platform/Win32.h"
#include "tools/package/PackageFormat.h"
#include "tools/zcompress/PackageEntries.h"
#include "tools/zcompress/PackageSource.h"
#include "tools/zcompress/StagingFolder.h"

namespace {

using namespace quarrin::package;
using quarrin::zcompress::NextInstallableEntry;
using quarrin::zcompress::OpenPackageArchive;
using quarrin::zcompress::PackageSource;
using quarrin::zcompress::ProgramEntryResult;
using quarrin::zcompress::StagingFolder;

HWND g_progressWindow = nullptr;
UINT g_progressMessage = 0;

constexpr std::size_t WRITE_CHUNK = 1 << 18;

class ProgressReporter {
public:
    void Report(int percent) {
        if (g_progressWindow == nullptr || percent == m_last)
            return;
        m_last = percent;
        PostMessageW(g_progressWindow, g_progressMessage, 1, percent);
    }

private:
    int m_last = -1;
};

// Creates every folder on the way to `path` (not `path` itself) below `base`.
void CreateParentFolders(const std::wstring& base, const std::wstring& path) {
    for (std::size_t slash = path.find(L'\\', base.size() + 1); slash != std::wstring::npos;
         slash = path.find(L'\\', slash + 1)) {
        CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
    }
}

HANDLE CreateOutputFile(const std::wstring& path) {
    auto create = [&path] {
        return CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE file = create();
    // An installed file may be read-only; the new version replaces it all the same.
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED &&
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL)) {
        file = create();
    }
    return file;
}

int WriteEntryData(struct archive* reader, const std::wstring& path, PackageSource& source,
                   ProgressReporter& progress, std::vector<char>& buffer) {
    HANDLE file = CreateOutputFile(path);
    if (file == INVALID_HANDLE_VALUE)
        return UNPACK_WRITE_FAILED;
    int result = 0;
    for (;;) {
        la_ssize_t n = archive_read_data(reader, buffer.data(), buffer.size());
        if (n == 0)
            break;
        if (n < 0) {
            result = UNPACK_CORRUPT_ARCHIVE;
            break;
        }
        DWORD written = 0;
        if (!WriteFile(file, buffer.data(), static_cast<DWORD>(n), &written, nullptr) ||
            written != static_cast<DWORD>(n)) {
            result = UNPACK_WRITE_FAILED;
            break;
        }
        progress.Report(source.PercentRead());
    }
    CloseHandle(file);
    return result;
}

// The device path below `destination` of a relative path that the entry rule accepted.
std::wstring BelowDestination(const std::wstring& destination, const std::wstring& relative) {
    std::wstring path = destination;
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    return path + L"\\" + relative;
}

// Whether the main application is a file below `destination` now.
bool ProgramInPlace(const std::wstring& destination) {
    DWORD attributes =
        GetFileAttributesW(BelowDestination(destination, std::wstring(PROGRAM_ENTRY_PATH)).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Unpacks every entry below `base`; the number of files written, or a failure.
int ExtractEntries(struct archive* reader, PackageSource& source, const std::wstring& base,
                   ProgressReporter& progress) {
    progress.Report(0);
    std::vector<char> buffer(WRITE_CHUNK);
    PackageEntryCheck check;
    int files = 0;
    for (;;) {
        struct archive_entry* entry = nullptr;
        EntryDecision decision;
        int status = NextInstallableEntry(reader, check, entry, decision);
        if (status < 0)
            return status;
        if (status == 0)
            break;
        std::wstring path = BelowDestination(base, decision.path);
        CreateParentFolders(base, path);
        if (archive_entry_filetype(entry) == AE_IFDIR) {
            CreateDirectoryW(path.c_str(), nullptr);
            continue;
        }
        int written = WriteEntryData(reader, path, source, progress, buffer);
        if (written < 0)
            return written;
        ++files;
    }
    // Installed means the program is in place: an archive that did not bring it is a failure,
    // not an empty success.
    if (int result = ProgramEntryResult(check); result < 0)
        return result;
    if (!ProgramInPlace(base))
        return UNPACK_NO_PROGRAM;
    return files;
}

// Unpacks the opened package into the staging folder and, when it is complete, puts it in
// place below `destination`; the staging folder is gone afterwards in either case.
int UnpackStaged(PackageSource& source, const std::wstring& destination,
                 ProgressReporter& progress) {
    StagingFolder staging(destination);
    if (!staging.Prepare())
        return UNPACK_WRITE_FAILED;
    struct archive* reader = nullptr;
    int result = OpenPackageArchive(source, reader);
    if (result == 0)
        result = ExtractEntries(reader, source, staging.Root(), progress);
    archive_read_free(reader);
    if (result >= 0 && !staging.Commit())
        result = UNPACK_WRITE_FAILED;
    if (result >= 0 && !ProgramInPlace(destination))
        result = UNPACK_NO_PROGRAM;
    // After a success it holds only what the package replaced. What cannot be removed now
    // is removed before the next unpack.
    staging.Discard();
    return result;
}

}  // namespace

// The two entry points are the library's only exports, on both systems.
#ifdef _WIN32
#define ZCOMPRESS_EXPORT extern "C" __declspec(dllexport)
#else
#define ZCOMPRESS_EXPORT extern "C" __attribute__((visibility("default")))
#endif

ZCOMPRESS_EXPORT int zCompressSetNotifyWnd(HWND window, UINT message) {
    g_progressWindow = window;
    g_progressMessage = message;
    return 1;
}

ZCOMPRESS_EXPORT int zUncompress(LPCWSTR package, LPCWSTR destination) {
    if (package == nullptr || destination == nullptr || *destination == L'\0') {
        return UNPACK_BAD_ARGUMENTS;
    }
    PackageSource source;
    if (int opened = source.Open(package); opened < 0)
        return opened;
    ProgressReporter progress;
    int result = UnpackStaged(source, destination, progress);
    if (result >= 0)
        progress.Report(100);
    return result;
}
