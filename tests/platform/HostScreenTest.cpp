#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "main/CommandLine.h"
#include "platform/host/HostScreen.h"
#include "platform/host/PngFile.h"
#include "tests/support/E2eSupport.h"

namespace fs = std::filesystem;
using quarrin::platform::HostScreen;

namespace {

class TempDir {
public:
    TempDir() {
        m_path =
            fs::temp_directory_path() /
            ("quarrin-screen-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_path);
    }
    ~TempDir() { fs::remove_all(m_path); }
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

}  // namespace

TEST(HostScreenTest, EachPresentWritesANumberedPngAndTraceLines) {
    TempDir dir;
    fs::path shots = dir.Path() / "shots" / "run1";
    fs::path trace = dir.Path() / "trace.txt";
    fs::create_directories(dir.Path());
    {
        HostScreen screen(64, 48, shots.string(), trace.string());
        ASSERT_EQ(screen.SetupError(), "");
        screen.Pixels()[5 * 64 + 7] = 0x00123456;
        screen.Present({"TEXT 0,0,64,48 升级"});
        screen.Present({});
    }
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    ASSERT_TRUE(
        quarrin::platform::ReadPngFile((shots / "00001.png").string(), width, height, pixels));
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 48);
    EXPECT_EQ(pixels[5 * 64 + 7], 0x00123456u);
    EXPECT_EQ(pixels[0], 0u);
    EXPECT_TRUE(fs::exists(shots / "00002.png"));
    EXPECT_FALSE(fs::exists(shots / "00003.png"));
    EXPECT_EQ(e2e::ReadFile(trace), "TEXT 0,0,64,48 升级\nPRESENT 1\nPRESENT 2\n");
}

TEST(HostScreenTest, ReportsWhatItCannotSetUp) {
    TempDir dir;
    fs::create_directories(dir.Path());
    std::ofstream(dir.Path() / "file") << "x";
    HostScreen blocked(8, 8, (dir.Path() / "file" / "shots").string(), "");
    EXPECT_NE(blocked.SetupError(), "");
    HostScreen noTrace(8, 8, "", (dir.Path() / "missing" / "trace.txt").string());
    EXPECT_NE(noTrace.SetupError(), "");
}

TEST(ScreenOptionsTest, ParsesAndValidatesTheScreenOptions) {
    auto result = ParseCommandLine(
        {"--screen", "1024x600", "--screenshots=shots", "--screen-trace", "trace.txt"});
    ASSERT_TRUE(result.options);
    EXPECT_EQ(result.options->screenWidth, 1024);
    EXPECT_EQ(result.options->screenHeight, 600);
    EXPECT_EQ(result.options->screenshotDir, "shots");
    EXPECT_EQ(result.options->screenTraceFile, "trace.txt");
    EXPECT_EQ(ParseCommandLine({}).options->screenWidth, 800);
    EXPECT_EQ(ParseCommandLine({}).options->screenHeight, 480);
    for (const char* bad : {"800", "800x", "x480", "0x480", "800x-1", "800x480x2", "99999x480",
                            "800X480", "800x+480"}) {
        EXPECT_FALSE(ParseCommandLine({"--screen", bad}).options) << bad;
    }
    EXPECT_FALSE(ParseCommandLine({"--screenshots"}).options);
}
