// Pixel work on a surface: filled boxes, rounded rectangles, coverage blending and copies.
// Every operation clips to the surface and to the given clip box, so nothing is written
// outside the picture.
#pragma once

#include <cstdint>

#include "platform/gdi/GdiObjects.h"

namespace quarrin::gdi {

// A half-open box [left, right) x [top, bottom).
struct Box {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool Empty() const { return right <= left || bottom <= top; }
};

Box SurfaceBox(const Surface& surface);
Box Intersect(const Box& a, const Box& b);

void FillBox(Surface& surface, const Box& box, std::uint32_t pixel);

// Fills the rounded rectangle [left, right) x [top, bottom) with corner ellipses of
// cornerWidth x cornerHeight, the way GDI's RoundRect covers pixels.
void FillRoundBox(Surface& surface, const Box& shape, int cornerWidth, int cornerHeight,
                  std::uint32_t pixel);

// Mixes `pixel` into the surface at (x, y) with an 8-bit coverage, inside `clip` only.
void BlendCoverage(Surface& surface, const Box& clip, int x, int y, std::uint8_t coverage,
                   std::uint32_t pixel);

// Copies a width x height block from (sourceX, sourceY) of `source` to (x, y) of `dest`,
// clipped to both.
void CopyBlock(Surface& dest, int x, int y, int width, int height, const Surface& source,
               int sourceX, int sourceY);

}  // namespace quarrin::gdi
