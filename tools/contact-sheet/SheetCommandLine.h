// The command line of contact-sheet.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ContactSheet.h"

namespace contact_sheet {

struct SheetCommandLine {
    std::vector<SheetRun> runs;
    SheetOptions options;
    std::string outFile;
    bool help = false;
};

struct SheetCommandLineResult {
    std::optional<SheetCommandLine> command;
    std::string error;  // set when command is empty
};

SheetCommandLineResult ParseSheetCommandLine(const std::vector<std::string>& arguments);
std::string SheetUsageText();

}  // namespace contact_sheet
