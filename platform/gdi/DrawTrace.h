// The screen trace: one readable line per drawing call into a picture that reaches the
// screen, so that tests and people can follow what the unit showed without looking at pixels.
//   TEXT l,t,r,b <text>     a DrawTextW; backslash, CR and LF written as \\, \r, \n
//   ROUNDRECT l,t,r,b       a RoundRect
//   PRESENT n               the n-th copy of a picture to the screen
#pragma once

#include <string>
#include <string_view>

#include "platform/gdi/GdiObjects.h"

namespace quarrin::gdi {

std::string EscapeTraceText(std::wstring_view text);
std::string TraceTextLine(const RECT& rect, std::wstring_view text);
std::string TraceRoundRectLine(int left, int top, int right, int bottom);

// Adds a line to the picture's pending trace, if the surface keeps one.
void AddTraceLine(Surface& surface, std::string line);

}  // namespace quarrin::gdi
