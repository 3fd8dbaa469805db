#include "SheetPicture.h"

#include <algorithm>
#include <cmath>

#include "platform/gdi/FontEngine.h"
#include "platform/gdi/Raster.h"

namespace contact_sheet {

namespace {

quarrin::gdi::Surface SurfaceOf(Picture& picture) {
    return {picture.pixels.data(), picture.width, picture.height, nullptr};
}

LOGFONTW CaptionLogFont(int pixelHeight, int weight) {
    LOGFONTW font{};
    font.lfHeight = -pixelHeight;
    font.lfWeight = weight;
    font.lfQuality = ANTIALIASED_QUALITY;
    font.lfPitchAndFamily = FF_SWISS;
    std::wstring face = L"Arial";
    std::copy(face.begin(), face.end(), font.lfFaceName);
    return font;
}

}  // namespace

Picture::Picture(int w, int h, std::uint32_t fill)
    : width(w),
      height(h),
      pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), fill) {}

Picture ScaleDown(const Picture& source, double scale) {
    int width = std::max(1, static_cast<int>(std::lround(source.width * scale)));
    int height = std::max(1, static_cast<int>(std::lround(source.height * scale)));
    Picture result(width, height);
    for (int y = 0; y < height; ++y) {
        int top = y * source.height / height;
        int bottom = std::max(top + 1, (y + 1) * source.height / height);
        for (int x = 0; x < width; ++x) {
            int left = x * source.width / width;
            int right = std::max(left + 1, (x + 1) * source.width / width);
            std::uint64_t sums[3] = {0, 0, 0};
            for (int sy = top; sy < bottom; ++sy) {
                for (int sx = left; sx < right; ++sx) {
                    std::uint32_t pixel = source.At(sx, sy);
                    sums[0] += (pixel >> 16) & 0xFF;
                    sums[1] += (pixel >> 8) & 0xFF;
                    sums[2] += pixel & 0xFF;
                }
            }
            std::uint64_t count = static_cast<std::uint64_t>(bottom - top) * (right - left);
            auto mean = [&](int i) {
                return static_cast<std::uint32_t>((sums[i] + count / 2) / count);
            };
            result.pixels[static_cast<std::size_t>(y) * width + x] =
                (mean(0) << 16) | (mean(1) << 8) | mean(2);
        }
    }
    return result;
}

void FillBox(Picture& picture, int left, int top, int width, int height, std::uint32_t pixel) {
    quarrin::gdi::Surface surface = SurfaceOf(picture);
    quarrin::gdi::FillBox(surface, {left, top, left + width, top + height}, pixel);
}

void Paste(Picture& target, const Picture& source, int x, int y) {
    quarrin::gdi::Surface to = SurfaceOf(target);
    // CopyBlock only reads the source surface.
    quarrin::gdi::Surface from{const_cast<std::uint32_t*>(source.pixels.data()), source.width,
                               source.height, nullptr};
    quarrin::gdi::CopyBlock(to, x, y, source.width, source.height, from, 0, 0);
}

TextPainter::TextPainter(int pixelHeight, int weight)
    : m_font(quarrin::gdi::ResolveFont(CaptionLogFont(pixelHeight, weight))) {}

int TextPainter::LineHeight() const {
    return m_font->LineHeight();
}

int TextPainter::Width(const std::wstring& text) const {
    int width = 0;
    for (wchar_t c : text)
        width += m_font->Glyph(c).advance;
    return width;
}

std::wstring TextPainter::Fit(const std::wstring& text, int maxWidth) const {
    if (Width(text) <= maxWidth)
        return text;
    std::wstring head = text.substr(0, text.size() / 2);
    std::wstring tail = text.substr(text.size() / 2);
    // Take characters alternately from the end of the head and the start of the tail.
    for (bool fromHead = true; !head.empty() || !tail.empty(); fromHead = !fromHead) {
        if (fromHead && !head.empty()) {
            head.pop_back();
        } else if (!tail.empty()) {
            tail.erase(0, 1);
        } else {
            head.pop_back();
        }
        std::wstring candidate = head + L"…" + tail;
        if (Width(candidate) <= maxWidth)
            return candidate;
    }
    return L"";
}

void TextPainter::Draw(Picture& picture, int x, int y, const std::wstring& text,
                       std::uint32_t pixel) const {
    quarrin::gdi::Surface surface = SurfaceOf(picture);
    quarrin::gdi::Box clip = quarrin::gdi::SurfaceBox(surface);
    int baseline = y + m_font->Ascent();
    for (wchar_t c : text) {
        const quarrin::gdi::GlyphImage& glyph = m_font->Glyph(c);
        for (int row = 0; row < glyph.rows; ++row) {
            for (int column = 0; column < glyph.width; ++column) {
                quarrin::gdi::BlendCoverage(surface, clip, x + glyph.left + column,
                                            baseline - glyph.top + row,
                                            glyph.coverage[row * glyph.width + column], pixel);
            }
        }
        x += glyph.advance;
    }
}

}  // namespace contact_sheet
