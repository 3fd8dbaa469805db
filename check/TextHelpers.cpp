#include "check/TextHelpers.h"

#include "platform/common/TextCodec.h"

#include <cstdio>
#include <cstring>
#include <cwctype>

std::wstring FromUtf8(const char* text) {
    int length = static_cast<int>(std::strlen(text));
    if (length == 0)
        return L"";
    int needed = MultiByteToWideChar(CP_UTF8, 0, text, length, nullptr, 0);
    if (needed <= 0)
        return L"";
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, length, wide.data(), needed);
    return wide;
}

std::wstring FoldName(const std::wstring& name) {
    std::wstring folded(name);
    for (wchar_t& c : folded)
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return folded;
}

std::wstring Thousands(ULONGLONG value) {
    std::wstring digits = std::to_wstring(value);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), L",");
    return digits;
}

std::wstring Bytes(ULONGLONG bytes) {
    wchar_t text[64];
    if (bytes >= 1073741824) {
        std::swprintf(text, 64, L"%.1f GiB", static_cast<double>(bytes) / 1073741824.0);
    } else if (bytes >= 1048576) {
        std::swprintf(text, 64, L"%.1f MiB", static_cast<double>(bytes) / 1048576.0);
    } else if (bytes >= 1024) {
        std::swprintf(text, 64, L"%.0f KiB", static_cast<double>(bytes) / 1024.0);
    } else {
        return std::to_wstring(bytes) + (bytes == 1 ? L" byte" : L" bytes");
    }
    return text;
}

std::wstring RequestWord(DWORD word) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%02X", static_cast<unsigned>(word));
    return text;
}

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<char32_t>(text[i]);
        // Wide text may hold UTF-16 pairs (where wchar_t has 16 bits) or single code points.
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            auto low = static_cast<char32_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
            c = 0xFFFD;
        quarrin::platform::AppendUtf8(out, c);
    }
    return out;
}

std::wstring Count(ULONGLONG count, const std::wstring& noun) {
    return Thousands(count) + L" " + noun + (count == 1 ? L"" : L"s");
}
