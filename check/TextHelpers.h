// Small text helpers of the check's reports.
#pragma once

#include <string>

#include "platform/Win32.h"

// UTF-8 text as wide text (invalid sequences become U+FFFD).
std::wstring FromUtf8(const char* text);
// A name folded for comparison without regard to case, as the device's FAT volumes compare.
std::wstring FoldName(const std::wstring& name);
// "1,234,567"
std::wstring Thousands(ULONGLONG value);
// "1 file", "12 files"
std::wstring Count(ULONGLONG count, const std::wstring& noun);
// "12.3 MiB", "980 KiB", "312 bytes"
std::wstring Bytes(ULONGLONG bytes);
// "0x0E"
std::wstring RequestWord(DWORD word);
// Wide text as UTF-8 (a lone surrogate becomes U+FFFD).
std::string ToUtf8(const std::wstring& text);
