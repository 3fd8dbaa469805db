#include "main/CommandLine.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "resources/Version.h"

namespace {

bool ParseClockRate(const std::string& text, double& rate) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end == nullptr || *end != '\0' || !(value >= CLOCK_RATE_MIN) ||
        !(value <= CLOCK_RATE_MAX)) {
        return false;
    }
    rate = value;
    return true;
}

// "2=/dev/ttyS1": a port number from 1 to 255 and a non-empty device path.
bool ParseComMapping(const std::string& text, std::map<int, std::string>& ports) {
    auto eq = text.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == text.size())
        return false;
    std::string number = text.substr(0, eq);
    if (number.size() > 3 || number.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    int port = std::stoi(number);
    if (port < 1 || port > 255)
        return false;
    ports[port] = text.substr(eq + 1);
    return true;
}

// A volume is one folder of the device root: a path would name no volume the device has.
bool IsVolumeName(const std::string& volume) {
    return !volume.empty() && volume != "." && volume != ".." &&
           volume.find_first_of("/\\") == std::string::npos;
}

// "DSKn=VOLUME" with n from 1 to 4 (a colon after the store name is allowed).
bool ParseStore(const std::string& text, std::pair<int, std::string>& store) {
    auto eq = text.find('=');
    if (eq == std::string::npos || !IsVolumeName(text.substr(eq + 1)))
        return false;
    std::string name = text.substr(0, eq);
    if (!name.empty() && name.back() == ':')
        name.pop_back();
    if (name.size() != 4 || name.compare(0, 3, "DSK") != 0 || name[3] < '1' || name[3] > '4') {
        return false;
    }
    store = {name[3] - '0', text.substr(eq + 1)};
    return true;
}

// "WxH" with both sides between 1 and SCREEN_MAX_SIDE pixels.
constexpr long SCREEN_MAX_SIDE = 8192;

bool ParseScreenSize(const std::string& text, int& width, int& height) {
    char* end = nullptr;
    long w = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != 'x' || !std::isdigit(static_cast<unsigned char>(end[1]))) {
        return false;
    }
    const char* rest = end + 1;
    long h = std::strtol(rest, &end, 10);
    if (*end != '\0' || w < 1 || h < 1 || w > SCREEN_MAX_SIDE || h > SCREEN_MAX_SIDE) {
        return false;
    }
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

}  // namespace

std::string UsageText() {
    return "usage: quarrin [--root DIR] [--log FILE] [--registry FILE] [--clock-rate R]\n"
           "               [--screen WxH] [--screenshots DIR] [--screen-trace FILE] [--progress]\n"
           "               [--store DSKn=VOLUME]... [--com N=DEVICE]... [--touch-calibrated]\n"
           "               [--window] [--help] [--version]\n"
           "       quarrin check --root DIR | --medium DIR [--as SLOT] ...   (quarrin check"
           " --help)\n"
           "  --root DIR        device root: the folder that holds the device's volumes"
           " (default ./device)\n"
           "  --log FILE        also append every debug line to FILE\n"
           "  --registry FILE   the registry, a .reg text file (default registry.reg in the"
           " device root)\n"
           "  --clock-rate R    run the loader's clock R times faster, R from 0.001 to 1000000\n"
           "                    (default 1)\n"
           "  --com N=DEVICE    COM port N (the MCU is on 2, the MPEG module on 3) is the host"
           " serial device or pseudo-terminal DEVICE; may be repeated\n"
           "  --store DSKn=VOLUME  store DSKn: (n 1..4) carries the volume folder VOLUME (a"
           " folder name\n"
           "                    of the device root); repeatable\n"
           "                    (default: DSK1: carries \"Storage Card\" when that folder"
           " exists)\n"
           "  --touch-calibrated  the touch-screen calibration reports itself completed\n"
           "  --screen WxH      the unit's screen size in pixels (default 800x480)\n"
           "  --screenshots DIR save every frame shown as DIR/00001.png, 00002.png, ...\n"
           "  --screen-trace FILE  write what is drawn on the screen, one line per call\n"
           "  --progress        print a line per change of stage, state or percent on stdout\n"
           "  --window          show the screen in a window while the loader runs (closing\n"
           "                    the window only hides it: the loader goes on)\n"
           "  --help            show this text\n"
           "  --version         show the version\n";
}

CommandLineResult ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> inlineValue;
        if (auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        auto value = [&](std::string& out) -> bool {
            if (inlineValue) {
                out = *inlineValue;
                return true;
            }
            if (i + 1 >= arguments.size())
                return false;
            out = arguments[++i];
            return true;
        };
        std::string text;
        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else if (name == "--touch-calibrated") {
            options.touchCalibrated = true;
        } else if (name == "--store") {
            std::pair<int, std::string> store;
            if (!value(text) || !ParseStore(text, store)) {
                return {std::nullopt,
                        "--store needs DSKn=VOLUME with n from 1 to 4 and a "
                        "folder name of the device root as VOLUME"};
            }
            options.stores.push_back(store);
        } else if (name == "--progress") {
            options.progress = true;
        } else if (name == "--window") {
            options.window = true;
        } else if (name == "--root" || name == "--log" || name == "--clock-rate" ||
                   name == "--registry") {
            if (!value(text) || text.empty())
                return {std::nullopt, "option " + name + " needs a value"};
            if (name == "--root") {
                options.root = text;
            } else if (name == "--log") {
                options.logFile = text;
            } else if (name == "--registry") {
                options.registryFile = text;
            } else if (!ParseClockRate(text, options.clockRate)) {
                return {std::nullopt,
                        "--clock-rate needs a number from 0.001 to 1000000, not '" + text + "'"};
            }
        } else if (name == "--com") {
            if (!value(text) || !ParseComMapping(text, options.comPorts)) {
                return {std::nullopt, "--com needs N=DEVICE with N from 1 to 255"};
            }
        } else if (name == "--screen" || name == "--screenshots" || name == "--screen-trace" ||
                   name == "--window-snapshot") {
            if (!value(text) || text.empty()) {
                return {std::nullopt, "option " + name + " needs a value"};
            }
            if (name == "--screenshots") {
                options.screenshotDir = text;
            } else if (name == "--screen-trace") {
                options.screenTraceFile = text;
            } else if (name == "--window-snapshot") {
                options.window = true;
                options.windowSnapshot = text;
            } else if (!ParseScreenSize(text, options.screenWidth, options.screenHeight)) {
                return {std::nullopt,
                        "--screen needs WIDTHxHEIGHT such as 800x480, not '" + text + "'"};
            }
        } else {
            return {std::nullopt, "unknown option '" + arguments[i] + "'"};
        }
    }
    return {options, ""};
}

std::optional<CommandLine> ReadProgramArguments(int argc, char** argv, int& exitCode) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    CommandLineResult parsed = ParseCommandLine(arguments);
    if (!parsed.options) {
        std::fprintf(stderr, "quarrin: %s\n%s", parsed.error.c_str(), UsageText().c_str());
        exitCode = 2;
        return std::nullopt;
    }
    if (parsed.options->help) {
        std::fputs(UsageText().c_str(), stdout);
        exitCode = 0;
        return std::nullopt;
    }
    if (parsed.options->version) {
        std::printf("quarrin %s\n", QUARRIN_VERSION_TEXT);
        exitCode = 0;
        return std::nullopt;
    }
    return std::move(parsed.options);
}
