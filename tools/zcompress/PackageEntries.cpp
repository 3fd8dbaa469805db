#include "tools/zcompress/PackageEntries.h"

#include <optional>

#include "tools/package/PackageFormat.h"
#include "tools/zcompress/EntryPath.h"

namespace quarrin::zcompress {

namespace {

bool IsAllowedKind(struct archive_entry* entry) {
    if (archive_entry_hardlink(entry) != nullptr || archive_entry_symlink(entry) != nullptr) {
        return false;
    }
    auto type = archive_entry_filetype(entry);
    return type == AE_IFREG || type == AE_IFDIR;
}

std::optional<std::wstring> EntryDevicePath(struct archive_entry* entry,
                                            const std::wstring& destination) {
#ifdef _WIN32
    // On Windows libarchive keeps a name as wide characters and gives neither a UTF-8 nor a
    // narrow form of one that the ANSI code page cannot hold (Chinese names, for instance).
    const wchar_t* wide = archive_entry_pathname_w(entry);
    if (wide == nullptr)
        return std::nullopt;
    return DevicePathForEntry(destination, std::wstring_view(wide));
#else
    const char* name = archive_entry_pathname_utf8(entry);
    if (name == nullptr)
        name = archive_entry_pathname(entry);
    if (name == nullptr)
        return std::nullopt;
    return DevicePathForEntry(destination, name);
#endif
}

}  // namespace

int OpenPackageArchive(PackageSource& source, struct archive*& reader) {
    reader = archive_read_new();
    archive_read_support_filter_zstd(reader);
    archive_read_support_format_tar(reader);
    return source.Attach(reader) == ARCHIVE_OK ? 0 : package::UNPACK_CORRUPT_ARCHIVE;
}

int NextInstallableEntry(struct archive* reader, const std::wstring& destination,
                         struct archive_entry*& entry, std::wstring& devicePath) {
    entry = nullptr;
    int status = archive_read_next_header(reader, &entry);
    if (status == ARCHIVE_EOF)
        return 0;
    if (status != ARCHIVE_OK && status != ARCHIVE_WARN)
        return package::UNPACK_CORRUPT_ARCHIVE;
    std::optional<std::wstring> path = EntryDevicePath(entry, destination);
    if (!path || !IsAllowedKind(entry))
        return package::UNPACK_UNSAFE_ENTRY;
    devicePath = std::move(*path);
    return 1;
}

}  // namespace quarrin::zcompress
