// The real binary runs the update dialog: detection countdown, screens and shutdown.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/support/E2eSupport.h"

using e2e::DeviceRoot;

namespace {

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(UpdateCourseTest, WithoutAMediumTheCountdownEndsInTheMainApplication) {
    DeviceRoot root;
    root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", root.Path() / "app-started");
    root.Put("ResidentFlash2/UpdateInfo.dat", std::string("\x04\0\0\0", 4));
    auto trace = root.Path() / "screen.txt";
    auto shots = root.Path() / "shots";
    e2e::RunResult run =
        e2e::RunQuarrin({"--root", root.Path().string(), "--screen-trace", trace.string(),
                         "--screenshots", shots.string(), "--clock-rate", "10"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> countdown;
    int presents = 0;
    for (const std::string& line : ReadLines(trace)) {
        if (line.find("正在检测升级文件") != std::string::npos)
            countdown.push_back(line);
        if (line.rfind("PRESENT ", 0) == 0)
            ++presents;
    }
    ASSERT_EQ(countdown.size(), 20u);
    EXPECT_EQ(countdown.front(), "TEXT 0,200,800,400 正在检测升级文件......(20)\\r\\n");
    EXPECT_EQ(countdown.back(), "TEXT 0,200,800,400 正在检测升级文件......(1)\\r\\n");
    EXPECT_EQ(presents, 20);
    EXPECT_TRUE(std::filesystem::exists(shots / "00020.png"));
    EXPECT_FALSE(std::filesystem::exists(shots / "00021.png"));
    std::vector<std::string> lines = e2e::SplitCrLfLines(run.err);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[2], "Quarrin Release Object...");
    EXPECT_EQ(lines[3], "CP OK!");
    EXPECT_EQ(lines[4], "Quarrin Quit!");
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
    EXPECT_EQ(root.Read("ResidentFlash2/UpdateInfo.dat"), std::string(4, '\0'));
}

}  // namespace
