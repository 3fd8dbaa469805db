// Breaking text into lines the way DrawTextW does: CR, LF and CR LF end a line; with word
// breaking, a line that would be wider than the rectangle breaks after spaces or between
// Chinese characters, and a word wider than the whole line breaks between characters.
// Spaces at the end of a broken line do not count toward its width.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

namespace quarrin::gdi {

struct TextLine {
    std::size_t begin = 0;  // characters [begin, end) of the text
    std::size_t end = 0;
    int width = 0;
};

using AdvanceFunction = std::function<int(wchar_t)>;

std::vector<TextLine> BreakTextLines(std::wstring_view text, int maxWidth, bool wordBreak,
                                     bool singleLine, const AdvanceFunction& advance);

}  // namespace quarrin::gdi
