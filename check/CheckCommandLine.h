// The command line of `quarrin check`.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Win32.h"

struct CheckOptions {
    std::string root;           // --root DIR
    std::string medium;         // --medium DIR
    std::string slot = "SDHC";  // --as: the volume the medium stands in for
    bool requestGiven = false;
    DWORD request = 0;                // --request WORD
    unsigned long long cardSize = 0;  // --card-size; 0: the volume's own size
    bool json = false;
    bool help = false;
};

struct CheckCommandLineResult {
    std::optional<CheckOptions> options;
    std::string error;  // set when options is empty
};

// `arguments` are those after "check".
CheckCommandLineResult ParseCheckCommandLine(const std::vector<std::string>& arguments);
std::string CheckUsageText();
