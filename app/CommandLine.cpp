#include "app/CommandLine.h"

#include <cmath>
#include <cstdlib>

namespace {

bool ParsePositive(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != nullptr && *end == '\0' && std::isfinite(value) && value > 0;
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

}  // namespace

std::string UsageText() {
    return "usage: quarrin [--root DIR] [--log FILE] [--registry FILE] [--clock-rate R]"
           " [--com N=DEVICE]... [--help]"
           " [--version]\n"
           "  --root DIR        device root: the folder that holds the device's volumes"
           " (default ./device)\n"
           "  --log FILE        also append every debug line to FILE\n"
           "  --registry FILE   the registry, a .reg text file (default registry.reg in the"
           " device root)\n"
           "  --clock-rate R    run the loader's clock R times faster (default 1)\n"
           "  --com N=DEVICE    COM port N (the MCU is on 2, the MPEG module on 3) is the host"
           " serial device or pseudo-terminal DEVICE; may be repeated\n"
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
        } else if (name == "--root" || name == "--log" || name == "--clock-rate" ||
                   name == "--registry") {
            if (!value(text) || text.empty()) return {std::nullopt, "option " + name + " needs a value"};
            if (name == "--root") {
                options.root = text;
            } else if (name == "--log") {
                options.logFile = text;
            } else if (name == "--registry") {
                options.registryFile = text;
            } else if (!ParsePositive(text, options.clockRate)) {
                return {std::nullopt, "--clock-rate needs a positive number, not '" + text + "'"};
            }
        } else if (name == "--com") {
            if (!value(text) || !ParseComMapping(text, options.comPorts)) {
                return {std::nullopt, "--com needs N=DEVICE with N from 1 to 255"};
            }
        } else {
            return {std::nullopt, "unknown option '" + arguments[i] + "'"};
        }
    }
    return {options, ""};
}
