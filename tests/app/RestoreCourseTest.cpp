// A unit that lost its main application restores it from the backup package, over several
// starts on the virtual clock: the real start-up, dialog, worker and decompression library.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "app/QuarrinApp.h"
#include "dialog/UpdateDialog.h"
#include "plan/SourceRoots.h"
#include "platform/kernel/Kernel.h"
#include "platform/sim/SimPlatform.h"
#include "tests/support/DeviceLayout.h"
#include "tests/support/PackageTestSupport.h"
#include "tests/support/ProcessState.h"

using quarrin::platform::SimPlatform;

namespace {

using namespace testsupport;

std::string Noise(std::size_t size) {
    std::mt19937 random(7);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

struct Boot {
    std::vector<std::wstring> lines;     // debug lines of this start
    std::vector<std::wstring> launched;  // programs started
    std::vector<std::string> texts;      // texts drawn
    std::uint64_t ms = 0;                // virtual time the start took
    bool Logged(const std::wstring& prefix) const {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::wstring& line) { return line.rfind(prefix, 0) == 0; });
    }
    bool Shows(const std::string& prefix) const {
        return std::any_of(texts.begin(), texts.end(),
                           [&](const std::string& text) { return text.rfind(prefix, 0) == 0; });
    }
};

class RestoreCourseTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim.PutFile(kShell, "shell");
        sim.PutFile(kRecord, kWordZero);
        sim.PutDirectory(L"ResidentFlash3");
        InstallZCompress(sim);
    }
    void PutBackup(std::vector<PackageEntry> entries) {
        PutPackage(sim, kBackup, entries, "ZEL-OKUN-1", "V7.7");
    }
    // One start of the unit: a new process on the device, so the process state starts anew.
    Boot Start() {
        testsupport::ResetProcessState();
        std::size_t lines = sim.DebugLines().size();
        std::size_t launches = sim.Launches().size();
        std::size_t trace = sim.ScreenTrace().size();
        std::uint64_t begin = sim.NowMs();
        CQuarrinApp app;
        app.InitInstance();
        quarrin::kernel::TerminateAllThreads();
        Boot boot;
        boot.ms = sim.NowMs() - begin;
        auto allLines = sim.DebugLines();
        boot.lines.assign(allLines.begin() + static_cast<long>(lines), allLines.end());
        auto allLaunches = sim.Launches();
        for (std::size_t i = launches; i < allLaunches.size(); ++i)
            boot.launched.push_back(allLaunches[i].devicePath);
        auto allTrace = sim.ScreenTrace();
        for (std::size_t i = trace; i < allTrace.size(); ++i) {
            if (allTrace[i].rfind("TEXT ", 0) == 0)
                boot.texts.push_back(allTrace[i].substr(allTrace[i].find(' ', 5) + 1));
        }
        return boot;
    }

    SimPlatform sim;
};

TEST_F(RestoreCourseTest, AGoodBackupBringsTheApplicationBackAndTheNextStartIsPlain) {
    PutBackup({Folder("ZEL"), File("ZEL/Velmoran.exe", "restored"), File("ZEL/res/a.dat", "a")});
    std::string backup = sim.FileBytes(kBackup);
    Boot restore = Start();
    EXPECT_TRUE(restore.Logged(L"Detect SystemFile Damaged:")) << "no medium is needed";
    EXPECT_TRUE(restore.Shows("正在恢复应用程序 V7.7，请不要断电！"));
    EXPECT_TRUE(restore.Shows("应用程序恢复成功！"));
    EXPECT_EQ(restore.launched, std::vector<std::wstring>{kApp});
    EXPECT_EQ(sim.FileBytes(kApp), "restored");
    EXPECT_EQ(sim.FileBytes(L"ResidentFlash3\\ZEL\\res\\a.dat"), "a");
    EXPECT_EQ(sim.FileBytes(kBackup), backup) << "the backup stays as it was";
    EXPECT_EQ(sim.FileBytes(kRecord), kWordZero);

    Boot plain = Start();
    EXPECT_TRUE(plain.Logged(L"Detect SystemFile Well:"));
    EXPECT_EQ(plain.launched, std::vector<std::wstring>{kApp});
}

// A unit whose record is gone too restores all the same, without waiting for a medium, and
// keeps the record from then on.
TEST_F(RestoreCourseTest, WithoutRecordAGoodBackupBringsTheApplicationBack) {
    PutBackup({Folder("ZEL"), File("ZEL/Velmoran.exe", "restored")});
    DeleteFileW(kRecord);
    Boot restore = Start();
    EXPECT_TRUE(restore.Logged(L"ZEL Not Exist!"));
    EXPECT_TRUE(restore.Logged(L"Detect SystemFile Damaged:"));
    EXPECT_FALSE(restore.Shows("正在检测升级文件")) << "no countdown for media";
    EXPECT_TRUE(restore.Shows("应用程序恢复成功！"));
    EXPECT_EQ(restore.launched, std::vector<std::wstring>{kApp});
    EXPECT_EQ(sim.FileBytes(kRecord), kWordZero);
}

// An empty program (a copy that failed) cannot start: the backup replaces the whole folder.
TEST_F(RestoreCourseTest, AProgramThatCannotStartIsRestoredWithItsFolder) {
    PutBackup({Folder("ZEL"), File("ZEL/Velmoran.exe", "restored")});
    sim.PutFile(kApp, "");
    sim.PutFile(L"ResidentFlash3\\ZEL\\stale.dat", "left over");
    Boot restore = Start();
    EXPECT_TRUE(restore.Logged(L"Detect SystemFile Damaged:"));
    EXPECT_TRUE(restore.Shows("应用程序恢复成功！"));
    EXPECT_EQ(sim.FileBytes(kApp), "restored");
    EXPECT_FALSE(sim.Exists(L"ResidentFlash3\\ZEL\\stale.dat"));
    EXPECT_TRUE(Start().Logged(L"Detect SystemFile Well:"));
}

// A damaged backup fails every restore. No start may hang on it: each ends by starting the
// shell, a failing restore costs a few seconds, and the retry it asks for (word 2) costs the
// next start the 20-second search for a medium, after which the restore is tried again.
TEST_F(RestoreCourseTest, ADamagedBackupNeverKeepsTheUnitFromStarting) {
    const std::string program = "#!/bin/sh\n";
    PutBackup(
        {Folder("ZEL"), File("ZEL/Velmoran.exe", program), File("ZEL/res/map.dat", Noise(600000))});
    std::string whole = sim.FileBytes(kBackup);
    for (const std::string& damaged : {whole.substr(0, whole.size() / 2), std::string()}) {
        SCOPED_TRACE(damaged.empty() ? "empty backup" : "backup cut in half");
        sim.PutFile(kBackup, damaged);
        for (int round = 0; round < 2; ++round) {
            Boot restore = Start();
            EXPECT_TRUE(restore.Logged(L"Detect SystemFile Damaged:"));
            EXPECT_TRUE(restore.Shows("应用程序恢复失败！错误码:100"));
            EXPECT_EQ(restore.launched, std::vector<std::wstring>{kShell});
            EXPECT_FALSE(sim.Exists(L"ResidentFlash3\\ZEL")) << "no half application is left";
            EXPECT_EQ(sim.FileBytes(kRecord), kWordTwo);
            EXPECT_LE(restore.ms, 3500u);

            Boot search = Start();
            EXPECT_TRUE(search.Shows("正在检测升级文件......(20)"));
            EXPECT_EQ(search.launched, std::vector<std::wstring>{kShell});
            EXPECT_EQ(sim.FileBytes(kRecord), kWordZero);
            EXPECT_EQ(sim.FileBytes(kBackup), damaged) << "the backup is left for a later look";
        }
    }
}

}  // namespace
