#include "tools/zcompress/PackageSource.h"

#include <archive.h>

#include <algorithm>
#include <cerrno>

#include "tools/package/PackageFormat.h"

namespace quarrin::zcompress {

namespace {
constexpr DWORD READ_CHUNK = 1 << 20;
}

PackageSource::~PackageSource() {
    if (m_file != INVALID_HANDLE_VALUE)
        CloseHandle(m_file);
}

bool PackageSource::ReadAt(ULONGLONG offset, void* buffer, DWORD count, DWORD& done) {
    done = 0;
    LONG high = static_cast<LONG>(offset >> 32);
    DWORD low = SetFilePointer(m_file, static_cast<LONG>(offset & 0xFFFFFFFF), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS)
        return false;
    return ReadFile(m_file, buffer, count, &done, nullptr) != FALSE;
}

int PackageSource::Open(LPCWSTR packagePath) {
    m_file = CreateFileW(packagePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file == INVALID_HANDLE_VALUE)
        return package::UNPACK_CANNOT_OPEN;
    DWORD high = 0;
    DWORD low = GetFileSize(m_file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) {
        return package::UNPACK_CANNOT_OPEN;
    }
    ULONGLONG size = static_cast<ULONGLONG>(high) << 32 | low;

    unsigned char marker[2 * package::PACKAGE_MARKER_CHARS] = {};
    DWORD done = 0;
    if (!ReadAt(0, marker, sizeof marker, done) || done != sizeof marker) {
        return package::UNPACK_BAD_HEADER;
    }
    package::PackageLayout layout{};
    if (!package::LayoutForMarker(package::DecodeUtf16Field(marker, package::PACKAGE_MARKER_CHARS),
                                  layout) ||
        size <= layout.archiveOffset) {
        return package::UNPACK_BAD_HEADER;
    }
    m_archiveStart = layout.archiveOffset;
    m_archiveLength = size - layout.archiveOffset;
    // A small package needs no more buffer than it has bytes.
    m_buffer.resize(static_cast<std::size_t>(std::min<ULONGLONG>(READ_CHUNK, m_archiveLength)));
    return 0;
}

int PackageSource::Attach(struct archive* reader) {
    archive_read_set_callback_data(reader, this);
    archive_read_set_read_callback(reader, &PackageSource::Read);
    archive_read_set_skip_callback(reader, &PackageSource::Skip);
    return archive_read_open1(reader);
}

la_ssize_t PackageSource::Read(struct archive* reader, void* self, const void** buffer) {
    auto* source = static_cast<PackageSource*>(self);
    ULONGLONG left = source->m_archiveLength - source->m_position;
    auto want = static_cast<DWORD>(std::min<ULONGLONG>(left, source->m_buffer.size()));
    *buffer = source->m_buffer.data();
    if (want == 0)
        return 0;
    DWORD done = 0;
    if (!source->ReadAt(source->m_archiveStart + source->m_position, source->m_buffer.data(), want,
                        done)) {
        archive_set_error(reader, EIO, "package read failed (error %u)",
                          static_cast<unsigned>(GetLastError()));
        return -1;
    }
    source->m_position += done;
    return done;
}

la_int64_t PackageSource::Skip(struct archive*, void* self, la_int64_t request) {
    auto* source = static_cast<PackageSource*>(self);
    if (request <= 0)
        return 0;
    ULONGLONG left = source->m_archiveLength - source->m_position;
    auto step = std::min<ULONGLONG>(left, static_cast<ULONGLONG>(request));
    source->m_position += step;
    return static_cast<la_int64_t>(step);
}

int PackageSource::PercentRead() const {
    if (m_archiveLength == 0)
        return 100;
    return static_cast<int>(m_position * 100 / m_archiveLength);
}

}  // namespace quarrin::zcompress
