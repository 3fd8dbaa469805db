#include "SheetCommandLine.h"

#include <cmath>
#include <cstdlib>

namespace contact_sheet {

namespace {

constexpr int SHEET_MAX_COLUMNS = 64;

SheetCommandLineResult Refuse(const std::string& error) {
    return {std::nullopt, error};
}

bool ParseColumns(const std::string& text, int& columns) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 1 || value > SHEET_MAX_COLUMNS)
        return false;
    columns = static_cast<int>(value);
    return true;
}

bool ParseScale(const std::string& text, double& scale) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value <= 0 || value > 1)
        return false;
    scale = value;
    return true;
}

// "TRACE:DIR", split at the first colon.
bool ParseRun(const std::string& text, SheetRun& run) {
    std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        return false;
    run.traceFile = text.substr(0, colon);
    run.shotsDir = text.substr(colon + 1);
    return true;
}

// --trace and --shots make one run, the first; titles go to the runs in order.
std::optional<std::string> AssembleRuns(SheetCommandLine& command, const std::string& trace,
                                        const std::string& shots,
                                        const std::vector<std::string>& titles) {
    if (trace.empty() != shots.empty())
        return "--trace and --shots go together";
    if (!trace.empty())
        command.runs.insert(command.runs.begin(), SheetRun{"", trace, shots});
    if (command.runs.empty())
        return "nothing to show: give --trace FILE --shots DIR or --run TRACE:DIR";
    if (titles.size() > command.runs.size())
        return "more --title options than runs";
    for (std::size_t i = 0; i < titles.size(); ++i)
        command.runs[i].title = titles[i];
    if (command.outFile.empty())
        return "--out SHEET.png is needed";
    return std::nullopt;
}

}  // namespace

std::string SheetUsageText() {
    return "usage: contact-sheet --trace FILE --shots DIR --out SHEET.png [--columns N]"
           " [--scale F]\n"
           "       contact-sheet --run TRACE:DIR [--title T] [--run TRACE:DIR [--title T]]..."
           " --out SHEET.png\n"
           "  --trace FILE    a screen trace written by quarrin --screen-trace\n"
           "  --shots DIR     the screenshots of the same run (quarrin --screenshots)\n"
           "  --run TRACE:DIR another run, shown in rows of its own\n"
           "  --title T       the title of the next run, in the order the runs are given\n"
           "  --out FILE      the PNG to write\n"
           "  --columns N     screens per row (default 6)\n"
           "  --scale F       size of each screen, 0 < F <= 1 (default 0.35)\n";
}

SheetCommandLineResult ParseSheetCommandLine(const std::vector<std::string>& arguments) {
    SheetCommandLine command;
    std::string trace;
    std::string shots;
    std::vector<std::string> titles;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        if (name == "--help" || name == "-h") {
            command.help = true;
            return {command, ""};
        }
        if (i + 1 >= arguments.size())
            return Refuse(name.rfind("--", 0) == 0 ? "option " + name + " needs a value"
                                                   : "unknown argument '" + name + "'");
        const std::string& value = arguments[++i];
        SheetRun run;
        if (name == "--trace") {
            trace = value;
        } else if (name == "--shots") {
            shots = value;
        } else if (name == "--out") {
            command.outFile = value;
        } else if (name == "--title") {
            titles.push_back(value);
        } else if (name == "--run") {
            if (!ParseRun(value, run))
                return Refuse("--run needs TRACE:DIR, not '" + value + "'");
            command.runs.push_back(run);
        } else if (name == "--columns") {
            if (!ParseColumns(value, command.options.columns))
                return Refuse("--columns needs a whole number from 1 to 64, not '" + value + "'");
        } else if (name == "--scale") {
            if (!ParseScale(value, command.options.scale))
                return Refuse("--scale needs a number above 0 and at most 1, not '" + value + "'");
        } else {
            return Refuse("unknown option '" + name + "'");
        }
    }
    if (auto error = AssembleRuns(command, trace, shots, titles))
        return Refuse(*error);
    return {command, ""};
}

}  // namespace contact_sheet
