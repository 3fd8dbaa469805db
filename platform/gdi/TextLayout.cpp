#include "platform/gdi/TextLayout.h"

namespace quarrin::gdi {

namespace {

bool IsLineEnd(wchar_t c) {
    return c == L'\r' || c == L'\n';
}

// Ideographs, kana, hangul and full-width forms: a line may break before or after them.
bool IsWideScript(wchar_t c) {
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF) ||
           (c >= 0x20000 && c <= 0x3FFFF);
}

// Closing punctuation stays with the character before it.
bool MayNotStartLine(wchar_t c) {
    static constexpr std::wstring_view closing = L"，。！？、；：）」』】》〉…%,.!?;:)]}";
    return closing.find(c) != std::wstring_view::npos;
}

bool IsBreakBefore(std::wstring_view text, std::size_t k) {
    wchar_t before = text[k - 1];
    wchar_t here = text[k];
    if (here == L' ' || MayNotStartLine(here))
        return false;
    return before == L' ' || IsWideScript(before) || IsWideScript(here);
}

class LineBreaker {
public:
    LineBreaker(std::wstring_view text, int maxWidth, const AdvanceFunction& advance)
        : m_text(text), m_maxWidth(maxWidth), m_advance(advance) {}

    void AddLine(std::size_t begin, std::size_t end, std::vector<TextLine>& lines) const {
        while (end > begin && m_text[end - 1] == L' ')
            --end;
        int width = 0;
        for (std::size_t i = begin; i < end; ++i)
            width += m_advance(m_text[i]);
        lines.push_back({begin, end, width});
    }

    // Breaks the paragraph [begin, end) into lines no wider than the maximum.
    void Wrap(std::size_t begin, std::size_t end, std::vector<TextLine>& lines) const {
        std::size_t start = begin;
        while (start < end) {
            std::size_t next = FindLineEnd(start, end);
            AddLine(start, next, lines);
            start = next;
            while (start < end && m_text[start] == L' ')
                ++start;
        }
    }

private:
    std::size_t FindLineEnd(std::size_t start, std::size_t end) const {
        int width = 0;
        std::size_t lastBreak = start;
        for (std::size_t k = start; k < end; ++k) {
            if (k > start && IsBreakBefore(m_text, k))
                lastBreak = k;
            width += m_advance(m_text[k]);
            // Spaces may hang past the edge; anything else starts the next line.
            if (width > m_maxWidth && m_text[k] != L' ' && k > start) {
                return lastBreak > start ? lastBreak : k;
            }
        }
        return end;
    }

    std::wstring_view m_text;
    int m_maxWidth;
    const AdvanceFunction& m_advance;
};

}  // namespace

std::vector<TextLine> BreakTextLines(std::wstring_view text, int maxWidth, bool wordBreak,
                                     bool singleLine, const AdvanceFunction& advance) {
    LineBreaker breaker(text, maxWidth, advance);
    std::vector<TextLine> lines;
    if (singleLine) {
        breaker.AddLine(0, text.size(), lines);
        return lines;
    }
    std::size_t begin = 0;
    do {
        std::size_t end = begin;
        while (end < text.size() && !IsLineEnd(text[end]))
            ++end;
        if (wordBreak && end > begin) {
            breaker.Wrap(begin, end, lines);
        } else {
            breaker.AddLine(begin, end, lines);
        }
        // A line end at the very end of the text does not open another line.
        if (end < text.size() && text[end] == L'\r' && end + 1 < text.size() &&
            text[end + 1] == L'\n') {
            ++end;
        }
        begin = end + 1;
    } while (begin < text.size());
    return lines;
}

}  // namespace quarrin::gdi
