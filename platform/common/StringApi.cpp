// wsprintfW with the device's meaning of %s, code-page conversion and the debug print.
#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/api/StringApi.h"
#include "platform/common/TextCodec.h"
#include "platform/kernel/Kernel.h"

namespace quarrin::platform {
namespace {

constexpr std::size_t kWsprintfLimit = 1025;  // 1024 characters and the terminator

// Rewrites a device format for glibc's vswprintf: %s and %c take wide arguments on the
// device, narrow ones in glibc; %S and %hs are narrow on the device.
std::wstring RewriteFormat(const wchar_t* format) {
    std::wstring out;
    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        out.push_back(*p);
        if (*p != L'%')
            continue;
        ++p;
        if (*p == L'%') {
            out.push_back(L'%');
            continue;
        }
        while (*p != L'\0' && std::wcschr(L"-+ #0", *p) != nullptr)
            out.push_back(*p++);
        while (*p == L'*' || (*p >= L'0' && *p <= L'9') || *p == L'.')
            out.push_back(*p++);
        bool narrow = false;
        bool wide = false;
        while (*p == L'h' || *p == L'l' || *p == L'L' || *p == L'z') {
            if (*p == L'h')
                narrow = true;
            if (*p == L'l')
                wide = true;
            out.push_back(*p++);
        }
        if (*p == L'\0')
            break;
        wchar_t conversion = *p;
        if (conversion == L's' || conversion == L'c') {
            if (narrow) {
                out.pop_back();  // drop the 'h'
                out.push_back(conversion);
            } else if (wide) {
                out.push_back(conversion);
            } else {
                out.push_back(L'l');
                out.push_back(conversion);
            }
        } else if (conversion == L'S' || conversion == L'C') {
            out.push_back(conversion == L'S' ? L's' : L'c');
        } else {
            out.push_back(conversion);
        }
    }
    return out;
}

int FormatInto(wchar_t* buffer, std::size_t capacity, const wchar_t* format, va_list args) {
    if (buffer == nullptr || capacity == 0)
        return 0;
    if (format == nullptr) {
        buffer[0] = L'\0';
        return 0;
    }
    std::wstring rewritten = RewriteFormat(format);
    std::vector<wchar_t> scratch(256);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        int length = std::vswprintf(scratch.data(), scratch.size(), rewritten.c_str(), copy);
        va_end(copy);
        if (length >= 0) {
            std::size_t stored = std::min(static_cast<std::size_t>(length), capacity - 1);
            std::wmemcpy(buffer, scratch.data(), stored);
            buffer[stored] = L'\0';
            return static_cast<int>(stored);
        }
        if (scratch.size() >= (1u << 20)) {  // a format error, not a short buffer
            buffer[0] = L'\0';
            return 0;
        }
        scratch.resize(scratch.size() * 4);
    }
}

}  // namespace

int FormatWideBounded(wchar_t* buffer, std::size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int result = FormatInto(buffer, capacity, format, args);
    va_end(args);
    return result;
}

}  // namespace quarrin::platform

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    int result =
        quarrin::platform::FormatInto(buffer, quarrin::platform::kWsprintfLimit, format, args);
    va_end(args);
    return result;
}

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR multiByte, int multiByteCount, LPWSTR wideChar,
                        int wideCharCount) {
    using quarrin::kernel::SetLastErrorValue;
    if (multiByte == nullptr || multiByteCount == 0 || wideCharCount < 0) {
        SetLastErrorValue(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t count =
        multiByteCount < 0 ? std::strlen(multiByte) + 1 : static_cast<std::size_t>(multiByteCount);
    unsigned page = codePage == CP_ACP ? 936u : codePage;
    std::wstring wide;
    if (!quarrin::platform::CodePageToWide(page, multiByte, count, wide)) {
        SetLastErrorValue(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (wideCharCount == 0)
        return static_cast<int>(wide.size());
    if (wide.size() > static_cast<std::size_t>(wideCharCount)) {
        SetLastErrorValue(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wmemcpy(wideChar, wide.data(), wide.size());
    return static_cast<int>(wide.size());
}

void NKDbgPrintfW(LPCWSTR format, ...) {
    wchar_t line[4096];
    va_list args;
    va_start(args, format);
    quarrin::platform::FormatInto(line, sizeof line / sizeof line[0], format, args);
    va_end(args);
    if (auto* debug = quarrin::platform::CurrentServices().debug)
        debug->Write(line);
}
