// The real binary heals a unit by itself at the next start: a navigation update cut by a
// power failure is done again, and a main application that is gone is restored from the
// backup package.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "tests/reliability/ReliabilitySupport.h"
#include "tests/support/DeviceLayout.h"

namespace fs = std::filesystem;
using reliability::Entry;

namespace {

using testsupport::kWordZero;

struct Start {
    e2e::RunResult run;
    std::vector<std::string> texts;
    bool Shown(const std::string& start) const {
        for (const auto& text : texts) {
            if (text.rfind(start, 0) == 0)
                return true;
        }
        return false;
    }
};

// A start of the unit as it is: the update record is left as the previous start left it.
Start StartUnit(e2e::DeviceRoot& root) {
    fs::path trace = root.Path().string() + "-trace";
    Start start;
    start.run = e2e::RunQuarrin(
        {"--root", root.Path().string(), "--screen-trace", trace.string(), "--clock-rate", "200"});
    std::ifstream in(trace);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("TEXT ", 0) == 0)
            start.texts.push_back(line.substr(line.find(' ', 5) + 1));
    }
    fs::remove(trace);
    return start;
}

class NaviPowerCutTest : public ::testing::Test {
protected:
    void SetUp() override {
        reliability::LayOutDevice(root);
        root.Put("Storage Card/old/map.dat", "old map");
        for (const char* name : {"maps/a.map", "maps/b.map", "voice/zh.wav"})
            root.Put(std::string("硬盘/navi_update/") + name, std::string(3000, name[6]));
        root.Put("ResidentFlash2/UpdateInfo.dat", std::string("\x40\0\0\0", 4));
    }
    void TearDown() override {
        unsetenv("QUARRIN_POWER_CUT");
        unsetenv("QUARRIN_COUNT_MUTATIONS");
    }
    // The index of the first mutating operation of a clean run that mentions `what`.
    std::string IndexOf(const std::string& what) {
        fs::path copy = root.Path().string() + "-count";
        fs::copy(root.Path(), copy, fs::copy_options::recursive);
        fs::path list = copy.string() + ".ops";
        setenv("QUARRIN_COUNT_MUTATIONS", list.c_str(), 1);
        EXPECT_EQ(e2e::RunQuarrin({"--root", copy.string(), "--clock-rate", "200"}).exitCode, 0);
        unsetenv("QUARRIN_COUNT_MUTATIONS");
        std::ifstream in(list);
        std::string found;
        for (std::string line; found.empty() && std::getline(in, line);) {
            if (line.find(what) != std::string::npos)
                found = line.substr(0, line.find(' '));
        }
        fs::remove_all(copy);
        fs::remove(list);
        EXPECT_FALSE(found.empty()) << "no operation " << what;
        return found;
    }
    // Cuts the power once the card's old content is gone and one map is on it again.
    void CutDuringTheCardRewrite() {
        std::string cut = IndexOf("Copy(3000) Storage Card\\maps\\b.map");
        setenv("QUARRIN_POWER_CUT", cut.c_str(), 1);
        e2e::RunResult run = StartUnit(root).run;
        unsetenv("QUARRIN_POWER_CUT");
        ASSERT_EQ(run.exitCode, 99) << run.err;
        ASSERT_FALSE(fs::exists(root.Path() / "Storage Card/maps/b.map"));
        ASSERT_FALSE(fs::exists(root.Path() / "Storage Card/old"));
    }
    e2e::DeviceRoot root;
};

TEST_F(NaviPowerCutTest, AStartWithTheMediumDoesTheUpdateAgain) {
    CutDuringTheCardRewrite();
    Start again = StartUnit(root);
    ASSERT_EQ(again.run.exitCode, 0) << again.run.err;
    EXPECT_TRUE(again.Shown("导航升级成功！"));
    for (const char* name : {"maps/a.map", "maps/b.map", "voice/zh.wav"}) {
        EXPECT_EQ(root.Read(std::string("Storage Card/") + name), std::string(3000, name[6]))
            << name;
    }
    EXPECT_EQ(root.Read("ResidentFlash2/UpdateInfo.dat"), kWordZero);
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
    Start plain = StartUnit(root);
    EXPECT_NE(plain.run.err.find("Detect SystemFile Well:"), std::string::npos) << "done once";
}

TEST_F(NaviPowerCutTest, AStartWithoutTheMediumSearchesThenStartsTheApplication) {
    CutDuringTheCardRewrite();
    fs::remove_all(root.Path() / "硬盘/navi_update");
    Start again = StartUnit(root);
    ASSERT_EQ(again.run.exitCode, 0) << again.run.err;
    EXPECT_TRUE(again.Shown("正在检测升级文件......(1)"));
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
    EXPECT_EQ(root.Read("ResidentFlash2/UpdateInfo.dat"), kWordZero) << "asked for at one start";
}

class RestoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        reliability::LayOutDevice(root);
        fs::remove_all(root.Path() / "ResidentFlash3/ZEL");
        root.Put("ResidentFlash2/UpdateInfo.dat", kWordZero);
        root.Put("ResidentFlash2/UserConfig.dat", "settings");
    }
    // The backup of an application whose program records its start in "restored-started".
    std::string Backup() {
        return reliability::BuildPackage(
            {{Entry::Folder, "ZEL", ""},
             {Entry::File, "ZEL/Velmoran.exe",
              "#!/bin/sh\ntouch \"$(dirname \"$0\")/../../restored-started\"\n"},
             {Entry::File, "ZEL/res/strings.dat", Noise()}},
            "V5.0");
    }
    // Bytes that do not compress, so that a package cut in half ends inside this file.
    static std::string Noise() {
        std::string bytes(600000, '\0');
        unsigned state = 12345;
        for (char& byte : bytes) {
            state = state * 1103515245u + 12345u;
            byte = static_cast<char>(state >> 16);
        }
        return bytes;
    }
    e2e::DeviceRoot root;
};

TEST_F(RestoreTest, AGoodBackupRestoresAndStartsTheApplication) {
    root.Put("ResidentFlash/ZEL.bin", Backup());
    Start start = StartUnit(root);
    ASSERT_EQ(start.run.exitCode, 0) << start.run.err;
    EXPECT_NE(start.run.err.find("Detect SystemFile Damaged:"), std::string::npos);
    EXPECT_TRUE(start.Shown("准备恢复应用程序，请稍候..."));
    EXPECT_TRUE(start.Shown("应用程序恢复成功！"));
    EXPECT_NE(start.run.err.find("CP OK!\r\n"), std::string::npos) << start.run.err;
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "restored-started"));
    EXPECT_EQ(root.Read("ResidentFlash3/ZEL/res/strings.dat"), Noise());
    EXPECT_EQ(root.Read("ResidentFlash/ZEL.bin"), Backup());
    EXPECT_EQ(root.Read("ResidentFlash2/UpdateInfo.dat"), kWordZero);
    EXPECT_FALSE(fs::exists(root.Path() / "ResidentFlash2/UserConfig.dat"));
}

// Each start ends in the shell: the failing restore, then the search for a medium that its
// retry word asks for, then the restore again. The backup is cut in half, after the program.
TEST_F(RestoreTest, ADamagedBackupFailsEachTimeAndTheShellStarts) {
    std::string backup = Backup();
    root.Put("ResidentFlash/ZEL.bin", backup.substr(0, backup.size() / 2));
    for (int round = 0; round < 2; ++round) {
        Start restore = StartUnit(root);
        ASSERT_EQ(restore.run.exitCode, 0) << restore.run.err;
        EXPECT_TRUE(restore.Shown("应用程序恢复失败！错误码:100")) << restore.run.err;
        EXPECT_NE(restore.run.err.find("CP Failed!Error Code:3\r\n"), std::string::npos);
        EXPECT_TRUE(e2e::WaitForFile(root.Path() / "shell-started"));
        EXPECT_FALSE(fs::exists(root.Path() / "ResidentFlash3/ZEL"));
        EXPECT_EQ(root.Read("ResidentFlash2/UpdateInfo.dat"), std::string("\x02\0\0\0", 4));
        fs::remove(root.Path() / "shell-started");

        Start search = StartUnit(root);
        EXPECT_TRUE(search.Shown("正在检测升级文件......(20)"));
        EXPECT_TRUE(e2e::WaitForFile(root.Path() / "shell-started"));
        EXPECT_EQ(root.Read("ResidentFlash2/UpdateInfo.dat"), kWordZero);
        fs::remove(root.Path() / "shell-started");
    }
}

TEST_F(RestoreTest, WithoutABackupTheShellStartsAtOnce) {
    Start start = StartUnit(root);
    EXPECT_NE(start.run.err.find("Detect SystemFile Well:"), std::string::npos) << start.run.err;
    EXPECT_NE(start.run.err.find("CP Failed!Error Code:3\r\n"), std::string::npos);
    EXPECT_TRUE(start.texts.empty()) << "no dialog";
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "shell-started"));
    EXPECT_EQ(root.Read("ResidentFlash2/UserConfig.dat"), "settings");
}

}  // namespace
