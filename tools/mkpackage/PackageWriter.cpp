#include "tools/mkpackage/PackageWriter.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>

#include "platform/common/DeviceEntryRules.h"
#include "tools/mkpackage/OutputFile.h"
#include "tools/package/ArchiveEntry.h"
#include "tools/package/PackageFormat.h"

namespace fs = std::filesystem;

namespace quarrin::package {

using platform::DEVICE_MAX_FILE_BYTES;

namespace {

using ArchivePtr = std::unique_ptr<struct archive, int (*)(struct archive*)>;
using EntryPtr = std::unique_ptr<struct archive_entry, void (*)(struct archive_entry*)>;

// UTF-16 of well-formed UTF-8 text; nothing for anything else (stray or missing
// continuation bytes, overlong forms, surrogates, values past U+10FFFF), which the unit's
// screen could only show as garbage.
std::optional<std::u16string> Utf8ToUtf16(const std::string& text) {
    static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        int extra = byte < 0x80             ? 0
                    : (byte & 0xE0) == 0xC0 ? 1
                    : (byte & 0xF0) == 0xE0 ? 2
                    : (byte & 0xF8) == 0xF0 ? 3
                                            : -1;
        if (extra < 0 || text.size() - i <= static_cast<std::size_t>(extra))
            return std::nullopt;
        char32_t value = extra == 0 ? byte : byte & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            value = value << 6 | (next & 0x3F);
        }
        if (value < kMinimum[extra] || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000))
            return std::nullopt;
        i += static_cast<std::size_t>(extra) + 1;
        if (value >= 0x10000) {
            value -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(value));
        }
    }
    return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | c >> 6));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | c >> 12));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | c >> 18));
            out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

void PutUtf16(std::string& header, std::size_t offset, const std::u16string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        header[offset + 2 * i] = static_cast<char>(text[i] & 0xFF);
        header[offset + 2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
}

bool BuildHeader(const PackageInfo& info, std::string& header, std::string& error) {
    std::u16string marker = Utf8ToUtf16(info.marker).value_or(u"");
    PackageLayout layout{};
    if (!LayoutForMarker(marker, layout)) {
        error = "unknown marker '" + info.marker + "' (ZEL-OKUN-1 or ZEL-OKUN-2)";
        return false;
    }
    std::optional<std::u16string> text = Utf8ToUtf16(info.version);
    if (!text) {
        error = "the version text is not UTF-8";
        return false;
    }
    const std::u16string& version = *text;
    if (version.size() > layout.versionChars) {
        error = "version text longer than " + std::to_string(layout.versionChars) + " characters";
        return false;
    }
    header.assign(layout.archiveOffset, '\0');
    PutUtf16(header, 0, marker);
    PutUtf16(header, PACKAGE_VERSION_OFFSET, version);
    return true;
}

bool WriteAllTo(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Compresses the tar stream with zstd and a content checksum per frame, so that the reader
// notices damaged data instead of installing it. (libarchive's own zstd filter writes no
// checksum.) Refuses to let the package reach 4 GiB: no volume of the unit could hold it.
class ZstdSink {
public:
    ZstdSink(int fd, std::uint64_t room)
        : m_fd(fd), m_room(room), m_context(ZSTD_createCCtx()), m_out(ZSTD_CStreamOutSize()) {
        ZSTD_CCtx_setParameter(m_context, ZSTD_c_compressionLevel, 3);
        ZSTD_CCtx_setParameter(m_context, ZSTD_c_checksumFlag, 1);
    }
    ~ZstdSink() { ZSTD_freeCCtx(m_context); }
    ZstdSink(const ZstdSink&) = delete;
    ZstdSink& operator=(const ZstdSink&) = delete;

    bool Write(const void* data, std::size_t size) {
        ZSTD_inBuffer input{data, size, 0};
        while (input.pos < input.size) {
            if (!Step(input, ZSTD_e_continue))
                return false;
        }
        return true;
    }
    bool Finish() {
        ZSTD_inBuffer input{nullptr, 0, 0};
        for (;;) {
            ZSTD_outBuffer output{m_out.data(), m_out.size(), 0};
            std::size_t left = ZSTD_compressStream2(m_context, &output, &input, ZSTD_e_end);
            if (ZSTD_isError(left) || !Put(output.pos))
                return false;
            if (left == 0)
                return true;
        }
    }
    // Why the last write failed: an errno value, or 0 for a compression error.
    int Error() const { return m_error; }
    bool TooLarge() const { return m_tooLarge; }

private:
    bool Step(ZSTD_inBuffer& input, ZSTD_EndDirective mode) {
        ZSTD_outBuffer output{m_out.data(), m_out.size(), 0};
        std::size_t result = ZSTD_compressStream2(m_context, &output, &input, mode);
        return !ZSTD_isError(result) && Put(output.pos);
    }
    bool Put(std::size_t size) {
        if (size > m_room) {
            m_tooLarge = true;
            return false;
        }
        m_room -= size;
        if (!WriteAllTo(m_fd, m_out.data(), size)) {
            m_error = errno != 0 ? errno : EIO;
            return false;
        }
        return true;
    }

    int m_fd;
    std::uint64_t m_room;
    int m_error = 0;
    bool m_tooLarge = false;
    ZSTD_CCtx* m_context;
    std::vector<char> m_out;
};

la_ssize_t WriteToSink(struct archive* writer, void* sink, const void* data, std::size_t size) {
    if (!static_cast<ZstdSink*>(sink)->Write(data, size)) {
        archive_set_error(writer, EIO, "compressed write failed");
        return -1;
    }
    return static_cast<la_ssize_t>(size);
}

// libarchive leaves its error text unset on some failures (data past an entry's size, say).
std::string ArchiveError(struct archive* archive, const char* fallback) {
    const char* text = archive_error_string(archive);
    return text != nullptr ? text : fallback;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

std::string TooLargeForTheUnit(const std::string& path, std::uint64_t size) {
    return path + ": " + std::to_string(size) +
           " bytes: the unit's FAT volumes hold no file of 4 GiB or more";
}

bool SameFileState(const struct stat& a, const struct stat& b) {
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

std::string ChangedWhileRead(const std::string& path, const std::string& how) {
    return path + ": changed while it was read (" + how +
           "); pack it again when nothing writes to it";
}

// Copies exactly the `size` bytes the entry's header announced. A file that ends sooner,
// goes on longer, or whose size or modification time moved meanwhile was changed while it
// was read: its entry would hold neither the old nor the new content.
bool StreamFile(struct archive* writer, const std::string& path, int fd, const struct stat& before,
                std::string& error) {
    std::vector<char> buffer(1 << 20);
    std::int64_t left = before.st_size;
    while (left > 0) {
        std::size_t want = static_cast<std::size_t>(
            std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer.size())));
        ssize_t n = read(fd, buffer.data(), want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        if (n == 0) {
            error = ChangedWhileRead(path, "it ended " + std::to_string(left) + " bytes early");
            return false;
        }
        if (archive_write_data(writer, buffer.data(), static_cast<std::size_t>(n)) != n) {
            error = path + ": " + ArchiveError(writer, "write failed");
            return false;
        }
        left -= n;
    }
    char extra = 0;
    struct stat after {};
    if (read(fd, &extra, 1) > 0) {
        error = ChangedWhileRead(path, "it grew");
        return false;
    }
    if (fstat(fd, &after) != 0 || !SameFileState(before, after)) {
        error = ChangedWhileRead(path, "its size or time changed");
        return false;
    }
    return true;
}

void DescribeEntry(struct archive_entry* entry, const PackageEntry& source, std::int64_t size) {
    archive_entry_set_pathname_utf8(entry, source.path.c_str());
    archive_entry_set_mtime(entry, 0, 0);
    switch (source.kind) {
        case PackageEntry::Kind::Directory:
            archive_entry_set_filetype(entry, AE_IFDIR);
            archive_entry_set_perm(entry, 0755);
            break;
        case PackageEntry::Kind::Symlink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_perm(entry, 0777);
            archive_entry_set_symlink_utf8(entry, source.linkTarget.c_str());
            break;
        case PackageEntry::Kind::Hardlink:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, 0644);
            archive_entry_set_hardlink_utf8(entry, source.linkTarget.c_str());
            break;
        case PackageEntry::Kind::CharDevice:
            archive_entry_set_filetype(entry, AE_IFCHR);
            archive_entry_set_perm(entry, 0666);
            archive_entry_set_rdev(entry, makedev(1, 3));
            break;
        case PackageEntry::Kind::File:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, 0644);
            archive_entry_set_size(entry, size);
            break;
    }
}

bool WriteHeader(struct archive* writer, const PackageEntry& source, std::int64_t size,
                 std::string& error) {
    EntryPtr entry(archive_entry_new(), archive_entry_free);
    DescribeEntry(entry.get(), source, size);
    if (archive_write_header(writer, entry.get()) != ARCHIVE_OK) {
        error = source.path + ": " + ArchiveError(writer, "cannot write the entry");
        return false;
    }
    return true;
}

// A file of the host folder, opened once: the size in its header and the bytes that follow
// come from the same file, even when the name has been given to another one meanwhile.
bool WriteHostFile(struct archive* writer, const PackageEntry& source, std::string& error) {
    const std::string& path = source.sourcePath;
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat before {};
    if (file.Get() < 0 || fstat(file.Get(), &before) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(before.st_mode)) {
        error = path + ": no longer a regular file";
        return false;
    }
    if (static_cast<std::uint64_t>(before.st_size) > DEVICE_MAX_FILE_BYTES) {
        error = TooLargeForTheUnit(path, static_cast<std::uint64_t>(before.st_size));
        return false;
    }
    return WriteHeader(writer, source, before.st_size, error) &&
           StreamFile(writer, path, file.Get(), before, error);
}

bool WriteEntry(struct archive* writer, const PackageEntry& source, std::string& error) {
    if (source.kind == PackageEntry::Kind::File && !source.sourcePath.empty())
        return WriteHostFile(writer, source, error);
    auto size = static_cast<std::int64_t>(source.data.size());
    if (!WriteHeader(writer, source, size, error))
        return false;
    if (source.kind == PackageEntry::Kind::File && !source.data.empty() &&
        archive_write_data(writer, source.data.data(), source.data.size()) != size) {
        error = source.path + ": " + ArchiveError(writer, "write failed");
        return false;
    }
    return true;
}

std::string SinkError(const ZstdSink& sink) {
    if (sink.TooLarge())
        return "the package reaches 4 GiB, more than a file of the unit's FAT volumes can hold";
    return sink.Error() != 0 ? std::strerror(sink.Error()) : "compression failed";
}

// The header, then the archive. A failed write of the package is reported as such, even
// when it surfaces while an entry is written.
bool WriteArchive(int fd, const std::string& header, const std::vector<PackageEntry>& entries,
                  const std::string& outputPath, std::string& error) {
    if (!WriteAllTo(fd, header.data(), header.size())) {
        error = outputPath + ": " + std::strerror(errno);
        return false;
    }
    ZstdSink sink(fd, DEVICE_MAX_FILE_BYTES - header.size());
    ArchivePtr writer(archive_write_new(), archive_write_free);
    archive_write_set_format_pax_restricted(writer.get());
    bool ok = archive_write_open(writer.get(), &sink, nullptr, WriteToSink, nullptr) == ARCHIVE_OK;
    if (!ok)
        error = ArchiveError(writer.get(), "cannot start the archive");
    for (std::size_t i = 0; ok && i < entries.size(); ++i)
        ok = WriteEntry(writer.get(), entries[i], error);
    if (ok && archive_write_close(writer.get()) != ARCHIVE_OK) {
        error = ArchiveError(writer.get(), "cannot end the archive");
        ok = false;
    }
    writer.reset();
    ok = ok && sink.Finish();
    if (!ok && (sink.Error() != 0 || sink.TooLarge()))
        error = outputPath + ": " + SinkError(sink);
    else if (!ok && error.empty())
        error = outputPath + ": write failed";
    return ok;
}

}  // namespace

bool WritePackage(const std::string& outputPath, const PackageInfo& info,
                  const std::vector<PackageEntry>& entries, std::string& error) {
    std::string header;
    if (!BuildHeader(info, header, error))
        return false;
    OutputFile output;
    return output.Open(outputPath, error) &&
           WriteArchive(output.Fd(), header, entries, outputPath, error) && output.Commit(error);
}

bool CollectFolder(const std::string& folder, std::vector<PackageEntry>& entries,
                   std::string& error) {
    std::error_code code;
    fs::path root(folder);
    if (!fs::is_directory(root, code)) {
        error = folder + ": not a folder";
        return false;
    }
    std::vector<PackageEntry> found;
    for (auto it = fs::recursive_directory_iterator(root, code);
         !code && it != fs::recursive_directory_iterator(); it.increment(code)) {
        const fs::directory_entry& item = *it;
        std::string relative = fs::relative(item.path(), root, code).generic_string();
        fs::file_status status = item.symlink_status(code);
        if (fs::is_directory(status)) {
            found.push_back({relative, PackageEntry::Kind::Directory, "", "", ""});
        } else if (fs::is_regular_file(status)) {
            std::uintmax_t size = item.file_size(code);
            if (!code && size > DEVICE_MAX_FILE_BYTES) {
                error = TooLargeForTheUnit(item.path().string(), size);
                return false;
            }
            found.push_back({relative, PackageEntry::Kind::File, "", item.path().string(), ""});
        } else {
            error = item.path().string() + ": only folders and regular files can be packed";
            return false;
        }
    }
    if (code) {
        error = folder + ": " + code.message();
        return false;
    }
    std::sort(found.begin(), found.end(),
              [](const PackageEntry& a, const PackageEntry& b) { return a.path < b.path; });
    entries.insert(entries.end(), found.begin(), found.end());
    return true;
}

bool CheckPackageEntries(const std::vector<PackageEntry>& entries, std::string& error) {
    PackageEntryCheck check;
    for (const PackageEntry& entry : entries) {
        EntryKind kind = entry.kind == PackageEntry::Kind::File        ? EntryKind::File
                         : entry.kind == PackageEntry::Kind::Directory ? EntryKind::Folder
                                                                       : EntryKind::Other;
        EntryVerdict verdict = check.Add(std::string_view(entry.path), kind).verdict;
        if (IsRefused(verdict)) {
            error = "entry '" + entry.path + "' would be refused: " + DescribeVerdict(verdict);
            return false;
        }
    }
    if (!check.HasProgram()) {
        error = NO_PROGRAM_REASON;
        return false;
    }
    return true;
}

namespace {

struct BoundedFile {
    int fd = -1;
    std::int64_t offset = 0;
    std::int64_t length = 0;
    std::int64_t position = 0;
    std::vector<char> buffer;
};

la_ssize_t ReadBounded(struct archive* reader, void* data, const void** out) {
    auto* file = static_cast<BoundedFile*>(data);
    std::int64_t want = std::min<std::int64_t>(file->length - file->position,
                                               static_cast<std::int64_t>(file->buffer.size()));
    *out = file->buffer.data();
    if (want <= 0)
        return 0;
    ssize_t n = pread(file->fd, file->buffer.data(), static_cast<std::size_t>(want),
                      file->offset + file->position);
    if (n < 0) {
        archive_set_error(reader, errno, "read failed");
        return -1;
    }
    file->position += n;
    return n;
}

}  // namespace

namespace {

// Opens the package and reads its header: the archive's place goes to `file`, the marker and
// the version to `info`. On failure nothing stays open.
bool OpenPackage(const std::string& packagePath, BoundedFile& file, PackageInfo& info,
                 std::string& error) {
    // Not waiting for the writer of a pipe: only a regular file is read.
    file.fd = open(packagePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info_ {};
    if (file.fd < 0 || fstat(file.fd, &info_) != 0) {
        error = packagePath + ": " + std::strerror(errno);
        if (file.fd >= 0)
            close(file.fd);
        return false;
    }
    if (!S_ISREG(info_.st_mode)) {
        close(file.fd);
        error = packagePath + (S_ISDIR(info_.st_mode) ? ": is a folder" : ": not a regular file");
        return false;
    }
    unsigned char header[260] = {};
    ssize_t got = pread(file.fd, header, sizeof header, 0);
    std::u16string marker = DecodeUtf16Field(header, PACKAGE_MARKER_CHARS);
    PackageLayout layout{};
    if (got < 20 || !LayoutForMarker(marker, layout) ||
        info_.st_size <= static_cast<off_t>(layout.archiveOffset)) {
        close(file.fd);
        error = packagePath + ": not a package (bad or short header)";
        return false;
    }
    info.marker = Utf16ToUtf8(marker);
    info.version =
        Utf16ToUtf8(DecodeUtf16Field(header + PACKAGE_VERSION_OFFSET, layout.versionChars));
    file.offset = static_cast<std::int64_t>(layout.archiveOffset);
    file.length = info_.st_size - file.offset;
    file.buffer.resize(static_cast<std::size_t>(std::min<std::int64_t>(file.length, 1 << 20)));
    return true;
}

// Lists the archive's entries with the entry rule's verdicts; false with the reason in
// `reason` when the archive is corrupt or cut off.
bool ListArchive(BoundedFile& file, PackageListing& listing, std::string& reason) {
    ArchivePtr reader(archive_read_new(), archive_read_free);
    archive_read_support_filter_zstd(reader.get());
    archive_read_support_format_tar(reader.get());
    bool ok = archive_read_open(reader.get(), &file, nullptr, ReadBounded, nullptr) == ARCHIVE_OK;
    struct archive_entry* entry = nullptr;
    PackageEntryCheck check;
    while (ok) {
        int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        // The installer goes on after a warning too.
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
            ok = false;
            break;
        }
        ListedEntry listed;
        listed.path = EntryDisplayName(entry);
        listed.directory = archive_entry_filetype(entry) == AE_IFDIR;
        listed.size = archive_entry_size(entry);
        listed.verdict = AddEntry(check, entry).verdict;
        // Reading the data checks it: a corrupt or cut-off archive fails here.
        if (archive_read_data_skip(reader.get()) != ARCHIVE_OK)
            ok = false;
        listing.entries.push_back(std::move(listed));
    }
    listing.hasProgram = check.HasProgram();
    if (!ok) {
        const char* text = archive_error_string(reader.get());
        reason = text ? text : "corrupt archive";
    }
    return ok;
}

}  // namespace

bool ReadPackage(const std::string& packagePath, PackageListing& listing, std::string& error) {
    BoundedFile file;
    if (!OpenPackage(packagePath, file, listing.info, error))
        return false;
    std::string reason;
    bool ok = ListArchive(file, listing, reason);
    if (!ok)
        error = packagePath + ": " + reason;
    close(file.fd);
    return ok;
}

}  // namespace quarrin::package
