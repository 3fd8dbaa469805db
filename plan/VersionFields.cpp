#include "plan/VersionFields.h"

#include <cstring>

namespace {

bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit < 0xDC00;
}

bool IsLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit < 0xE000;
}

}  // namespace

std::wstring Utf16FieldText(const BYTE* bytes, std::size_t count) {
    auto unitAt = [bytes](std::size_t i) {
        return static_cast<char32_t>(bytes[i] | (bytes[i + 1] << 8));
    };
    std::wstring text;
    for (std::size_t i = 0; i + 1 < count; i += 2) {
        char32_t unit = unitAt(i);
        if (unit == 0)
            break;
        // Where a wide character holds a whole code point, a surrogate pair becomes one
        // character (two halves would each show as a replacement character).
        if (sizeof(wchar_t) == 4 && IsHighSurrogate(unit) && i + 3 < count &&
            IsLowSurrogate(unitAt(i + 2))) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 2) - 0xDC00);
            i += 2;
        }
        text.push_back(static_cast<wchar_t>(unit));
    }
    return text;
}

std::size_t PackageVersionChars(const BYTE (&marker)[PACKAGE_MARKER_BYTES]) {
    return Utf16FieldText(marker, PACKAGE_MARKER_BYTES) == L"ZEL-OKUN-2" ? 120 : 22;
}

std::wstring ImageVersionText(const char* field, int size) {
    // Zero-filled buffers larger than the field, so that the text always ends in a NUL.
    char bytes[32] = {};
    wchar_t wide[32] = {};
    if (size < 0 || size > 24)
        return L"";
    std::memcpy(bytes, field, static_cast<std::size_t>(size));
    MultiByteToWideChar(CP_ACP, 0, bytes, size, wide, size);
    return wide;
}
