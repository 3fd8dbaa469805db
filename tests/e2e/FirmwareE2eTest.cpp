// The real binary updates the co-processors' firmware over pseudo-terminals, with the
// co-processor simulator on the other end.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>

#include "tests/support/E2eSupport.h"
#include "tests/support/Pattern.h"

namespace fs = std::filesystem;
using e2e::BackgroundProgram;
using e2e::DeviceRoot;
using e2e::ReadFile;
using e2e::TraceShows;

namespace {

using e2e::kSim;

std::string Pattern(std::size_t size, unsigned seed) {
    return testsupport::Pattern(size, seed, 13, 97);
}

class FirmwareE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", root.Path() / "app-started");
        fs::create_directories(root.Path() / "ResidentFlash2");
    }
    e2e::RunResult Boot(unsigned request, const std::string& mcuDevice,
                        const std::string& mpegDevice) {
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
    fs::path tracePath = root.Path() / "trace.txt";
    bool stopped = false;
    e2e::RunResult run = e2e::RunProgramUntil(
        QUARRIN_BINARY,
        {"--root", root.Path().string(), "--com", "2=" + mcu.FirstLine(), "--com",
         "3=" + mpeg.FirstLine(), "--clock-rate", "20", "--screen-trace", tracePath.string()},
        [&] { return TraceShows(tracePath, "系统即将复位，请拔出升级卡！(0)"); },
        std::chrono::seconds(20), &stopped);
    EXPECT_TRUE(stopped) << run.exitCode << run.err;  // still open on the countdown
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

// The first 32 bytes of the simulated MCU's identification record: its version field (17
// bytes), date (6), one spare byte and the first 8 bytes of its CAN text.
std::string SimMcuRecordHead() {
    std::string record = "MCU-SIM-1.0";
    record.resize(17, '\0');
    record += "240601";
    record += '\0';
    record += std::string("CAN-SIM") + '\0';
    return record;
}

TEST_F(FirmwareE2eTest, AnMcuOnlyUpdateEndsOnTheResetCountdownWithTheDialogOpen) {
    std::string image = Pattern(131072, 21);
    image.replace(131047, 24, std::string("MCU-E2E-2") + std::string(15, '\0'));
    root.Put("SDHC/ZEL_Update/MCU", image);
    fs::path out = root.Path() / "mcu-received.bin";
    BackgroundProgram mcu(kSim, {"mcu", "--image-out", out.string(), "--log", "/dev/null"});
    BackgroundProgram mpeg(kSim, {"mpeg", "--log", "/dev/null"});
    root.Put("ResidentFlash2/UpdateInfo.dat", std::string("\x04\0\0\0", 4));
    fs::path trace = root.Path() / "trace.txt";
    bool stopped = false;
    e2e::RunResult run = e2e::RunProgramUntil(
        QUARRIN_BINARY,
        {"--root", root.Path().string(), "--com", "2=" + mcu.FirstLine(), "--com",
         "3=" + mpeg.FirstLine(), "--clock-rate", "50", "--screen-trace", trace.string()},
        [&] { return TraceShows(trace, "系统即将复位，请拔出升级卡！(0)"); },
        std::chrono::seconds(20), &stopped);
    // The countdown stays on 0 and the dialog stays open: the unit is reset from outside.
    EXPECT_TRUE(stopped) << run.exitCode
                         << run.err.substr(run.err.size() > 2000 ? run.err.size() - 2000 : 0);
    EXPECT_TRUE(TraceShows(trace, "准备升级MCU，请稍候..."));
    EXPECT_TRUE(TraceShows(trace, "正在升级MCU MCU-E2E-2，请不要断电！"));
    EXPECT_TRUE(TraceShows(trace, "MCU升级成功！"));
    EXPECT_FALSE(TraceShows(trace, "MPEG"));
    EXPECT_TRUE(ReadFile(out) == image) << ReadFile(out).size();
    EXPECT_EQ(root.Read("ResidentFlash2/RawData"), SimMcuRecordHead());
    EXPECT_EQ(root.Read("ResidentFlash2/UpdateInfo.dat"), std::string(4, '\0'));
    for (const char* line :
         {"Read MCU update file: 128k\r\n", "MCU Version:MCU-SIM-1.0\r\n", "MCU Date:240601\r\n",
          "S:5a a5 03 00 01 fc \r\n", "S:5a a5 02 17 e7 \r\n", "S:5a a5 02 14 ea \r\n"}) {
        EXPECT_NE(run.err.find(line), std::string::npos) << line;
    }
    EXPECT_FALSE(fs::exists(root.Path() / "app-started"));
}

TEST_F(FirmwareE2eTest, AnMpegOnlyUpdateClosesAndLaunches) {
    std::string image = Pattern(100000, 33);
    image.replace(48, 16, std::string("MPG-E2E-7") + std::string(7, '\0'));
    root.Put("SDHC/ZEL_Update/DVDROM.bin", image);
    fs::path out = root.Path() / "mpeg-received.bin";
    fs::path mcuLog = root.Path() / "mcu-sim.log";
    BackgroundProgram mcu(kSim, {"mcu", "--log", mcuLog.string()});
    BackgroundProgram mpeg(kSim, {"mpeg", "--image-out", out.string(), "--alive-ms", "5",
                                  "--flash-ms", "25", "--log", "/dev/null"});
    e2e::RunResult run = Boot(0x08, mcu.FirstLine(), mpeg.FirstLine());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    fs::path trace = root.Path() / "trace.txt";
    EXPECT_TRUE(TraceShows(trace, "正在升级MPEG MPG-E2E-7，请不要断电！"));
    EXPECT_TRUE(TraceShows(trace, "正在将数据写入Flash..."));
    EXPECT_TRUE(TraceShows(trace, "MPEG升级成功！"));
    EXPECT_FALSE(TraceShows(trace, "系统即将复位"));
    EXPECT_TRUE(ReadFile(out) == image) << ReadFile(out).size();
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
    EXPECT_FALSE(fs::exists(root.Path() / "ResidentFlash2/RawData"));
    for (const char* line : {"Read MPEG update file: 97k\r\n", "MPEG Ver:MPG-1.0\r\n",
                             "MPEG Thread Closed!\r\n", "MCU Thread Closed!\r\n"}) {
        EXPECT_NE(run.err.find(line), std::string::npos) << line;
    }
    // The MCU is told that the MPEG update runs (mode 8) and, after it, that it is over (0).
    std::string log = ReadFile(mcuLog);
    std::size_t on = log.find("MPEG_UPDATE_MODE: 5a a5 05 03 01 00 08 ef");
    std::size_t off = log.find("MPEG_UPDATE_MODE: 5a a5 05 03 01 00 00 f7");
    EXPECT_NE(on, std::string::npos);
    EXPECT_NE(off, std::string::npos);
    EXPECT_LT(on, off);
}

// An MCU that takes every block but never reports its programming result: the end frame
// goes 11 times, once a second, then the stage ends with success and the reset countdown.
TEST_F(FirmwareE2eTest, AnMcuWithoutAProgrammingResultIsWaitedForTenResends) {
    root.Put("SDHC/ZEL_Update/MCU", Pattern(131072, 41));
    fs::path mcuLog = root.Path() / "mcu-sim.log";
    BackgroundProgram mcu(kSim, {"mcu", "--ignore-code", "16", "--log", mcuLog.string()});
    root.Put("ResidentFlash2/UpdateInfo.dat", std::string("\x04\0\0\0", 4));
    fs::path trace = root.Path() / "trace.txt";
    bool stopped = false;
    e2e::RunResult run = e2e::RunProgramUntil(
        QUARRIN_BINARY,
        {"--root", root.Path().string(), "--com", "2=" + mcu.FirstLine(), "--clock-rate", "50",
         "--screen-trace", trace.string()},
        [&] { return TraceShows(trace, "系统即将复位，请拔出升级卡！(0)"); },
        std::chrono::seconds(20), &stopped);
    EXPECT_TRUE(stopped) << run.exitCode;
    EXPECT_TRUE(TraceShows(trace, "MCU升级成功！"));
    EXPECT_NE(run.err.find("MCU program result missing after 11 end frames\r\n"),
              std::string::npos);
    std::string log = ReadFile(mcuLog);
    std::size_t ends = 0;
    for (std::size_t at = log.find("ignoring END_PROGRAM"); at != std::string::npos;
         at = log.find("ignoring END_PROGRAM", at + 1)) {
        ++ends;
    }
    EXPECT_EQ(ends, 11u);
}

// The numbers of the pass-through frames a simulator received ("recv PASS_THROUGH #n: ...
// intact"); a damaged one counts as 0.
std::vector<unsigned> PassThroughNumbers(const std::string& log) {
    std::vector<unsigned> numbers;
    const std::string mark = "recv PASS_THROUGH #";
    for (std::size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1)) {
        std::size_t end = log.find('\n', at);
        std::string line = log.substr(at, end - at);
        bool intact = line.size() >= 6 && line.compare(line.size() - 6, 6, "intact") == 0;
        numbers.push_back(intact ? std::stoul(line.substr(mark.size())) : 0);
    }
    return numbers;
}

// Both co-processors send pass-through frames, two at a time and of every length up to 258
// bytes, while both stages run (the dialog sleeps in two of its reactions); the MCU sends
// status messages too. Each frame reaches the other side once, whole, in order.
TEST_F(FirmwareE2eTest, PassThroughFramesCrossOnceWholeAndInOrder) {
    root.Put("SDHC/ZEL_Update/MCU", Pattern(131072, 42));
    root.Put("SDHC/ZEL_Update/DVDROM.bin", Pattern(24000, 43));
    fs::path mcuLog = root.Path() / "mcu-sim.log";
    fs::path mpegLog = root.Path() / "mpeg-sim.log";
    BackgroundProgram mcu(kSim, {"mcu", "--pass-through-ms", "20", "--pass-through-burst", "2",
                                 "--status-ms", "30", "--log", mcuLog.string()});
    BackgroundProgram mpeg(
        kSim, {"mpeg", "--alive-ms", "5", "--flash-ms", "25", "--pass-through-ms", "20",
               "--pass-through-burst", "2", "--log", mpegLog.string()});
    root.Put("ResidentFlash2/UpdateInfo.dat", std::string("\x0c\0\0\0", 4));
    fs::path trace = root.Path() / "trace.txt";
    bool stopped = false;
    // Both transfers with two floods on the lines: a generous bound for a loaded machine.
    e2e::RunResult run = e2e::RunProgramUntil(
        QUARRIN_BINARY,
        {"--root", root.Path().string(), "--com", "2=" + mcu.FirstLine(), "--com",
         "3=" + mpeg.FirstLine(), "--clock-rate", "20", "--screen-trace", trace.string()},
        [&] { return TraceShows(trace, "系统即将复位，请拔出升级卡！(0)"); },
        std::chrono::seconds(120), &stopped);
    EXPECT_TRUE(stopped) << run.exitCode;
    mcu.Stop();
    mpeg.Stop();
    for (const fs::path& log : {mcuLog, mpegLog}) {
        SCOPED_TRACE(log.filename().string());
        std::vector<unsigned> numbers = PassThroughNumbers(ReadFile(log));
        ASSERT_GE(numbers.size(), 50u);
        for (std::size_t i = 1; i < numbers.size(); ++i)
            ASSERT_EQ(numbers[i], numbers[i - 1] + 1) << "frame " << i << " of " << numbers.size();
    }
    EXPECT_NE(ReadFile(mcuLog).find("recv STATUS_ACK"), std::string::npos);
}

// A COM port that cannot be opened (not mapped, not a terminal, a folder) fails its stage
// with its code: the dialog closes and the main application starts.
TEST_F(FirmwareE2eTest, AStageWhosePortCannotBeOpenedFailsAndLaunches) {
    root.Put("SDHC/ZEL_Update/MCU", Pattern(131072, 51));
    root.Put("SDHC/ZEL_Update/DVDROM.bin", Pattern(5000, 52));
    root.Put("not-a-port", "x");
    fs::create_directories(root.Path() / "a-folder");
    const std::vector<std::string> devices{"", "/dev/null", (root.Path() / "a-folder").string(),
                                           (root.Path() / "not-a-port").string()};
    int run = 0;
    for (unsigned request : {0x04u, 0x08u}) {
        for (const std::string& device : devices) {
            SCOPED_TRACE(std::to_string(request) + " on '" + device + "'");
            fs::remove(root.Path() / "app-started");
            root.Put("ResidentFlash2/UpdateInfo.dat",
                     std::string{static_cast<char>(request), 0, 0, 0});
            fs::path trace = root.Path() / ("trace-" + std::to_string(++run) + ".txt");
            std::vector<std::string> arguments{"--root", root.Path().string(), "--clock-rate",
                                               "20",     "--screen-trace",     trace.string()};
            if (!device.empty())
                arguments.insert(arguments.end(), {"--com", "2=" + device, "--com", "3=" + device});
            e2e::RunResult result =
                e2e::RunProgram(QUARRIN_BINARY, arguments, std::chrono::seconds(20));
            EXPECT_EQ(result.exitCode, 0) << result.err;
            EXPECT_TRUE(TraceShows(
                trace, request == 0x04 ? "MCU升级失败！错误码:34" : "MPEG升级失败！错误码:44"));
            EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
        }
    }
}

// A stage that fails shows its code, closes the dialog and starts the main application.
struct FailureCase {
    const char* name;
    unsigned request;
    std::size_t mcuSize;  // 0: an empty file; SIZE_MAX: none
    std::size_t mpegSize;
    std::vector<std::string> mcuOptions;
    std::vector<std::string> mpegOptions;
    const char* shown;
};

void PrintTo(const FailureCase& failure, std::ostream* os) {
    *os << failure.name;
}

class FirmwareFailureE2eTest : public FirmwareE2eTest,
                               public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FirmwareFailureE2eTest, ShowsItsCodeClosesAndLaunches) {
    const FailureCase& c = GetParam();
    if (c.mcuSize != SIZE_MAX)
        root.Put("SDHC/ZEL_Update/MCU", Pattern(c.mcuSize, 1));
    if (c.mpegSize != SIZE_MAX)
        root.Put("SDHC/ZEL_Update/DVDROM.bin", Pattern(c.mpegSize, 2));
    fs::path mcuOut = root.Path() / "mcu-received.bin";
    fs::path mpegOut = root.Path() / "mpeg-received.bin";
    std::vector<std::string> mcuArgs{"mcu", "--image-out", mcuOut.string(), "--log", "/dev/null"};
    std::vector<std::string> mpegArgs{"mpeg",       "--image-out", mpegOut.string(),
                                      "--alive-ms", "5",           "--flash-ms",
                                      "25",         "--log",       "/dev/null"};
    mcuArgs.insert(mcuArgs.end(), c.mcuOptions.begin(), c.mcuOptions.end());
    mpegArgs.insert(mpegArgs.end(), c.mpegOptions.begin(), c.mpegOptions.end());
    BackgroundProgram mcu(kSim, mcuArgs);
    BackgroundProgram mpeg(kSim, mpegArgs);
    e2e::RunResult run = Boot(c.request, mcu.FirstLine(), mpeg.FirstLine());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    fs::path trace = root.Path() / "trace.txt";
    EXPECT_TRUE(TraceShows(trace, c.shown));
    EXPECT_FALSE(TraceShows(trace, "升级成功"));
    EXPECT_FALSE(TraceShows(trace, "系统即将复位"));
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
}

INSTANTIATE_TEST_SUITE_P(
    Firmware, FirmwareFailureE2eTest,
    ::testing::Values(
        FailureCase{"McuProgrammingFails",
                    0x04,
                    131072,
                    SIZE_MAX,
                    {"--result", "40"},
                    {},
                    "MCU升级失败！错误码:32"},
        FailureCase{"McuImageEmpty", 0x04, 0, SIZE_MAX, {}, {}, "MCU升级失败！错误码:31"},
        FailureCase{"McuImageOf16Bytes", 0x04, 16, SIZE_MAX, {}, {}, "MCU升级失败！错误码:33"},
        FailureCase{"McuImageLongerThanTheMcusFlash",
                    0x04,
                    300000,
                    SIZE_MAX,
                    {},
                    {},
                    "MCU升级失败！错误码:33"},
        FailureCase{"NoMpegImageForAFirmwareRequest",
                    0x0C,
                    131072,
                    SIZE_MAX,
                    {"--result", "40"},
                    {},
                    "MPEG升级失败！错误码:43"},
        FailureCase{"MpegProgrammingFails",
                    0x08,
                    SIZE_MAX,
                    5000,
                    {},
                    {"--result", "3"},
                    "MPEG升级失败！错误码:40"},
        FailureCase{"MpegNeverAnswersTheStart",
                    0x08,
                    SIZE_MAX,
                    5000,
                    {},
                    {"--ignore-code", "24"},
                    "MPEG升级失败！错误码:41"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

}  // namespace
