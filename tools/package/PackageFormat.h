// The application package: a fixed header, then a tar archive compressed with zstd.
//
//   offset 0   marker, 10 UTF-16LE characters ("ZEL-OKUN-1" or "ZEL-OKUN-2")
//   offset 20  version text, UTF-16LE, NUL-padded: 22 characters after "ZEL-OKUN-1",
//              120 characters after "ZEL-OKUN-2"
//   offset 64 (after "ZEL-OKUN-1") or 260 (after "ZEL-OKUN-2"): the archive, to the end
//
// Entry paths in the archive are relative to the folder the package is unpacked into; which
// entries a package may hold is decided by tools/package/EntryRule.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarrin::package {

inline constexpr std::size_t PACKAGE_MARKER_CHARS = 10;
inline constexpr std::size_t PACKAGE_VERSION_OFFSET = 20;
inline constexpr std::u16string_view PACKAGE_MARKER_1 = u"ZEL-OKUN-1";
inline constexpr std::u16string_view PACKAGE_MARKER_2 = u"ZEL-OKUN-2";

struct PackageLayout {
    std::size_t versionChars;   // length of the version field in characters
    std::size_t archiveOffset;  // where the compressed archive begins
};

inline constexpr PackageLayout PACKAGE_LAYOUT_1{22, 64};
inline constexpr PackageLayout PACKAGE_LAYOUT_2{120, 260};

// The layout that a marker selects; false for a marker this format does not know.
inline bool LayoutForMarker(std::u16string_view marker, PackageLayout& layout) {
    if (marker == PACKAGE_MARKER_1) {
        layout = PACKAGE_LAYOUT_1;
        return true;
    }
    if (marker == PACKAGE_MARKER_2) {
        layout = PACKAGE_LAYOUT_2;
        return true;
    }
    return false;
}

// Reads a NUL-padded UTF-16LE field.
inline std::u16string DecodeUtf16Field(const unsigned char* bytes, std::size_t chars) {
    std::u16string text;
    for (std::size_t i = 0; i < chars; ++i) {
        char16_t c = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
        if (c == 0)
            break;
        text.push_back(c);
    }
    return text;
}

// Results of zUncompress below zero.
inline constexpr int UNPACK_BAD_ARGUMENTS = -1;
inline constexpr int UNPACK_CANNOT_OPEN = -2;
inline constexpr int UNPACK_BAD_HEADER = -3;
inline constexpr int UNPACK_CORRUPT_ARCHIVE = -4;
inline constexpr int UNPACK_UNSAFE_ENTRY = -5;
inline constexpr int UNPACK_WRITE_FAILED = -6;
// The archive did not put the main application, ZEL\Velmoran.exe, in place.
inline constexpr int UNPACK_NO_PROGRAM = -7;

}  // namespace quarrin::package
