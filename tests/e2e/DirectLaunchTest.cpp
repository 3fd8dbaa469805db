// The real binary on the host platform: the direct-launch course and the command line.
#include <gtest/gtest.h>

#include "tests/support/E2eSupport.h"

using e2e::DeviceRoot;
using e2e::RunQuarrin;

namespace {

const char kBanner[] = "Quarrin 2.0.0.24(50 times timeout) starting......";

TEST(DirectLaunchTest, StartsTheInstalledApplication) {
    DeviceRoot root;
    auto marker = root.Path() / "app-started";
    root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", marker);
    auto log = root.Path() / "run.log";
    e2e::RunResult run = RunQuarrin({"--root", root.Path().string(), "--log", log.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> lines = e2e::SplitCrLfLines(run.err);
    ASSERT_EQ(lines.size(), 6u) << run.err;
    EXPECT_EQ(lines[0], kBanner);
    EXPECT_EQ(lines[1], "MCU-COM2-DisableCalitration");
    EXPECT_EQ(lines[2], "ZEL Exist!");
    // "Detect SystemFile Well:<n>ms" with a decimal n.
    const std::string prefix = "Detect SystemFile Well:";
    ASSERT_EQ(lines[3].rfind(prefix, 0), 0u) << lines[3];
    std::string millis = lines[3].substr(prefix.size());
    ASSERT_GE(millis.size(), 3u);
    EXPECT_EQ(millis.substr(millis.size() - 2), "ms");
    EXPECT_EQ(millis.find_first_not_of("0123456789"), millis.size() - 2) << lines[3];
    EXPECT_EQ(lines[4], "CP OK!");
    EXPECT_EQ(lines[5], "Quarrin quit!");
    EXPECT_EQ(run.err.substr(run.err.size() - 2), "\r\n");
    EXPECT_EQ(root.Read("run.log"), run.err);
    EXPECT_TRUE(e2e::WaitForFile(marker));
}

TEST(DirectLaunchTest, TheMarkerFileStartsTheShell) {
    DeviceRoot root;
    root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", root.Path() / "app-started");
    root.PutProgram("Windows/explorer.exe", root.Path() / "shell-started");
    root.Put("ResidentFlash3/gotoeee", "");
    e2e::RunResult run = RunQuarrin({"--root", root.Path().string()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err.find("CP"), std::string::npos);
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "shell-started"));
    EXPECT_FALSE(std::filesystem::exists(root.Path() / "app-started"));
}

TEST(DirectLaunchTest, AMissingApplicationFallsBackToTheShell) {
    DeviceRoot root;
    root.Put("ResidentFlash2/UpdateInfo.dat", std::string(4, '\0'));
    root.PutProgram("Windows/explorer.exe", root.Path() / "shell-started");
    e2e::RunResult run = RunQuarrin({"--root", root.Path().string()});
    EXPECT_NE(run.err.find("CP Failed!Error Code:3\r\n"), std::string::npos) << run.err;
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "shell-started"));
}

TEST(DirectLaunchTest, AProgramThatCannotRunIsReportedAndNothingStarts) {
    DeviceRoot root;
    root.Put("ResidentFlash3/ZEL/Velmoran.exe", "not a program");
    root.PutProgram("Windows/explorer.exe", root.Path() / "shell-started");
    e2e::RunResult run = RunQuarrin({"--root", root.Path().string()});
    EXPECT_NE(run.err.find("CP Failed!Error Code:193\r\n"), std::string::npos) << run.err;
    EXPECT_EQ(run.exitCode, 0);
}

TEST(CommandLineE2eTest, HelpVersionAndBadInput) {
    e2e::RunResult version = RunQuarrin({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "quarrin 2.0.0.24\n");
    e2e::RunResult help = RunQuarrin({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--root DIR"), std::string::npos);
    e2e::RunResult bogus = RunQuarrin({"--frobnicate"});
    EXPECT_EQ(bogus.exitCode, 2);
    EXPECT_EQ(bogus.err.rfind("quarrin: unknown option '--frobnicate'\nusage:", 0), 0u);
    e2e::RunResult missing = RunQuarrin({"--root", "/nonexistent/device"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("is not a folder"), std::string::npos);
}

// Rates past what the clock carries are refused; the fastest accepted one runs the 20 s
// detection countdown to its end in a moment.
TEST(CommandLineE2eTest, TheClockRateStaysWithinWhatTheClockCarries) {
    for (const char* rate : {"1e300", "1e-300", "0"}) {
        e2e::RunResult run = RunQuarrin({"--root", "/nonexistent", "--clock-rate", rate});
        EXPECT_EQ(run.exitCode, 2) << rate;
        EXPECT_EQ(run.err.rfind("quarrin: --clock-rate needs a number from 0.001 to 1000000", 0),
                  0u)
            << run.err;
    }
    DeviceRoot root;
    root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", root.Path() / "app-started");
    root.Put("ResidentFlash2/UpdateInfo.dat", std::string("\x02\0\0\0", 4));
    e2e::RunResult run =
        RunQuarrin({"--root", root.Path().string(), "--clock-rate", "1000000", "--progress"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("detecting update files 20\n"), std::string::npos) << run.out;
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
}

}  // namespace
