#include "tools/zcompress/EntryPath.h"

#include <vector>

namespace quarrin::zcompress {

namespace {

// Strict UTF-8: overlong forms, surrogates and values past U+10FFFF are refused.
std::optional<std::wstring> DecodeUtf8(std::string_view text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        int extra = byte < 0x80         ? 0
                    : (byte >> 5) == 6  ? 1
                    : (byte >> 4) == 14 ? 2
                    : (byte >> 3) == 30 ? 3
                                        : -1;
        if (extra < 0)
            return std::nullopt;
        char32_t value = extra == 0 ? byte : byte & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= text.size())
                return std::nullopt;
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            value = value << 6 | (next & 0x3F);
        }
        static const char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (value < kMinimum[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return std::nullopt;
        }
        out.push_back(static_cast<wchar_t>(value));
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

// CON, PRN, AUX, NUL, COM1..COM9, LPT1..LPT9, with or without an extension: Windows opens
// the device of that name instead of a file in the folder.
bool IsDosDeviceName(const std::wstring& name) {
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ')
        stem.pop_back();
    for (wchar_t& c : stem)
        c = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL")
        return true;
    return stem.size() == 4 && (stem.starts_with(L"COM") || stem.starts_with(L"LPT")) &&
           stem[3] >= L'1' && stem[3] <= L'9';
}

bool IsAcceptableName(const std::wstring& name) {
    if (name == L".." || name.size() > 255)
        return false;
    // FAT and Windows drop trailing dots and spaces, so such a name would land on another one
    // ("..." even on the parent folder).
    if (name.back() == L'.' || name.back() == L' ' || IsDosDeviceName(name))
        return false;
    for (wchar_t c : name) {
        if (c < 0x20 || c == L':' || c == L'<' || c == L'>' || c == L'"' || c == L'|' ||
            c == L'*' || c == L'?') {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<std::wstring> DevicePathForEntry(std::wstring_view destination,
                                               std::string_view entryPath) {
    std::optional<std::wstring> wide = DecodeUtf8(entryPath);
    if (!wide)
        return std::nullopt;
    return DevicePathForEntry(destination, std::wstring_view(*wide));
}

std::optional<std::wstring> DevicePathForEntry(std::wstring_view destination,
                                               std::wstring_view entryPath) {
    if (entryPath.empty() || entryPath.front() == L'/' || entryPath.front() == L'\\') {
        return std::nullopt;
    }
    std::vector<std::wstring> names;
    std::wstring current;
    for (std::size_t i = 0; i <= entryPath.size(); ++i) {
        wchar_t c = i < entryPath.size() ? entryPath[i] : L'/';
        if (c != L'/' && c != L'\\') {
            current.push_back(c);
            continue;
        }
        if (!current.empty() && current != L".") {
            if (!IsAcceptableName(current))
                return std::nullopt;
            names.push_back(current);
        }
        current.clear();
    }
    if (names.empty())
        return std::nullopt;
    std::wstring path(destination);
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    for (const std::wstring& name : names)
        path += L"\\" + name;
    return path;
}

}  // namespace quarrin::zcompress
