// The decompression library that the application worker loads at run time. It unpacks an
// application package into a device folder through the loader's own Win32 file calls and
// reports its progress by posting to the window it was given.
//
// Exports (C linkage, nothing else is visible):
//   zCompressSetNotifyWnd(HWND, UINT)  window and message for (1, percent) progress posts
//   zUncompress(package, destination)  0 or the number of files written; below 0 a failure
#include <archive.h>
#include <archive_entry.h>

#include <string>
#include <vector>

#include "platform/Win32.h"
#include "tools/package/PackageFormat.h"
#include "tools/zcompress/PackageEntries.h"
#include "tools/zcompress/PackageSource.h"

namespace {

using namespace quarrin::package;
using quarrin::zcompress::NextInstallableEntry;
using quarrin::zcompress::OpenPackageArchive;
using quarrin::zcompress::PackageSource;

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

// Creates every folder on the way to `path` (not `path` itself).
void CreateParentFolders(const std::wstring& destination, const std::wstring& path) {
    for (std::size_t slash = path.find(L'\\', destination.size() + 1); slash != std::wstring::npos;
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

int ExtractEntries(struct archive* reader, PackageSource& source, const std::wstring& destination) {
    ProgressReporter progress;
    progress.Report(0);
    std::vector<char> buffer(WRITE_CHUNK);
    int files = 0;
    for (;;) {
        struct archive_entry* entry = nullptr;
        std::wstring path;
        int status = NextInstallableEntry(reader, destination, entry, path);
        if (status == 0)
            break;
        if (status < 0)
            return status;
        CreateParentFolders(destination, path);
        if (archive_entry_filetype(entry) == AE_IFDIR) {
            CreateDirectoryW(path.c_str(), nullptr);
            continue;
        }
        int written = WriteEntryData(reader, path, source, progress, buffer);
        if (written < 0)
            return written;
        ++files;
    }
    progress.Report(100);
    return files;
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
    struct archive* reader = nullptr;
    int result = OpenPackageArchive(source, reader);
    if (result == 0)
        result = ExtractEntries(reader, source, destination);
    archive_read_free(reader);
    return result;
}
