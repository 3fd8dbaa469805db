// The real binary updates firmware over hostile lines: the co-processor simulator loses,
// corrupts, repeats and reorders frames, acknowledges the wrong block, sends malformed frames
// (LEN 0, LEN 1, pass-through frames of 258 bytes, block acknowledgements without a number),
// asks for a block it cannot want, hangs up or stays silent. Whatever the line does, a
// transfer that reports success carries the exact image, the loader never crashes, and a
// line that can no longer carry the update ends the stage with its code.
#include <gtest/gtest.h>

#include <fstream>
#include <ostream>

#include "tests/support/E2eSupport.h"

namespace fs = std::filesystem;
using e2e::BackgroundProgram;
using e2e::ReadFile;
using e2e::TraceShows;

namespace {

using e2e::kSim;

enum class Kind { Mcu, Mpeg };
enum class Outcome {
    Exact,  // the update succeeds with the exact image
    Fails,  // the stage fails with `code`, the dialog closes, the main application starts
};

struct LineCase {
    const char* name;
    Kind kind;
    std::vector<std::string> faults;     // for the co-processor being updated
    std::vector<std::string> mcuFaults;  // for the MCU during an MPEG update
    Outcome outcome;
    int code = 0;  // with Fails
};

// Test names and failure messages show the case's name, not its bytes.
void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        // 0x5A and 0xA5 occur often, to tempt the deframer into false frames.
        bytes[i] = static_cast<char>(i % 7 == 0    ? 0x5A
                                     : i % 11 == 0 ? 0xA5
                                                   : (i * 29 + seed) & 0xFF);
    }
    return bytes;
}

class HostileLinkTest : public ::testing::TestWithParam<LineCase> {
protected:
    e2e::DeviceRoot root;
};

TEST_P(HostileLinkTest, ASuccessCarriesTheExactImage) {
    const LineCase& c = GetParam();
    bool mcu = c.kind == Kind::Mcu;
    root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", root.Path() / "app-started");
    std::string image = mcu ? Pattern(131072, 3) : Pattern(24000, 5);
    root.Put(mcu ? "SDHC/ZEL_Update/MCU" : "SDHC/ZEL_Update/DVDROM.bin", image);
    root.Put("ResidentFlash2/UpdateInfo.dat", std::string{mcu ? '\x04' : '\x08', 0, 0, 0});
    fs::path out = root.Path() / "received.bin";
    fs::path mpegLog = root.Path() / "mpeg-sim.log";
    std::vector<std::string> mcuArgs{"mcu", "--log", "/dev/null"};
    std::vector<std::string> mpegArgs{"mpeg",  "--alive-ms",    "5", "--flash-ms", "25",
                                      "--log", mpegLog.string()};
    std::vector<std::string>& target = mcu ? mcuArgs : mpegArgs;
    target.insert(target.end(), {"--image-out", out.string()});
    target.insert(target.end(), c.faults.begin(), c.faults.end());
    mcuArgs.insert(mcuArgs.end(), c.mcuFaults.begin(), c.mcuFaults.end());
    BackgroundProgram mcuSim(kSim, mcuArgs);
    BackgroundProgram mpegSim(kSim, mpegArgs);
    ASSERT_FALSE(mcuSim.FirstLine().empty());
    ASSERT_FALSE(mpegSim.FirstLine().empty());

    fs::path trace = root.Path() / "trace.txt";
    const std::string success = mcu ? "MCU升级成功！" : "MPEG升级成功！";
    bool stopped = false;
    e2e::RunResult run = e2e::RunProgramUntil(
        QUARRIN_BINARY,
        {"--root", root.Path().string(), "--com", "2=" + mcuSim.FirstLine(), "--com",
         "3=" + mpegSim.FirstLine(), "--clock-rate", "50", "--screen-trace", trace.string()},
        // A good MCU stage stays on the reset countdown; the unit would be reset there.
        [&] { return mcu && TraceShows(trace, "系统即将复位，请拔出升级卡！(0)"); },
        std::chrono::seconds(30), &stopped);

    bool shownSuccess = TraceShows(trace, success);
    if (shownSuccess) {
        EXPECT_TRUE(ReadFile(out) == image) << "success shown with a wrong image";
    }
    if (c.outcome == Outcome::Exact) {
        EXPECT_TRUE(shownSuccess) << run.err.substr(run.err.size() > 3000 ? run.err.size() - 3000
                                                                          : 0);
        if (mcu) {
            EXPECT_TRUE(stopped) << run.exitCode;
        } else {
            EXPECT_EQ(run.exitCode, 0);
            EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
        }
    } else {
        EXPECT_FALSE(shownSuccess);
        std::string failure = mcu ? "MCU升级失败！错误码:" : "MPEG升级失败！错误码:";
        EXPECT_TRUE(TraceShows(trace, failure + std::to_string(c.code)));
        EXPECT_EQ(run.exitCode, 0) << "the loader should end by itself";
        EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
        EXPECT_FALSE(fs::exists(out));
    }
    // Pass-through frames, the longest (258 bytes) included, reach the other side whole.
    EXPECT_EQ(ReadFile(mpegLog).find("DAMAGED"), std::string::npos);
}

std::vector<std::string> Fault(const char* option, const char* value) {
    return {option, value};
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HostileLinkTest,
    ::testing::Values(
        LineCase{
            "McuLosesAcknowledgements", Kind::Mcu, Fault("--drop-every", "37"), {}, Outcome::Exact},
        LineCase{"McuLosesBlocks", Kind::Mcu, Fault("--drop-in-every", "41"), {}, Outcome::Exact},
        LineCase{
            "McuCorruptsChecksums", Kind::Mcu, Fault("--corrupt-every", "29"), {}, Outcome::Exact},
        LineCase{
            "McuRepeatsFrames", Kind::Mcu, Fault("--duplicate-every", "13"), {}, Outcome::Exact},
        LineCase{
            "McuReordersFrames", Kind::Mcu, Fault("--reorder-every", "17"), {}, Outcome::Exact},
        LineCase{"McuAcknowledgesTheWrongBlock",
                 Kind::Mcu,
                 Fault("--wrong-ack-every", "19"),
                 {},
                 Outcome::Exact},
        LineCase{
            "McuSendsMalformedFrames", Kind::Mcu, Fault("--junk-every", "3"), {}, Outcome::Exact},
        LineCase{"McuStaysSilent", Kind::Mcu, {"--silent"}, {}, Outcome::Fails, 35},
        LineCase{"McuHangsUp", Kind::Mcu, Fault("--hang-up-at", "300"), {}, Outcome::Fails, 34},
        LineCase{"MpegLosesAcknowledgements",
                 Kind::Mpeg,
                 Fault("--drop-every", "13"),
                 {},
                 Outcome::Exact},
        LineCase{"MpegLosesBlocks", Kind::Mpeg, Fault("--drop-in-every", "11"), {}, Outcome::Exact},
        LineCase{"MpegCorruptsChecksums",
                 Kind::Mpeg,
                 Fault("--corrupt-every", "11"),
                 {},
                 Outcome::Exact},
        LineCase{
            "MpegRepeatsFrames", Kind::Mpeg, Fault("--duplicate-every", "5"), {}, Outcome::Exact},
        LineCase{
            "MpegReordersFrames", Kind::Mpeg, Fault("--reorder-every", "7"), {}, Outcome::Exact},
        LineCase{"MpegAsksForABlockAgain",
                 Kind::Mpeg,
                 Fault("--wrong-ack-every", "6"),
                 {},
                 Outcome::Exact},
        LineCase{"BothSendMalformedFrames", Kind::Mpeg, Fault("--junk-every", "2"),
                 Fault("--junk-every", "1"), Outcome::Exact},
        LineCase{"MpegAsksForABlockNotSentYet",
                 Kind::Mpeg,
                 Fault("--skip-to", "100"),
                 {},
                 Outcome::Exact},
        LineCase{"MpegHangsUp", Kind::Mpeg, Fault("--hang-up-at", "40"), {}, Outcome::Fails, 44},
        LineCase{"MpegStaysSilent", Kind::Mpeg, {"--silent"}, {}, Outcome::Fails, 45}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return info.param.name; });

}  // namespace
