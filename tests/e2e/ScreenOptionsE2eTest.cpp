// The screen options of the real binary: accepted on the direct-launch course, which shows
// nothing, and refused with a clear message when the screen cannot be set up.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/E2eSupport.h"

using e2e::DeviceRoot;
using e2e::RunQuarrin;

TEST(ScreenOptionsE2eTest, DirectLaunchPresentsNothing) {
    DeviceRoot root;
    root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", root.Path() / "app-started");
    auto shots = root.Path() / "shots";
    auto trace = root.Path() / "trace.txt";
    e2e::RunResult run =
        RunQuarrin({"--root", root.Path().string(), "--screen", "1024x600", "--screenshots",
                    shots.string(), "--screen-trace", trace.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(std::filesystem::is_directory(shots));
    EXPECT_TRUE(std::filesystem::is_empty(shots));
    EXPECT_EQ(root.Read("trace.txt"), "");
}

TEST(ScreenOptionsE2eTest, RefusesABadSizeOrAnUnwritableTrace) {
    DeviceRoot root;
    e2e::RunResult bad = RunQuarrin({"--root", root.Path().string(), "--screen", "800by480"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("--screen needs WIDTHxHEIGHT"), std::string::npos) << bad.err;
    auto trace = root.Path() / "no-such-folder" / "trace.txt";
    e2e::RunResult unwritable =
        RunQuarrin({"--root", root.Path().string(), "--screen-trace", trace.string()});
    EXPECT_EQ(unwritable.exitCode, 2);
    EXPECT_NE(unwritable.err.find("cannot open screen trace file"), std::string::npos);
}
