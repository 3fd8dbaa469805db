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

#include "tools/package/ArchiveEntry.h"
#include "tools/package/PackageFormat.h"

namespace fs = std::filesystem;

namespace quarrin::package {

namespace {

using ArchivePtr = std::unique_ptr<struct archive, int (*)(struct archive*)>;
using EntryPtr = std::unique_ptr<struct archive_entry, void (*)(struct archive_entry*)>;

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        int extra = byte < 0x80 ? 0 : byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : 1;
        char32_t value = extra == 0 ? byte : byte & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < text.size(); ++k) {
            value = value << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
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
    std::u16string marker = Utf8ToUtf16(info.marker);
    PackageLayout layout{};
    if (!LayoutForMarker(marker, layout)) {
        error = "unknown marker '" + info.marker + "' (ZEL-OKUN-1 or ZEL-OKUN-2)";
        return false;
    }
    std::u16string version = Utf8ToUtf16(info.version);
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
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Compresses the tar stream with zstd and a content checksum per frame, so that the reader
// notices damaged data instead of installing it. (libarchive's own zstd filter writes no
// checksum.)
class ZstdSink {
public:
    explicit ZstdSink(int fd)
        : m_fd(fd), m_context(ZSTD_createCCtx()), m_out(ZSTD_CStreamOutSize()) {
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
            if (ZSTD_isError(left) || !WriteAllTo(m_fd, m_out.data(), output.pos))
                return false;
            if (left == 0)
                return true;
        }
    }

private:
    bool Step(ZSTD_inBuffer& input, ZSTD_EndDirective mode) {
        ZSTD_outBuffer output{m_out.data(), m_out.size(), 0};
        std::size_t result = ZSTD_compressStream2(m_context, &output, &input, mode);
        return !ZSTD_isError(result) && WriteAllTo(m_fd, m_out.data(), output.pos);
    }

    int m_fd;
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

bool StreamFile(struct archive* writer, const std::string& path, std::string& error) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<char> buffer(1 << 20);
    bool ok = true;
    for (;;) {
        ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n == 0)
            break;
        if (n < 0 || archive_write_data(writer, buffer.data(), static_cast<std::size_t>(n)) != n) {
            error = path + ": " + (n < 0 ? std::strerror(errno) : archive_error_string(writer));
            ok = false;
            break;
        }
    }
    close(fd);
    return ok;
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

bool WriteEntry(struct archive* writer, const PackageEntry& source, std::string& error) {
    std::int64_t size = static_cast<std::int64_t>(source.data.size());
    if (!source.sourcePath.empty()) {
        struct stat info {};
        if (stat(source.sourcePath.c_str(), &info) != 0) {
            error = source.sourcePath + ": " + std::strerror(errno);
            return false;
        }
        size = info.st_size;
    }
    EntryPtr entry(archive_entry_new(), archive_entry_free);
    DescribeEntry(entry.get(), source, size);
    if (archive_write_header(writer, entry.get()) != ARCHIVE_OK) {
        error = source.path + ": " + archive_error_string(writer);
        return false;
    }
    if (source.kind != PackageEntry::Kind::File)
        return true;
    if (!source.sourcePath.empty())
        return StreamFile(writer, source.sourcePath, error);
    if (!source.data.empty() &&
        archive_write_data(writer, source.data.data(), source.data.size()) !=
            static_cast<la_ssize_t>(source.data.size())) {
        error = source.path + ": " + archive_error_string(writer);
        return false;
    }
    return true;
}

}  // namespace

bool WritePackage(const std::string& outputPath, const PackageInfo& info,
                  const std::vector<PackageEntry>& entries, std::string& error) {
    std::string header;
    if (!BuildHeader(info, header, error))
        return false;
    int fd = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = outputPath + ": " + std::strerror(errno);
        return false;
    }
    bool ok = WriteAllTo(fd, header.data(), header.size());
    ZstdSink sink(fd);
    ArchivePtr writer(archive_write_new(), archive_write_free);
    archive_write_set_format_pax_restricted(writer.get());
    if (ok &&
        archive_write_open(writer.get(), &sink, nullptr, WriteToSink, nullptr) != ARCHIVE_OK) {
        error = archive_error_string(writer.get());
        ok = false;
    }
    for (std::size_t i = 0; ok && i < entries.size(); ++i)
        ok = WriteEntry(writer.get(), entries[i], error);
    if (ok && archive_write_close(writer.get()) != ARCHIVE_OK) {
        error = archive_error_string(writer.get());
        ok = false;
    }
    writer.reset();
    if (ok && !sink.Finish()) {
        error = outputPath + ": compressed write failed";
        ok = false;
    }
    if (fsync(fd) != 0 && ok) {
        error = outputPath + ": " + std::strerror(errno);
        ok = false;
    }
    close(fd);
    if (!ok && error.empty())
        error = outputPath + ": write failed";
    return ok;
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

bool ReadPackage(const std::string& packagePath, PackageListing& listing, std::string& error) {
    PackageInfo& info = listing.info;
    BoundedFile file;
    file.fd = open(packagePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (file.fd < 0) {
        error = packagePath + ": " + std::strerror(errno);
        return false;
    }
    struct stat info_ {};
    fstat(file.fd, &info_);
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
    if (!ok)
        error = packagePath + ": " +
                (archive_error_string(reader.get()) ? archive_error_string(reader.get())
                                                    : "corrupt archive");
    close(file.fd);
    return ok;
}

}  // namespace quarrin::package
