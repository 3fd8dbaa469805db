// Reading a screen trace (the lines of `quarrin --screen-trace`) and choosing which of its
// presents a contact sheet shows, with a caption for each.
//
// Which presents are shown:
// - consecutive presents with the same drawing lines are one screen: the first is shown;
// - a stretch of consecutive screens that differ only in their numbers (a countdown, a
//   percentage and the progress bar that follows it) is shown by its first and last screen.
#pragma once

#include <istream>
#include <string>
#include <vector>

namespace contact_sheet {

struct TracedPresent {
    int number = 0;                  // n of "PRESENT n": the screenshot 0000n.png
    std::vector<std::string> lines;  // the TEXT and ROUNDRECT lines drawn before it
};

// Lines after the last PRESENT belong to no present and are left out.
std::vector<TracedPresent> ReadScreenTrace(std::istream& in);

// The presents to show, in order.
std::vector<TracedPresent> PickDistinctScreens(const std::vector<TracedPresent>& presents);

// The text of the screen that tells it best, as UTF-8 on one line: the last text drawn, or
// when that is only a number (a percentage), the text before it followed by the number.
std::string CaptionOf(const TracedPresent& present);

// The text of a TEXT line with the trace's escapes undone; empty for other lines.
std::string TextOfLine(const std::string& line);

}  // namespace contact_sheet
