// The real binary against co-processors that answer late, report results nobody asked for,
// report two results, or keep acknowledging after their result (coproc-sim's options for
// messages at the wrong moment). The screen tells the true outcome in every case, and the
// dialog ends as its stage's own result says.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/E2eSupport.h"
#include "tests/support/Pattern.h"

namespace fs = std::filesystem;
using e2e::BackgroundProgram;
using e2e::ReadFile;
using e2e::TraceShows;

namespace {

using e2e::kSim;

std::string Pattern(std::size_t size, unsigned seed) {
    return testsupport::Pattern(size, seed, 17, 89);
}

// The index of the first (or last) TEXT line of a screen trace that contains `text`; -1 when
// none does.
int TraceIndex(const fs::path& trace, const std::string& text, bool last) {
    std::ifstream in(trace);
    int index = 0;
    int found = -1;
    for (std::string line; std::getline(in, line); ++index) {
        if (line.rfind("TEXT ", 0) == 0 && line.find(text) != std::string::npos) {
            found = index;
            if (!last)
                break;
        }
    }
    return found;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class StrayMessageTest : public ::testing::Test {
protected:
    void SetUp() override {
        root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", root.Path() / "app-started");
        fs::create_directories(root.Path() / "ResidentFlash2");
    }
    // Runs the loader on the two simulators until `done` or `limit`.
    e2e::RunResult Run(unsigned request, std::vector<std::string> mcuArgs,
                       std::vector<std::string> mpegArgs, const std::function<bool()>& done,
                       std::chrono::seconds limit, bool* stopped = nullptr) {
        mcuArgs.insert(mcuArgs.begin(), {"mcu", "--log", mcuLog.string()});
        mpegArgs.insert(mpegArgs.begin(), {"mpeg", "--log", mpegLog.string()});
        BackgroundProgram mcu(kSim, mcuArgs);
        BackgroundProgram mpeg(kSim, mpegArgs);
        root.Put("ResidentFlash2/UpdateInfo.dat", std::string{static_cast<char>(request), 0, 0, 0});
        return e2e::RunProgramUntil(
            QUARRIN_BINARY,
            {"--root", root.Path().string(), "--com", "2=" + mcu.FirstLine(), "--com",
             "3=" + mpeg.FirstLine(), "--clock-rate", "20", "--screen-trace", trace.string()},
            done, limit, stopped);
    }

    e2e::DeviceRoot root;
    fs::path trace = root.Path() / "trace.txt";
    fs::path mcuLog = root.Path() / "mcu-sim.log";
    fs::path mpegLog = root.Path() / "mpeg-sim.log";
    fs::path mcuOut = root.Path() / "mcu-received.bin";
};

// The MPEG module answers each end frame 8 s late, after two resends of it: the later good
// results and the alive messages after them arrive while the MCU stage runs.
TEST_F(StrayMessageTest, LateMpegResultsCannotEndTheMcuStage) {
    std::string mcuImage = Pattern(131072, 1);
    root.Put("SDHC/ZEL_Update/MCU", mcuImage);
    root.Put("SDHC/ZEL_Update/DVDROM.bin", Pattern(20000, 2));
    bool stopped = false;
    e2e::RunResult run = Run(
        0x0C, {"--image-out", mcuOut.string()},
        {"--alive-ms", "5", "--flash-ms", "25", "--end-delay-ms", "400"},
        [&] { return TraceShows(trace, "系统即将复位，请拔出升级卡！(0)"); },
        std::chrono::seconds(30), &stopped);
    EXPECT_TRUE(stopped) << run.exitCode;
    int mcuRunning = TraceIndex(trace, "正在升级MCU", false);
    ASSERT_GE(mcuRunning, 0);
    EXPECT_LT(TraceIndex(trace, "正在将数据写入Flash", true), mcuRunning);
    EXPECT_LT(TraceIndex(trace, "MPEG升级成功！", true), mcuRunning);
    EXPECT_TRUE(TraceShows(trace, "MCU升级成功！"));
    EXPECT_TRUE(ReadFile(mcuOut) == mcuImage);
    EXPECT_GE(Occurrences(ReadFile(mpegLog), "recv END_PROGRAM"), 2u);
    EXPECT_NE(run.err.find("MPEG message a6 ignored in step done\r\n"), std::string::npos);
    // The update mode goes to the MCU before and after the MPEG update, never in between.
    EXPECT_EQ(Occurrences(ReadFile(mcuLog), "recv MPEG_UPDATE_MODE"), 2u);
}

TEST_F(StrayMessageTest, AStrayMcuResultCannotEndTheMpegStage) {
    root.Put("SDHC/ZEL_Update/DVDROM.bin", Pattern(5000, 3));
    e2e::RunResult run = Run(
        0x08, {"--stray-result-ms", "100"}, {"--alive-ms", "0"},
        [&] { return TraceShows(trace, "MPEG升级"); }, std::chrono::seconds(2));
    EXPECT_EQ(run.exitCode, 128 + 9) << "the MPEG stage should still wait for its module";
    EXPECT_FALSE(TraceShows(trace, "MPEG升级成功！"));
    EXPECT_NE(run.err.find("MCU message 96 ignored in step accepted\r\n"), std::string::npos);
    EXPECT_NE(ReadFile(mcuLog).find("stray programming result"), std::string::npos);
}

TEST_F(StrayMessageTest, AnMpegFailureAfterAGoodResultIsFinal) {
    root.Put("SDHC/ZEL_Update/DVDROM.bin", Pattern(5000, 4));
    e2e::RunResult run = Run(
        0x08, {}, {"--alive-ms", "5", "--flash-ms", "25", "--extra-result", "1"},
        [] { return false; }, std::chrono::seconds(20));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(TraceShows(trace, "MPEG升级失败！错误码:40"));
    EXPECT_FALSE(TraceShows(trace, "MPEG升级成功！"));
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
}

// One acknowledgement of another block every device second after a failed result: the
// failure still closes the dialog after 2 s and the main application starts.
TEST_F(StrayMessageTest, AFailedMcuStageClosesWhileAcknowledgementsKeepComing) {
    root.Put("SDHC/ZEL_Update/MCU", Pattern(131072, 5));
    e2e::RunResult run = Run(
        0x04, {"--result", "1", "--acks-after-result-ms", "50"}, {}, [] { return false; },
        std::chrono::seconds(20));
    EXPECT_EQ(run.exitCode, 0) << "the dialog never closed";
    EXPECT_TRUE(TraceShows(trace, "MCU升级失败！错误码:32"));
    EXPECT_FALSE(TraceShows(trace, "MCU升级成功！"));
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
    EXPECT_EQ(Occurrences(ReadFile(mcuLog), "recv END_PROGRAM"), 1u);
}

}  // namespace
