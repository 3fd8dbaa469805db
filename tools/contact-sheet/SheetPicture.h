// The pictures a contact sheet is made of: screenshots scaled down, filled boxes and text
// drawn with the loader's own font engine (so Chinese captions render as on the screen).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarrin::gdi {
class FontInstance;
}

namespace contact_sheet {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;  // 0x00RRGGBB, row by row

    Picture() = default;
    Picture(int width, int height, std::uint32_t fill = 0);
    std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// Each pixel of the result is the average of the source pixels it covers, so thin text
// stays visible as a lighter trace instead of vanishing between samples.
Picture ScaleDown(const Picture& source, double scale);

void FillBox(Picture& picture, int left, int top, int width, int height, std::uint32_t pixel);
void Paste(Picture& target, const Picture& source, int x, int y);

class TextPainter {
public:
    // `pixelHeight` is the character height; `weight` as in a LOGFONT (400, 700).
    TextPainter(int pixelHeight, int weight);
    bool Ready() const { return m_font != nullptr; }
    int LineHeight() const;
    int Width(const std::wstring& text) const;
    // Shortens the text in the middle with an ellipsis until it fits; the ends of a caption
    // (what the screen is, and its count) are what tell screens apart.
    std::wstring Fit(const std::wstring& text, int maxWidth) const;
    // Draws one line with its top at y.
    void Draw(Picture& picture, int x, int y, const std::wstring& text, std::uint32_t pixel) const;

private:
    std::shared_ptr<quarrin::gdi::FontInstance> m_font;
};

}  // namespace contact_sheet
