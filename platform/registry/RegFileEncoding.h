// The byte forms a ".reg" file comes in: registry editors export UTF-16LE with a byte-order
// mark and CR LF line ends; hand-written files are UTF-8, with or without a mark, often with
// LF. The text is parsed as UTF-8 whatever its form, and written back in the form it was read
// in, so that the file stays importable where it came from.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quarrin::platform {

enum class RegTextEncoding { Utf8, Utf8WithMark, Utf16LeWithMark };

struct RegFileLayout {
    RegTextEncoding encoding = RegTextEncoding::Utf8;
    bool crlf = false;  // lines end in CR LF

    bool operator==(const RegFileLayout&) const = default;
};

struct RegFileText {
    std::optional<std::string> utf8;  // the text without its mark; empty when undecodable
    RegFileLayout layout;
    int errorLine = 0;  // 1-based line of the first undecodable character
    std::string error;
};

// Recognises the form by its byte-order mark (none: UTF-8) and decodes the text. A UTF-16
// file must have whole code units and pair its surrogates; a UTF-16BE file is refused.
RegFileText DecodeRegFile(std::string_view bytes);

// The bytes of `utf8Text` (lines ending in LF) in `layout`: the mark, the encoding and the
// line ends.
std::string EncodeRegFile(std::string_view utf8Text, const RegFileLayout& layout);

}  // namespace quarrin::platform
