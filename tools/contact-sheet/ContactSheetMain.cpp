// contact-sheet: one PNG with the distinct screens of one or more runs of the loader.
#include <clocale>
#include <cstdio>

#include "ContactSheet.h"
#include "SheetCommandLine.h"
#include "platform/host/PngFile.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C.UTF-8");
    auto parsed = contact_sheet::ParseSheetCommandLine({argv + 1, argv + argc});
    if (!parsed.command) {
        std::fprintf(stderr, "contact-sheet: %s\n%s", parsed.error.c_str(),
                     contact_sheet::SheetUsageText().c_str());
        return 2;
    }
    if (parsed.command->help) {
        std::fputs(contact_sheet::SheetUsageText().c_str(), stdout);
        return 0;
    }
    const contact_sheet::SheetCommandLine& command = *parsed.command;
    contact_sheet::SheetResult result =
        contact_sheet::BuildContactSheet(command.runs, command.options);
    for (const std::string& warning : result.warnings)
        std::fprintf(stderr, "contact-sheet: %s\n", warning.c_str());
    if (!result.error.empty()) {
        std::fprintf(stderr, "contact-sheet: %s\n", result.error.c_str());
        return 1;
    }
    const contact_sheet::Picture& sheet = result.sheet;
    if (!quarrin::platform::WritePngFile(command.outFile, sheet.width, sheet.height,
                                         sheet.pixels)) {
        std::fprintf(stderr, "contact-sheet: cannot write '%s'\n", command.outFile.c_str());
        return 1;
    }
    return 0;
}
