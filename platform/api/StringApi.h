// Text formatting, code-page conversion and the kernel debug print.
#pragma once

#include <cstddef>

#include "platform/Win32Types.h"

namespace quarrin::platform {
// Formats like the device's wsprintfW (%s is a wide string, %S and %hs narrow ones) into
// at most capacity - 1 characters plus a terminator. Returns the characters stored.
int FormatWideBounded(wchar_t* buffer, std::size_t capacity, const wchar_t* format, ...);
}  // namespace quarrin::platform

// Unbounded form, as on the device: the output is cut at 1024 characters.
int wsprintfW(LPWSTR buffer, LPCWSTR format, ...);

// Bounded form chosen for character arrays: the output never exceeds the array.
template <std::size_t N, class... Args>
int wsprintfW(wchar_t (&buffer)[N], LPCWSTR format, Args... args) {
    return quarrin::platform::FormatWideBounded(buffer, N, format, args...);
}

// Converts 8-bit text of the code page (CP_ACP is the system code page, CP936) to wide text.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount,
                        LPWSTR wideChar, int wideCharCount);

// Writes one formatted line to the kernel debug output.
void NKDbgPrintfW(LPCWSTR format, ...);
