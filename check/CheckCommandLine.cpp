#include "check/CheckCommandLine.h"

#include <cerrno>
#include <cstdlib>

namespace {

// Decimal or 0x-hexadecimal, at most 32 bits. A leading 0 is no octal prefix: "010" is ten.
bool ParseWord(const std::string& text, DWORD& word) {
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    std::string digits = hex ? text.substr(2) : text;
    const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.find_first_not_of(allowed) != std::string::npos)
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(digits.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || end == digits.c_str() || *end != '\0' || value > 0xFFFFFFFFull)
        return false;
    word = static_cast<DWORD>(value);
    return true;
}

// Bytes, with an optional K, M or G (powers of 1024).
bool ParseSize(const std::string& text, unsigned long long& size) {
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str())
        return false;
    std::string unit = end;
    unsigned shift = unit.empty() ? 0 : unit == "K" ? 10 : unit == "M" ? 20 : unit == "G" ? 30 : 99;
    if (shift == 99 || value == 0 || value > (~0ull >> shift))
        return false;
    size = value << shift;
    return true;
}

bool IsSlot(const std::string& slot) {
    return slot == "SDHC" || slot == "Storage Card" || slot == "硬盘";
}

std::string Check(const CheckOptions& options) {
    if (options.root.empty() == options.medium.empty())
        return "give either --root DIR or --medium DIR";
    return "";
}

}  // namespace

std::string CheckUsageText() {
    return "usage: quarrin check --root DIR [--request WORD] [--card-size SIZE] [--json]\n"
           "       quarrin check --medium DIR [--as SLOT] [--request WORD] [--card-size SIZE]"
           " [--json]\n"
           "Says what the unit would do with its update media at its next boot, without\n"
           "changing a byte: where it finds each update, the version it shows, whether the\n"
           "stage would succeed or fail with which code, and the course of the boot.\n"
           "  --root DIR        the device root of a unit (its record gives the request)\n"
           "  --medium DIR      a bare medium (a mounted card, a folder) in a slot of a unit\n"
           "                    with the demo's resident volumes; every kind it holds is checked\n"
           "  --as SLOT         the slot of the medium: SDHC (default), \"Storage Card\" or 硬盘\n"
           "  --request WORD    the request word to assume instead, decimal or 0x-hexadecimal\n"
           "                    (14, 0x0E, 0x40, ...)\n"
           "  --card-size SIZE  the unit's Storage Card holds SIZE bytes once formatted (K, M or\n"
           "                    G; default: the size of the volume's file system)\n"
           "  --json            the report as JSON (schema in docs/DEVICE.md)\n"
           "  --help            show this text\n"
           "Exit status: 0 when every update found would succeed, 1 when one would fail,\n"
           "2 on a bad command line.\n";
}

CheckCommandLineResult ParseCheckCommandLine(const std::vector<std::string>& arguments) {
    CheckOptions options;
    bool slotGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::string value;
        bool hasValue = false;
        if (auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        auto take = [&]() {
            if (!hasValue && i + 1 < arguments.size()) {
                value = arguments[++i];
                hasValue = true;
            }
            return hasValue && !value.empty();
        };
        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--json") {
            options.json = true;
        } else if (name == "--root" || name == "--medium") {
            if (!take())
                return {std::nullopt, "option " + name + " needs a folder"};
            (name == "--root" ? options.root : options.medium) = value;
        } else if (name == "--as") {
            if (!take() || !IsSlot(value))
                return {std::nullopt, "--as needs SDHC, \"Storage Card\" or 硬盘"};
            options.slot = value;
            slotGiven = true;
        } else if (name == "--request") {
            if (!take() || !ParseWord(value, options.request))
                return {std::nullopt, "--request needs a word such as 14 or 0x0E"};
            options.requestGiven = true;
        } else if (name == "--card-size") {
            if (!take() || !ParseSize(value, options.cardSize))
                return {std::nullopt, "--card-size needs a size such as 8G or 4000000000"};
        } else {
            return {std::nullopt, "unknown option '" + arguments[i] + "'"};
        }
    }
    if (options.help)
        return {options, ""};
    if (std::string error = Check(options); !error.empty())
        return {std::nullopt, error};
    if (slotGiven && options.medium.empty())
        return {std::nullopt, "--as goes with --medium"};
    return {options, ""};
}
