// The real binary updates the co-processors' firmware over pseudo-terminals, with the
// co-processor simulator on the other end.
#include <gtest/gtest.h>

#include <fstream>

#include "e2e/E2eSupport.h"

namespace fs = std::filesystem;
using e2e::BackgroundProgram;
using e2e::DeviceRoot;

namespace {

const std::string kSim = QUARRIN_TOOLS "/coproc-sim/coproc-sim";

std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + seed + i / 97) & 0xFF);
    return bytes;
}

bool TraceShows(const fs::path& trace, const std::string& text) {
    std::ifstream in(trace);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("TEXT ", 0) == 0 && line.find(text) != std::string::npos) return true;
    }
    return false;
}

class FirmwareE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", root.Path() / "app-started");
        fs::create_directories(root.Path() / "ResidentFlash2");
    }
    e2e::RunResult Boot(unsigned request, const std::string& mcuDevice, const std::string& mpegDevice) {
        root.Put("ResidentFlash2/UpdateInfo.dat", std::string{static_cast<char>(request), 0, 0, 0});
        return e2e::RunQuarrin({"--root", root.Path().string(), "--com", "2=" + mcuDevice, "--com",
                                "3=" + mpegDevice, "--clock-rate", "20", "--screen-trace",
                                (root.Path() / "trace.txt").string()});
    }
    DeviceRoot root;
};

TEST_F(FirmwareE2eTest, BothCoprocessorsReceiveTheCardsImagesMpegFirst) {
    std::string mcuImage = Pattern(131072, 5);
    std::string mpegImage = Pattern(100000, 9);
    mcuImage.replace(131047, 24, std::string("MCU-E2E-1") + std::string(15, '\0'));
    root.Put("SDHC/ZEL_Update/MCU", mcuImage);
    root.Put("SDHC/ZEL_Update/DVDROM.bin", mpegImage);
    fs::path mcuOut = root.Path().parent_path() / (root.Path().filename().string() + "-mcu.bin");
    fs::path mpegOut = root.Path().parent_path() / (root.Path().filename().string() + "-mpeg.bin");
    BackgroundProgram mcu(kSim, {"mcu", "--image-out", mcuOut.string(), "--log", "/dev/null"});
    BackgroundProgram mpeg(kSim, {"mpeg", "--image-out", mpegOut.string(), "--alive-ms", "5",
                                  "--flash-ms", "25", "--log", "/dev/null"});
    ASSERT_FALSE(mcu.FirstLine().empty());
    ASSERT_FALSE(mpeg.FirstLine().empty());
    root.Put("ResidentFlash2/UpdateInfo.dat", std::string("\x0c\0\0\0", 4));
    // The dialog stays on the reset countdown after a good MCU stage: the unit is reset from
    // outside. Here the run ends when the countdown screen has reached 0.
    e2e::RunResult run = e2e::RunProgram("/usr/bin/timeout",
        {"10", QUARRIN_BINARY, "--root", root.Path().string(), "--com", "2=" + mcu.FirstLine(),
         "--com", "3=" + mpeg.FirstLine(), "--clock-rate", "20", "--screen-trace",
         (root.Path() / "trace.txt").string()});
    EXPECT_EQ(run.exitCode, 124) << run.err;  // still open on the countdown, ended by timeout
    fs::path trace = root.Path() / "trace.txt";
    EXPECT_TRUE(TraceShows(trace, "MPEG升级成功！"));
    EXPECT_TRUE(TraceShows(trace, "正在升级MCU MCU-E2E-1，请不要断电！"));
    EXPECT_TRUE(TraceShows(trace, "MCU升级成功！"));
    EXPECT_TRUE(TraceShows(trace, "系统即将复位，请拔出升级卡！(0)"));
    std::ifstream mcuIn(mcuOut, std::ios::binary), mpegIn(mpegOut, std::ios::binary);
    std::string mcuGot((std::istreambuf_iterator<char>(mcuIn)), {});
    std::string mpegGot((std::istreambuf_iterator<char>(mpegIn)), {});
    EXPECT_TRUE(mcuGot == mcuImage) << mcuGot.size();
    EXPECT_TRUE(mpegGot == mpegImage) << mpegGot.size();
    EXPECT_EQ(root.Read("ResidentFlash2/RawData").size(), 32u);
    fs::remove(mcuOut);
    fs::remove(mpegOut);
}

TEST_F(FirmwareE2eTest, AFailedMcuProgrammingClosesAndLaunches) {
    root.Put("SDHC/ZEL_Update/MCU", Pattern(131072, 1));
    BackgroundProgram mcu(kSim, {"mcu", "--result", "40", "--log", "/dev/null"});
    BackgroundProgram mpeg(kSim, {"mpeg", "--log", "/dev/null"});
    e2e::RunResult run = Boot(0x04, mcu.FirstLine(), mpeg.FirstLine());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(TraceShows(root.Path() / "trace.txt", "MCU升级失败！错误码:32"));
    EXPECT_NE(run.err.find("MCU Thread Closed!\r\n"), std::string::npos);
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
}

}  // namespace
