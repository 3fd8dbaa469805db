#include "platform/gdi/Raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quarrin::gdi {

namespace {

std::uint32_t* Row(Surface& surface, int y) {
    return surface.pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(surface.width);
}

// The first and last pixel (inclusive) that row y of the rounded rectangle covers. A pixel
// belongs to the shape when its centre lies inside the corner ellipse.
void RowSpan(const Box& shape, double rx, double ry, int y, int& first, int& last) {
    first = shape.left;
    last = shape.right - 1;
    double centreY = y + 0.5;
    double dy = 0;
    if (centreY < shape.top + ry) {
        dy = shape.top + ry - centreY;
    } else if (centreY > shape.bottom - ry) {
        dy = centreY - (shape.bottom - ry);
    } else {
        return;
    }
    double ratio = std::min(dy / ry, 1.0);
    double dx = rx * std::sqrt(1.0 - ratio * ratio);
    first = static_cast<int>(std::ceil(shape.left + rx - dx - 0.5));
    last = static_cast<int>(std::floor(shape.right - rx + dx - 0.5));
}

}  // namespace

Box SurfaceBox(const Surface& surface) {
    return {0, 0, surface.width, surface.height};
}

Box Intersect(const Box& a, const Box& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

void FillBox(Surface& surface, const Box& box, std::uint32_t pixel) {
    Box clipped = Intersect(box, SurfaceBox(surface));
    if (clipped.Empty())
        return;
    for (int y = clipped.top; y < clipped.bottom; ++y) {
        std::fill(Row(surface, y) + clipped.left, Row(surface, y) + clipped.right, pixel);
    }
}

void FillRoundBox(Surface& surface, const Box& shape, int cornerWidth, int cornerHeight,
                  std::uint32_t pixel) {
    if (shape.Empty())
        return;
    int width = shape.right - shape.left;
    int height = shape.bottom - shape.top;
    if (cornerWidth <= 0 || cornerHeight <= 0) {
        FillBox(surface, shape, pixel);
        return;
    }
    double rx = std::min(cornerWidth, width) / 2.0;
    double ry = std::min(cornerHeight, height) / 2.0;
    Box clipped = Intersect(shape, SurfaceBox(surface));
    for (int y = clipped.top; y < clipped.bottom; ++y) {
        int first = 0;
        int last = 0;
        RowSpan(shape, rx, ry, y, first, last);
        first = std::max(first, clipped.left);
        last = std::min(last, clipped.right - 1);
        if (first <= last)
            std::fill(Row(surface, y) + first, Row(surface, y) + last + 1, pixel);
    }
}

void BlendCoverage(Surface& surface, const Box& clip, int x, int y, std::uint8_t coverage,
                   std::uint32_t pixel) {
    if (coverage == 0 || x < clip.left || x >= clip.right || y < clip.top || y >= clip.bottom) {
        return;
    }
    std::uint32_t& target = Row(surface, y)[x];
    if (coverage == 255) {
        target = pixel;
        return;
    }
    std::uint32_t mixed = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        std::uint32_t front = (pixel >> shift) & 0xFF;
        std::uint32_t back = (target >> shift) & 0xFF;
        std::uint32_t channel = (front * coverage + back * (255u - coverage) + 127u) / 255u;
        mixed |= channel << shift;
    }
    target = mixed;
}

void CopyBlock(Surface& dest, int x, int y, int width, int height, const Surface& source,
               int sourceX, int sourceY) {
    // Clip in source coordinates first, then in destination coordinates.
    Box from = Intersect({sourceX, sourceY, sourceX + width, sourceY + height}, SurfaceBox(source));
    Box to = Intersect({from.left - sourceX + x, from.top - sourceY + y, from.right - sourceX + x,
                        from.bottom - sourceY + y},
                       SurfaceBox(dest));
    if (to.Empty())
        return;
    int dx = sourceX - x;
    int dy = sourceY - y;
    std::size_t bytes = static_cast<std::size_t>(to.right - to.left) * sizeof(std::uint32_t);
    for (int row = to.top; row < to.bottom; ++row) {
        const std::uint32_t* fromRow = source.pixels + static_cast<std::size_t>(row + dy) *
                                                           static_cast<std::size_t>(source.width);
        std::memmove(Row(dest, row) + to.left, fromRow + to.left + dx, bytes);
    }
}

}  // namespace quarrin::gdi
