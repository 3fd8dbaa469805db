#include "ScreenTrace.h"

#include <cctype>
#include <cstdlib>

namespace contact_sheet {

namespace {

constexpr const char* TRACE_TEXT_PREFIX = "TEXT ";
constexpr const char* TRACE_PRESENT_PREFIX = "PRESENT ";

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The line with every run of digits replaced by '#': screens that differ only in a count,
// a percentage or the width of the bar that shows it have the same shape.
std::string ShapeOfLine(const std::string& line) {
    std::string shape;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(line[i]))) {
            if (shape.empty() || shape.back() != '#')
                shape += '#';
        } else {
            shape += line[i];
        }
    }
    return shape;
}

std::vector<std::string> ShapeOf(const TracedPresent& present) {
    std::vector<std::string> shape;
    for (const std::string& line : present.lines)
        shape.push_back(ShapeOfLine(line));
    return shape;
}

// Line breaks become single spaces; leading and trailing spaces go.
std::string OnOneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        bool space = c == '\r' || c == '\n' || c == ' ';
        if (space) {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

bool IsOnlyANumber(const std::string& text) {
    bool digit = false;
    for (char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            digit = true;
        } else if (c != '%' && c != ' ' && c != '.' && c != '(' && c != ')') {
            return false;
        }
    }
    return digit;
}

}  // namespace

std::vector<TracedPresent> ReadScreenTrace(std::istream& in) {
    std::vector<TracedPresent> presents;
    std::vector<std::string> pending;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (StartsWith(line, TRACE_PRESENT_PREFIX)) {
            TracedPresent present;
            present.number = std::atoi(line.c_str() + std::string(TRACE_PRESENT_PREFIX).size());
            present.lines.swap(pending);
            presents.push_back(std::move(present));
        } else if (!line.empty()) {
            pending.push_back(line);
        }
    }
    return presents;
}

std::vector<TracedPresent> PickDistinctScreens(const std::vector<TracedPresent>& presents) {
    // First the repeats of one screen fold into its first present...
    std::vector<TracedPresent> screens;
    for (const TracedPresent& present : presents) {
        if (screens.empty() || screens.back().lines != present.lines)
            screens.push_back(present);
    }
    // ...then each stretch of the same shape keeps its first and last screen.
    std::vector<TracedPresent> picked;
    for (std::size_t begin = 0; begin < screens.size();) {
        std::vector<std::string> shape = ShapeOf(screens[begin]);
        std::size_t end = begin + 1;
        while (end < screens.size() && ShapeOf(screens[end]) == shape)
            ++end;
        picked.push_back(screens[begin]);
        if (end - begin > 1)
            picked.push_back(screens[end - 1]);
        begin = end;
    }
    return picked;
}

std::string TextOfLine(const std::string& line) {
    if (!StartsWith(line, TRACE_TEXT_PREFIX))
        return "";
    std::size_t space = line.find(' ', std::string(TRACE_TEXT_PREFIX).size());
    if (space == std::string::npos)
        return "";
    std::string text;
    for (std::size_t i = space + 1; i < line.size(); ++i) {
        if (line[i] != '\\' || i + 1 == line.size()) {
            text += line[i];
            continue;
        }
        char escaped = line[++i];
        text += escaped == 'r' ? '\r' : escaped == 'n' ? '\n' : escaped;
    }
    return text;
}

std::string CaptionOf(const TracedPresent& present) {
    std::vector<std::string> texts;
    for (const std::string& line : present.lines) {
        std::string text = OnOneLine(TextOfLine(line));
        if (!text.empty())
            texts.push_back(text);
    }
    if (texts.empty())
        return "";
    std::string caption = texts.back();
    if (IsOnlyANumber(caption) && texts.size() > 1)
        caption = texts[texts.size() - 2] + " " + caption;
    return caption;
}

}  // namespace contact_sheet
