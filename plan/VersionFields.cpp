#include "plan/VersionFields.h"

#include <cstring>

std::wstring Utf16FieldText(const BYTE* bytes, std::size_t count) {
    std::wstring text;
    for (std::size_t i = 0; i + 1 < count; i += 2) {
        wchar_t unit = static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == L'\0')
            break;
        text.push_back(unit);
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
