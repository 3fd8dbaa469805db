#include "platform/registry/RegFileEncoding.h"

#include <cstdint>

#include "platform/common/TextCodec.h"

namespace quarrin::platform {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

void AppendUtf16Le(std::string& out, char32_t c) {
    auto unit = [&out](char32_t u) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    };
    if (c >= 0x10000) {
        c -= 0x10000;
        unit(0xD800 + (c >> 10));
        unit(0xDC00 + (c & 0x3FF));
    } else {
        unit(c);
    }
}

// The next code point of UTF-8 text at `i`; a malformed sequence gives U+FFFD for its first
// byte. (The text written by this program is well-formed; this only keeps odd text whole.)
char32_t NextUtf8(std::string_view text, std::size_t& i) {
    auto byte = static_cast<unsigned char>(text[i++]);
    int extra = byte < 0x80         ? 0
                : (byte >> 5) == 6  ? 1
                : (byte >> 4) == 14 ? 2
                : (byte >> 3) == 30 ? 3
                                    : -1;
    if (extra <= 0)
        return extra == 0 ? byte : 0xFFFD;
    char32_t value = byte & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
            return 0xFFFD;
        value = value << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    static const char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (value < kMinimum[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0xFFFD;
    i += static_cast<std::size_t>(extra);
    return value;
}

RegFileText DecodeUtf16Le(std::string_view bytes) {
    RegFileText result;
    result.layout.encoding = RegTextEncoding::Utf16LeWithMark;
    std::string text;
    int line = 1;
    auto unitAt = [&bytes](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(bytes[i]) |
                                     static_cast<unsigned char>(bytes[i + 1]) << 8);
    };
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        if (i + 1 >= bytes.size()) {
            result.errorLine = line;
            result.error = "UTF-16 text ends in half a character";
            return result;
        }
        char32_t c = unitAt(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size() && unitAt(i + 2) >= 0xDC00 &&
            unitAt(i + 2) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unitAt(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c < 0xE000) {
            result.errorLine = line;
            result.error = "unpaired UTF-16 surrogate";
            return result;
        }
        line += c == U'\n' ? 1 : 0;
        AppendUtf8(text, c);
    }
    result.utf8 = std::move(text);
    return result;
}

bool EndsLinesWithCrLf(std::string_view text) {
    std::size_t newline = text.find('\n');
    return newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r';
}

}  // namespace

RegFileText DecodeRegFile(std::string_view bytes) {
    RegFileText result;
    if (bytes.starts_with(kUtf16LeMark)) {
        result = DecodeUtf16Le(bytes.substr(kUtf16LeMark.size()));
    } else if (bytes.starts_with(kUtf16BeMark)) {
        result.errorLine = 1;
        result.error = "UTF-16 big-endian text (save the file as UTF-16LE or UTF-8)";
    } else if (bytes.starts_with(kUtf8Mark)) {
        result.layout.encoding = RegTextEncoding::Utf8WithMark;
        result.utf8 = std::string(bytes.substr(kUtf8Mark.size()));
    } else {
        result.utf8 = std::string(bytes);
    }
    if (result.utf8)
        result.layout.crlf = EndsLinesWithCrLf(*result.utf8);
    return result;
}

std::string EncodeRegFile(std::string_view utf8Text, const RegFileLayout& layout) {
    std::string lines;
    for (char c : utf8Text) {
        if (c == '\n' && layout.crlf)
            lines.push_back('\r');
        lines.push_back(c);
    }
    switch (layout.encoding) {
        case RegTextEncoding::Utf8:
            return lines;
        case RegTextEncoding::Utf8WithMark:
            return std::string(kUtf8Mark) + lines;
        case RegTextEncoding::Utf16LeWithMark:
            break;
    }
    std::string out(kUtf16LeMark);
    for (std::size_t i = 0; i < lines.size();)
        AppendUtf16Le(out, NextUtf8(lines, i));
    return out;
}

}  // namespace quarrin::platform
