// Filled rectangles, rounded rectangles and the copy of a picture (to the screen).
#include <algorithm>

#include "platform/Platform.h"
#include "platform/gdi/DrawTrace.h"
#include "platform/gdi/GdiObjects.h"
#include "platform/gdi/Raster.h"

using namespace quarrin;
using namespace quarrin::gdi;

namespace {

std::shared_ptr<DeviceContext> SurfaceOf(HDC dc, Surface& surface) {
    auto context = LookupDeviceContext(dc);
    if (!context || !context->GetSurface(surface)) {
        kernel::SetLastErrorValue(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return context;
}

// GDI accepts the corners in either order.
Box NormalizedBox(int left, int top, int right, int bottom) {
    return {std::min(left, right), std::min(top, bottom), std::max(left, right),
            std::max(top, bottom)};
}

}  // namespace

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    Surface surface;
    auto context = SurfaceOf(dc, surface);
    auto fill = std::dynamic_pointer_cast<Brush>(LookupGdiObject(brush));
    if (!context || rect == nullptr || !fill) {
        if (context)
            kernel::SetLastErrorValue(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Box box{rect->left, rect->top, rect->right, rect->bottom};
    FillBox(surface, box, PixelFromColor(fill->color));
    // Painting over the whole picture erases what was drawn before: its trace goes too.
    Box whole = SurfaceBox(surface);
    if (surface.drawLines != nullptr && box.left <= 0 && box.top <= 0 && box.right >= whole.right &&
        box.bottom >= whole.bottom) {
        surface.drawLines->clear();
    }
    return 1;
}

BOOL RoundRect(HDC dc, int left, int top, int right, int bottom, int width, int height) {
    Surface surface;
    auto context = SurfaceOf(dc, surface);
    if (!context)
        return FALSE;
    AddTraceLine(surface, TraceRoundRectLine(left, top, right, bottom));
    Box outer = NormalizedBox(left, top, right, bottom);
    int penWidth = context->pen->width;
    // The pen's outline is the outer shape; the brush fills the shape inside it.
    FillRoundBox(surface, outer, width, height, PixelFromColor(context->pen->color));
    Box inner{outer.left + penWidth, outer.top + penWidth, outer.right - penWidth,
              outer.bottom - penWidth};
    FillRoundBox(surface, inner, width - 2 * penWidth, height - 2 * penWidth,
                 PixelFromColor(context->brush->color));
    return TRUE;
}

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            DWORD rop) {
    Surface to;
    Surface from;
    auto target = SurfaceOf(dest, to);
    auto origin = SurfaceOf(source, from);
    if (!target || !origin)
        return FALSE;
    if (rop != SRCCOPY) {
        kernel::SetLastErrorValue(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    CopyBlock(to, x, y, width, height, from, sourceX, sourceY);
    // The drawings of the source picture now belong to the target.
    if (from.drawLines != nullptr && from.drawLines != to.drawLines) {
        if (to.drawLines != nullptr) {
            to.drawLines->insert(to.drawLines->end(), from.drawLines->begin(),
                                 from.drawLines->end());
        }
        from.drawLines->clear();
    }
    if (target->IsScreen()) {
        platform::CurrentServices().screen->Present(*to.drawLines);
        to.drawLines->clear();
    }
    return TRUE;
}
