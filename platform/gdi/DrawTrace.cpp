#include "platform/gdi/DrawTrace.h"

#include "platform/common/TextCodec.h"

namespace quarrin::gdi {

namespace {

std::string Coordinates(long left, long top, long right, long bottom) {
    return std::to_string(left) + "," + std::to_string(top) + "," + std::to_string(right) + "," +
           std::to_string(bottom);
}

}  // namespace

std::string EscapeTraceText(std::wstring_view text) {
    std::wstring escaped;
    escaped.reserve(text.size());
    for (wchar_t c : text) {
        if (c == L'\\') {
            escaped += L"\\\\";
        } else if (c == L'\r') {
            escaped += L"\\r";
        } else if (c == L'\n') {
            escaped += L"\\n";
        } else {
            escaped += c;
        }
    }
    return platform::WideToUtf8(escaped);
}

std::string TraceTextLine(const RECT& rect, std::wstring_view text) {
    return "TEXT " + Coordinates(rect.left, rect.top, rect.right, rect.bottom) + " " +
           EscapeTraceText(text);
}

std::string TraceRoundRectLine(int left, int top, int right, int bottom) {
    return "ROUNDRECT " + Coordinates(left, top, right, bottom);
}

void AddTraceLine(Surface& surface, std::string line) {
    if (surface.drawLines != nullptr)
        surface.drawLines->push_back(std::move(line));
}

}  // namespace quarrin::gdi
