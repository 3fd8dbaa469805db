// The host build's entry point: reads the command line, brings up the host platform and
// runs the application object.
#include <cstdio>
#include <optional>
#include <string>

#include "app/QuarrinApp.h"
#include "main/CommandLine.h"
#include "platform/host/HostFolder.h"
#include "platform/host/HostScreen.h"
#include "platform/host/HostServices.h"
#include "platform/host/ModuleBesideProgram.h"

int main(int argc, char** argv) {
    // The check is a program of its own beside this one: it reads packages with the archive
    // library, which a boot must not pay for.
    if (argc > 1 && std::string(argv[1]) == "check") {
        std::string error;
        argv[1] = const_cast<char*>("quarrin check");
        quarrin::platform::ExecProgramBesideProgram("quarrin-check", argv + 1, error);
        std::fprintf(stderr, "quarrin: cannot start the check: %s\n", error.c_str());
        return 2;
    }
    int exitCode = 0;
    std::optional<CommandLine> parsed = ReadProgramArguments(argc, argv, exitCode);
    if (!parsed)
        return exitCode;
    const CommandLine& options = *parsed;
    if (!quarrin::platform::IsHostFolder(options.root)) {
        std::fprintf(stderr, "quarrin: device root '%s' is not a folder\n%s", options.root.c_str(),
                     UsageText().c_str());
        return 2;
    }
    quarrin::platform::HostOptions host;
    host.deviceRoot = options.root;
    host.logFile = options.logFile;
    host.registryFile = options.registryFile;
    host.clockRate = options.clockRate;
    host.comPorts = options.comPorts;
    host.stores = options.stores;
    host.touchCalibrated = options.touchCalibrated;
    host.screenWidth = options.screenWidth;
    host.screenHeight = options.screenHeight;
    host.screenshotDir = options.screenshotDir;
    host.screenTraceFile = options.screenTraceFile;
    host.progress = options.progress;
    host.window = options.window;
    host.windowSnapshot = options.windowSnapshot;
    quarrin::platform::HostPlatform platform(host);
    if (!platform.Debug().LogOpened()) {
        std::fprintf(stderr, "quarrin: cannot open log file '%s'\n", options.logFile.c_str());
        return 2;
    }
    if (!platform.Screen().SetupError().empty()) {
        std::fprintf(stderr, "quarrin: %s\n", platform.Screen().SetupError().c_str());
        return 2;
    }
    CQuarrinApp app;
    return RunWinApp(app);
}
