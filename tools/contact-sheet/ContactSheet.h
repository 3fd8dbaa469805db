// One PNG that shows the distinct screens of one or more runs of the loader: each run in its
// own rows under its title, each screen scaled down with a caption from the screen trace.
#pragma once

#include <string>
#include <vector>

#include "SheetPicture.h"

namespace contact_sheet {

struct SheetRun {
    std::string title;      // empty: no title row
    std::string traceFile;  // the run's --screen-trace file
    std::string shotsDir;   // the run's --screenshots folder
};

struct SheetOptions {
    int columns = 6;
    double scale = 0.35;
};

struct SheetResult {
    Picture sheet;
    std::vector<std::string> warnings;  // screenshots that were missing or unreadable
    std::string error;                  // set when no sheet could be made
};

SheetResult BuildContactSheet(const std::vector<SheetRun>& runs, const SheetOptions& options);

}  // namespace contact_sheet
