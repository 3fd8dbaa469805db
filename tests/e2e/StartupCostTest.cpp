// What a boot that only starts the main application costs the real binary: which libraries
// it loads, and that the drawing stack it leaves out comes in when a run draws.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>

#include "platform/host/PngFile.h"
#include "tests/support/E2eSupport.h"

using e2e::DeviceRoot;

namespace fs = std::filesystem;

namespace {

// The shared objects that the dynamic loader reported loading ("file=NAME [0];  needed by"
// or "... dynamically loaded by") in the LD_DEBUG=files output of every process of a run.
std::set<std::string> LoadedObjects(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::istringstream text(e2e::ReadFile(entry.path()));
        for (std::string line; std::getline(text, line);) {
            auto name = line.find("file=");
            auto end = line.find(" [", name);
            if (name == std::string::npos || end == std::string::npos ||
                (line.find("needed by", end) == std::string::npos &&
                 line.find("dynamically loaded by", end) == std::string::npos)) {
                continue;
            }
            name += 5;
            names.insert(fs::path(line.substr(name, end - name)).filename().string());
        }
    }
    return names;
}

// Runs quarrin with the dynamic loader's report of the files it loads in `folder`.
e2e::RunResult RunReportingLoads(const std::string& binary, const std::vector<std::string>& args,
                                 const fs::path& folder) {
    fs::create_directories(folder);
    setenv("LD_DEBUG", "files", 1);
    setenv("LD_DEBUG_OUTPUT", (folder / "ld").c_str(), 1);
    e2e::RunResult run = e2e::RunProgram(binary, args);
    unsetenv("LD_DEBUG");
    unsetenv("LD_DEBUG_OUTPUT");
    return run;
}

TEST(StartupCostTest, TheDirectLaunchLoadsNoDrawingArchiveOrWindowLibrary) {
    DeviceRoot root;
    auto marker = root.Path() / "app-started";
    root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", marker);
    fs::path report = root.Path() / "loads";
    e2e::RunResult run =
        RunReportingLoads(QUARRIN_BINARY, {"--root", root.Path().string()}, report);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_TRUE(e2e::WaitForFile(marker));
    std::set<std::string> loaded = LoadedObjects(report);
    ASSERT_TRUE(loaded.count("libc.so.6")) << "no report of the loaded libraries";
    for (const std::string& name : loaded) {
        for (const char* unwanted : {"freetype", "fontconfig", "png", "archive", "zstd", "SDL",
                                     "quarrin-drawing", "quarrin-window", "zCompress"}) {
            EXPECT_EQ(name.find(unwanted), std::string::npos) << name << " was loaded";
        }
#if QUARRIN_QUICK_START_LINK
        EXPECT_EQ(name.find("libstdc++"), std::string::npos) << name << " was loaded";
#endif
    }
}

// A screen drawn by the binary loads the drawing module beside it, once.
TEST(StartupCostTest, TheUpdateDialogLoadsTheDrawingModuleToDraw) {
    DeviceRoot root;
    root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", root.Path() / "app-started");
    root.Put("ResidentFlash2/UpdateInfo.dat", std::string("\x04\0\0\0", 4));
    auto shots = root.Path() / "shots";
    fs::path report = root.Path() / "loads";
    e2e::RunResult run = RunReportingLoads(
        QUARRIN_BINARY,
        {"--root", root.Path().string(), "--screenshots", shots.string(), "--clock-rate", "40"},
        report);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(LoadedObjects(report).count("quarrin-drawing.so"));
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    // The countdown screen is text alone on black: text was drawn where a pixel is not black.
    ASSERT_TRUE(
        quarrin::platform::ReadPngFile((shots / "00001.png").string(), width, height, pixels));
    EXPECT_NE(std::count_if(pixels.begin(), pixels.end(), [](std::uint32_t p) { return p != 0; }),
              0);
}

// A binary installed without its drawing module still updates and starts the application: the
// screens stay without text, and standard error says why once.
TEST(StartupCostTest, WithoutTheDrawingModuleAnUpdateStillEnds) {
    DeviceRoot root;
    auto marker = root.Path() / "app-started";
    root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", marker);
    root.Put("ResidentFlash2/UpdateInfo.dat", std::string("\x04\0\0\0", 4));
    fs::path alone = root.Path() / "bin" / "quarrin";
    fs::create_directories(alone.parent_path());
    fs::copy_file(QUARRIN_BINARY, alone);
    auto trace = root.Path() / "screen.txt";
    e2e::RunResult run = e2e::RunProgram(
        alone.string(),
        {"--root", root.Path().string(), "--screen-trace", trace.string(), "--clock-rate", "40"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string message = "quarrin: cannot load the drawing module";
    auto first = run.err.find(message);
    ASSERT_NE(first, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(message, first + 1), std::string::npos) << run.err;
    EXPECT_TRUE(e2e::TraceShows(trace, "正在检测升级文件"));
    EXPECT_TRUE(e2e::WaitForFile(marker));
}

}  // namespace
