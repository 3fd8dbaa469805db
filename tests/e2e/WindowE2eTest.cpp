// `quarrin --window`: the window shows exactly the frames of the screen, it is opened only
// once something is presented, and a run without a display says so and goes on headless.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "main/CommandLine.h"
#include "platform/host/PngFile.h"
#include "tests/support/E2eSupport.h"

namespace fs = std::filesystem;
using e2e::DeviceRoot;
using e2e::RunQuarrin;

namespace {

const char* const NO_DISPLAY_LINE = "quarrin: no display for --window; running without a window";

// A device that asks for an MCU update but has no update medium: the dialog counts down
// from 20 and closes, then the main application starts.
void PutRequestWithoutMedium(DeviceRoot& root) {
    root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", root.Path() / "app-started");
    root.Put("ResidentFlash2/UpdateInfo.dat", std::string("\x04\0\0\0", 4));
}

std::optional<std::string> FindOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "";
    for (std::size_t begin = 0; begin <= folders.size();) {
        std::size_t end = folders.find(':', begin);
        if (end == std::string::npos)
            end = folders.size();
        fs::path candidate = fs::path(folders.substr(begin, end - begin)) / program;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
        begin = end + 1;
    }
    return std::nullopt;
}

// Removes the display variables for the life of the object (each test runs in its own
// process, so nothing else sees the change).
class NoDisplay {
public:
    NoDisplay() {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
    }
};

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

Picture ReadPicture(const fs::path& path) {
    Picture picture;
    EXPECT_TRUE(quarrin::platform::ReadPngFile(path.string(), picture.width, picture.height,
                                               picture.pixels))
        << path;
    return picture;
}

bool IsGreenText(std::uint32_t pixel) {
    int red = (pixel >> 16) & 0xFF;
    int green = (pixel >> 8) & 0xFF;
    int blue = pixel & 0xFF;
    return green >= 0x40 && red == 0 && blue == 0;
}

int CountGreen(const Picture& picture, int top, int bottom) {
    int count = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = 0; x < picture.width; ++x)
            count += IsGreenText(picture.At(x, y)) ? 1 : 0;
    }
    return count;
}

std::string LastTextLine(const std::string& trace) {
    std::size_t at = trace.rfind("TEXT ");
    return at == std::string::npos ? "" : trace.substr(at, trace.find('\n', at) - at);
}

}  // namespace

TEST(WindowOptionsTest, SnapshotImpliesTheWindow) {
    auto plain = ParseCommandLine({"--window"});
    ASSERT_TRUE(plain.options);
    EXPECT_TRUE(plain.options->window);
    EXPECT_EQ(plain.options->windowSnapshot, "");
    auto snapshot = ParseCommandLine({"--window-snapshot=shown.png"});
    ASSERT_TRUE(snapshot.options);
    EXPECT_TRUE(snapshot.options->window);
    EXPECT_EQ(snapshot.options->windowSnapshot, "shown.png");
    EXPECT_FALSE(ParseCommandLine({"--window-snapshot"}).options);
    EXPECT_FALSE(ParseCommandLine({}).options->window);
}

TEST(WindowE2eTest, ShowsTheCountdownInGreenOnBlackUnderAVirtualDisplay) {
    std::optional<std::string> xvfbRun = FindOnPath("xvfb-run");
    if (!xvfbRun)
        GTEST_SKIP() << "xvfb-run is not installed (Debian package xvfb): no display to test on";
    // The X client libraries that SDL loads and unloads keep allocations to the end of the
    // process; they are not the loader's, so a sanitizer build does not count them here.
    setenv("LSAN_OPTIONS", "detect_leaks=0", 1);
    DeviceRoot root;
    PutRequestWithoutMedium(root);
    fs::path snapshot = root.Path() / "window.png";
    fs::path shots = root.Path() / "shots";
    fs::path trace = root.Path() / "trace.txt";
    e2e::RunResult run =
        e2e::RunProgram(*xvfbRun, {"-a", "-s", "-screen 0 1280x1024x24", QUARRIN_BINARY, "--root",
                                   root.Path().string(), "--clock-rate", "20", "--window-snapshot",
                                   snapshot.string(), "--screenshots", shots.string(),
                                   "--screen-trace", trace.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err.find(NO_DISPLAY_LINE), std::string::npos) << run.err;
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
    // The run ends on the last count of the detection countdown; the window shows that frame.
    EXPECT_EQ(LastTextLine(root.Read("trace.txt")),
              "TEXT 0,200,800,400 正在检测升级文件......(1)\\r\\n");
    Picture shown = ReadPicture(snapshot);
    ASSERT_EQ(shown.width, 800);
    ASSERT_EQ(shown.height, 480);
    EXPECT_GT(CountGreen(shown, 200, 240), 200) << "the countdown line";
    EXPECT_GT(CountGreen(shown, 20, 110), 1000) << "the two lines of the folder name";
    EXPECT_EQ(CountGreen(shown, 120, 195), 0);
    EXPECT_EQ(CountGreen(shown, 245, 480), 0);
    EXPECT_EQ(shown.At(0, 479), 0u);
    std::vector<fs::path> frames;
    for (const auto& entry : fs::directory_iterator(shots))
        frames.push_back(entry.path());
    std::sort(frames.begin(), frames.end());
    ASSERT_FALSE(frames.empty());
    EXPECT_TRUE(ReadPicture(frames.back()).pixels == shown.pixels)
        << "the window must show the screen's last frame unchanged";
}

TEST(WindowE2eTest, WithoutADisplaySaysSoOnceAndCompletesTheRun) {
    NoDisplay noDisplay;
    DeviceRoot root;
    PutRequestWithoutMedium(root);
    fs::path snapshot = root.Path() / "window.png";
    e2e::RunResult run = RunQuarrin({"--root", root.Path().string(), "--clock-rate", "20",
                                     "--window-snapshot", snapshot.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::size_t first = run.err.find(NO_DISPLAY_LINE);
    ASSERT_NE(first, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(NO_DISPLAY_LINE, first + 1), std::string::npos) << "said once only";
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
    EXPECT_FALSE(fs::exists(snapshot));
}

TEST(WindowE2eTest, DirectLaunchNeverReachesForTheDisplay) {
    NoDisplay noDisplay;
    DeviceRoot root;
    root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", root.Path() / "app-started");
    e2e::RunResult run = RunQuarrin({"--root", root.Path().string(), "--window"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err.find("no display"), std::string::npos) << run.err;
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
}
