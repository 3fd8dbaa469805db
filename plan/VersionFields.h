// The version fields of the update files, decoded from the bytes read out of the files.
// Pure functions, so that any bytes a medium holds can be checked without a file system.
#pragma once

#include <cstddef>
#include <string>

#include "platform/Win32.h"

// Bytes at the start of a package that hold its marker.
inline constexpr std::size_t PACKAGE_MARKER_BYTES = 20;
// Offset of the package's version text.
inline constexpr LONG PACKAGE_VERSION_OFFSET_BYTES = 20;

// Text of a little-endian UTF-16 field of `count` bytes, up to its first NUL; a surrogate
// pair gives one character where wchar_t holds a whole code point.
std::wstring Utf16FieldText(const BYTE* bytes, std::size_t count);

// Length in characters of the package's version text: 120 after the marker "ZEL-OKUN-2",
// 22 after "ZEL-OKUN-1" or any other marker.
std::size_t PackageVersionChars(const BYTE (&marker)[PACKAGE_MARKER_BYTES]);

// The 8-bit version text of a firmware image (`size` bytes, at most 24), converted with the
// system code page and cut at its first NUL.
std::wstring ImageVersionText(const char* field, int size);
