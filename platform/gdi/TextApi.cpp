// DrawTextW: lines laid out in the rectangle, each aligned on its own, stacked from the top
// with the font's line height and clipped to the rectangle.
#include <cwchar>
#include <string_view>

#include "platform/gdi/DrawTrace.h"
#include "platform/gdi/FontEngine.h"
#include "platform/gdi/GdiObjects.h"
#include "platform/gdi/Raster.h"
#include "platform/gdi/TextLayout.h"

using namespace quarrin;
using namespace quarrin::gdi;

namespace {

struct TextPen {
    Surface& surface;
    Box clip;
    std::uint32_t pixel;
};

void DrawGlyph(TextPen& pen, const GlyphImage& glyph, int originX, int baseline) {
    int left = originX + glyph.left;
    int top = baseline - glyph.top;
    for (int row = 0; row < glyph.rows; ++row) {
        const std::uint8_t* coverage = glyph.coverage.data() + row * glyph.width;
        for (int column = 0; column < glyph.width; ++column) {
            BlendCoverage(pen.surface, pen.clip, left + column, top + row, coverage[column],
                          pen.pixel);
        }
    }
}

int LineLeft(const RECT& rect, int width, UINT format) {
    if (format & DT_CENTER)
        return rect.left + (rect.right - rect.left - width) / 2;
    if (format & DT_RIGHT)
        return rect.right - width;
    return rect.left;
}

// Where the first line starts; only a single line moves down for DT_VCENTER or DT_BOTTOM.
int FirstLineTop(const RECT& rect, int textHeight, UINT format) {
    if (!(format & DT_SINGLELINE))
        return rect.top;
    if (format & DT_BOTTOM)
        return rect.bottom - textHeight;
    if (format & DT_VCENTER)
        return rect.top + (rect.bottom - rect.top - textHeight) / 2;
    return rect.top;
}

}  // namespace

int DrawTextW(HDC dc, LPCWSTR text, int count, LPRECT rect, UINT format) {
    auto context = LookupDeviceContext(dc);
    Surface surface;
    if (!context || !context->GetSurface(surface) || text == nullptr || rect == nullptr) {
        kernel::SetLastErrorValue(context ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return 0;
    }
    std::wstring_view view(text, count < 0 ? std::wcslen(text) : static_cast<std::size_t>(count));
    AddTraceLine(surface, TraceTextLine(*rect, view));
    if (view.empty())
        return 0;
    auto font = ResolveFont(context->font->logFont);
    if (!font) {
        kernel::SetLastErrorValue(ERROR_NOT_SUPPORTED);
        return 0;
    }
    auto advance = [&font](wchar_t c) { return font->Glyph(c).advance; };
    std::vector<TextLine> lines =
        BreakTextLines(view, rect->right - rect->left, (format & DT_WORDBREAK) != 0,
                       (format & DT_SINGLELINE) != 0, advance);
    int lineHeight = font->LineHeight();
    int textHeight = static_cast<int>(lines.size()) * lineHeight;
    int top = FirstLineTop(*rect, textHeight, format);
    Box clip = SurfaceBox(surface);
    if (!(format & DT_NOCLIP)) {
        clip = Intersect(clip, {rect->left, rect->top, rect->right, rect->bottom});
    }
    TextPen pen{surface, clip, PixelFromColor(context->textColor)};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        int lineTop = top + static_cast<int>(i) * lineHeight;
        int x = LineLeft(*rect, lines[i].width, format);
        if (context->bkMode == OPAQUE) {
            FillBox(surface,
                    Intersect(clip, {x, lineTop, x + lines[i].width, lineTop + lineHeight}),
                    PixelFromColor(context->bkColor));
        }
        for (std::size_t k = lines[i].begin; k < lines[i].end; ++k) {
            const GlyphImage& glyph = font->Glyph(view[k]);
            DrawGlyph(pen, glyph, x, lineTop + font->Ascent());
            x += glyph.advance;
        }
    }
    return top - rect->top + textHeight;
}
