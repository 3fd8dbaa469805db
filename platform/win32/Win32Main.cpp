// The Windows build's entry point: reads the command line, makes the device root the
// current drive and runs the application object over the real Windows API.
#include <cstdio>
#include <optional>
#include <string>

#include "app/QuarrinApp.h"
#include "main/CommandLine.h"
#include "platform/win32/Win32Runtime.h"

namespace {

// Options of the host build that have no meaning here: the system provides the clock, the
// registry, the serial ports (COMn, under Wine through the prefix's dosdevices links), the
// screen and its window.
std::string UnsupportedOption(const CommandLine& options) {
    if (options.clockRate != 1.0)
        return "--clock-rate";
    if (!options.comPorts.empty())
        return "--com";
    if (!options.registryFile.empty())
        return "--registry";
    if (!options.stores.empty())
        return "--store";
    if (options.screenWidth != 800 || options.screenHeight != 480)
        return "--screen";
    if (!options.screenshotDir.empty())
        return "--screenshots";
    if (!options.screenTraceFile.empty())
        return "--screen-trace";
    if (options.window || !options.windowSnapshot.empty())
        return "--window";
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    int exitCode = 0;
    std::optional<CommandLine> parsed = ReadProgramArguments(argc, argv, exitCode);
    if (!parsed)
        return exitCode;
    const CommandLine& options = *parsed;
    if (std::string option = UnsupportedOption(options); !option.empty()) {
        std::fprintf(stderr, "quarrin: %s is not available in the Windows build\n", option.c_str());
        return 2;
    }
    namespace win32 = quarrin::platform::win32;
    std::wstring problem = win32::EnterDeviceRoot(win32::WideFromUtf8(options.root));
    if (!problem.empty()) {
        std::fprintf(stderr, "quarrin: %s\n", win32::Utf8FromWide(problem).c_str());
        return 2;
    }
    if (!win32::StartDebugOutput(win32::WideFromUtf8(options.logFile))) {
        std::fprintf(stderr, "quarrin: cannot open log file '%s'\n", options.logFile.c_str());
        return 2;
    }
    win32::EnableProgressOutput(options.progress);
    win32::SetTouchCalibrationResult(options.touchCalibrated);
    win32::DeclareDefaultStores();
    CQuarrinApp app;
    return RunWinApp(app);
}
