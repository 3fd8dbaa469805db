// Conversions between wide text, UTF-8 (host file names, log output) and UTF-16LE bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarrin::platform {

// Appends the UTF-8 bytes of one code point (a valid one: not a surrogate, at most U+10FFFF).
void AppendUtf8(std::string& out, char32_t cp);
std::string WideToUtf8(std::wstring_view text);
// Invalid sequences become U+FFFD.
std::wstring Utf8ToWide(std::string_view text);

// Converts text of the code page (936 for the system code page) to wide text. Bytes that
// are not valid in the code page become '?'. Returns false if the code page is unknown.
bool CodePageToWide(unsigned codePage, const char* bytes, std::size_t count, std::wstring& out);

}  // namespace quarrin::platform
