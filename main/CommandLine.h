// The command line of the host build. The device's loader has none; on the host it says
// where the device lives and how its screen and ports are reached.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The range of --clock-rate: from a clock a thousand times slower (a 20 s countdown then
// takes five and a half hours) to one a million times faster. The host clock's arithmetic
// carries a year of running at either end (platform/host/ScaledClock.h).
inline constexpr double CLOCK_RATE_MIN = 0.001;
inline constexpr double CLOCK_RATE_MAX = 1e6;

struct CommandLine {
    std::string root = "./device";
    std::string logFile;
    std::string registryFile;  // empty: "registry.reg" in the device root
    double clockRate = 1.0;
    std::map<int, std::string> comPorts;  // --com N=DEVICE: COM port N is the host tty DEVICE
    // --store DSKn=VOLUME, repeatable: store n (1..4) carries the volume folder VOLUME.
    std::vector<std::pair<int, std::string>> stores;
    bool touchCalibrated = false;  // --touch-calibrated
    int screenWidth = 800;
    int screenHeight = 480;
    std::string screenshotDir;
    std::string screenTraceFile;
    bool progress = false;  // one line per change of the screen on standard output
    bool window = false;
    std::string windowSnapshot;  // implies window
    bool help = false;
    bool version = false;
};

struct CommandLineResult {
    std::optional<CommandLine> options;
    std::string error;  // set when options is empty
};

CommandLineResult ParseCommandLine(const std::vector<std::string>& arguments);
std::string UsageText();

// The entry points' common start: parses the program's arguments and answers a bad command
// line (the error and the usage on standard error, exit code 2), --help and --version
// (exit code 0). Gives the options when the program should go on, else sets `exitCode`.
std::optional<CommandLine> ReadProgramArguments(int argc, char** argv, int& exitCode);
