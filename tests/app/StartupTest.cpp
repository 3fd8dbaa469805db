// The start-up course: the launch decision, the update record and the launch itself.
#include <gtest/gtest.h>

#include "app/QuarrinApp.h"
#include "platform/sim/SimPlatform.h"
#include "tests/support/DeviceLayout.h"
#include "tests/support/ProcessState.h"

using quarrin::platform::SimPlatform;

namespace {

const wchar_t kBanner[] = L"Quarrin 2.0.0.24(50 times timeout) starting......\r\n";
const wchar_t kConfig[] = L"MCU-COM2-DisableCalitration\r\n";
using testsupport::kApp;
using testsupport::kShell;
using testsupport::Word;

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ResetProcessState();
        sim.PutFile(kShell, "shell");
    }
    void InstallApplication() { sim.PutFile(kApp, "#!/bin/sh\n"); }
    void PutUserFiles() {
        for (auto* path : {L"ResidentFlash2\\UserConfig.dat", L"ResidentFlash2\\ZELSDBookMark.dat",
                           L"ResidentFlash2\\ZELUSBBookMark.dat", L"ResidentFlash4\\bt_conf.ini",
                           L"ResidentFlash2\\UiData.xml"}) {
            sim.PutFile(path, "user");
        }
    }
    int UserFilesLeft() {
        int left = 0;
        for (auto* path : {L"ResidentFlash2\\UserConfig.dat", L"ResidentFlash2\\ZELSDBookMark.dat",
                           L"ResidentFlash2\\ZELUSBBookMark.dat", L"ResidentFlash4\\bt_conf.ini",
                           L"ResidentFlash2\\UiData.xml"}) {
            left += sim.Exists(path) ? 1 : 0;
        }
        return left;
    }
    std::vector<std::wstring> Run() {
        CQuarrinApp app;
        EXPECT_EQ(RunWinApp(app), 0);
        return sim.DebugLines();
    }
    std::vector<std::wstring> LaunchedPaths() {
        std::vector<std::wstring> paths;
        for (auto& launch : sim.Launches())
            paths.push_back(launch.devicePath);
        return paths;
    }

    SimPlatform sim;
};

TEST_F(StartupTest, WithoutRecordTheInstalledApplicationStartsAtOnce) {
    InstallApplication();
    HWND taskBar = sim.AddTaskBar();
    ASSERT_NE(taskBar, nullptr);
    std::vector<std::wstring> expected{kBanner,           kConfig,
                                       L"ZEL Exist!\r\n", L"Detect SystemFile Well:0ms\r\n",
                                       L"CP OK!\r\n",     L"Quarrin quit!\r\n"};
    EXPECT_EQ(Run(), expected);
    ASSERT_EQ(sim.Launches().size(), 1u);
    EXPECT_EQ(sim.Launches()[0].devicePath, kApp);
    EXPECT_EQ(sim.Launches()[0].creationFlags, CREATE_NEW_CONSOLE);
    EXPECT_TRUE(sim.TaskBarCommands().empty());
    EXPECT_FALSE(sim.Exists(L"ResidentFlash2\\UpdateInfo.dat"));
}

TEST_F(StartupTest, TheServiceMarkerStartsTheShellSilently) {
    InstallApplication();
    sim.PutFile(L"ResidentFlash3\\gotoeee", "");
    std::vector<std::wstring> lines = Run();
    EXPECT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines.back(), L"Quarrin quit!\r\n");
    EXPECT_EQ(LaunchedPaths(), std::vector<std::wstring>{kShell});
    EXPECT_EQ(sim.Launches()[0].creationFlags, 0u);
}

TEST_F(StartupTest, LaunchFailuresFallBackToTheShellOnlyForMissingFiles) {
    // The folder exists but not the program: 2, then the shell.
    sim.PutFile(L"ResidentFlash2\\UpdateInfo.dat", Word(0));
    sim.PutDirectory(L"ResidentFlash3\\ZEL");
    std::vector<std::wstring> lines = Run();
    EXPECT_EQ(lines[2], L"Detect SystemFile Well:0ms\r\n");
    EXPECT_EQ(lines[3], L"CP Failed!Error Code:2\r\n");
    EXPECT_EQ(LaunchedPaths(), std::vector<std::wstring>{kShell});
}

TEST_F(StartupTest, AMissingApplicationFolderGivesThreeAndTheShell) {
    sim.PutFile(L"ResidentFlash2\\UpdateInfo.dat", Word(0));
    std::vector<std::wstring> lines = Run();
    EXPECT_EQ(lines[3], L"CP Failed!Error Code:3\r\n");
    EXPECT_EQ(LaunchedPaths(), std::vector<std::wstring>{kShell});
}

TEST_F(StartupTest, OtherLaunchFailuresStartNothing) {
    InstallApplication();
    sim.FailNextLaunch(ERROR_NOT_ENOUGH_MEMORY);
    std::vector<std::wstring> lines = Run();
    EXPECT_EQ(lines[4], L"CP Failed!Error Code:8\r\n");
    EXPECT_EQ(lines[5], L"Quarrin quit!\r\n");
    EXPECT_TRUE(sim.Launches().empty());
}

TEST_F(StartupTest, RecordWordsAreConsumedAsDescribed) {
    struct Case {
        std::string before;
        std::string after;
        bool updateCourse;
    };
    const Case cases[] = {
        {Word(1), Word(0), false},                    // 1 means nothing
        {Word(0), Word(0), false},                    // 0 is left alone
        {std::string("\x02\x00", 2), Word(0), true},  // short file: high bytes 0
        {std::string("\x01", 1), std::string(4, '\0'), false},
        {Word(0x40) + "tail", Word(0) + "tail", true},  // only 4 bytes rewritten
        {"", "", false},                                // empty: word 0, not written
    };
    for (const Case& c : cases) {
        SimPlatform fresh;
        fresh.PutFile(kApp, "");
        fresh.PutFile(L"ResidentFlash2\\UpdateInfo.dat", c.before);
        CQuarrinApp app;
        app.InitInstance();
        EXPECT_EQ(fresh.FileBytes(L"ResidentFlash2\\UpdateInfo.dat"), c.after);
        std::vector<std::wstring> lines = fresh.DebugLines();
        EXPECT_EQ(lines.back(), c.updateCourse ? L"Quarrin Quit!\r\n" : L"Quarrin quit!\r\n");
        EXPECT_NE(lines[2], L"ZEL Exist!\r\n");
    }
}

TEST_F(StartupTest, NoRecordAndNoApplicationRequestsEverything) {
    PutUserFiles();
    sim.AddTaskBar();
    std::vector<std::wstring> lines = Run();
    EXPECT_EQ(lines[2], L"ZEL Not Exist!\r\n");
    EXPECT_EQ(lines.back(), L"Quarrin Quit!\r\n");
    EXPECT_EQ(UserFilesLeft(), 0);
    EXPECT_EQ(sim.TaskBarCommands(), (std::vector<int>{SW_HIDE, SW_SHOW}));
    EXPECT_TRUE(sim.TaskBarVisible());
}

// A unit that has had an install keeps its backup: without record and program it restores
// from it rather than wait for media, which a unit fresh from the factory (no backup) does.
TEST_F(StartupTest, NoRecordAndNoApplicationRestoresWhenABackupOpens) {
    sim.PutFile(L"ResidentFlash\\ZEL.bin", "not a package");
    sim.AddTaskBar();
    std::vector<std::wstring> lines = Run();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[2], L"ZEL Not Exist!\r\n");
    EXPECT_EQ(lines[3], L"Detect SystemFile Damaged:0ms\r\n");
    EXPECT_EQ(lines.back(), L"Quarrin Quit!\r\n");
}

TEST_F(StartupTest, OnlyApplicationUpdatesDeleteTheUserFiles) {
    for (DWORD word : {0x40u, 0x04u, 0x0Cu}) {
        SimPlatform fresh;
        fresh.PutFile(kApp, "");
        fresh.PutFile(L"ResidentFlash2\\UserConfig.dat", "user");
        fresh.PutFile(L"ResidentFlash2\\UpdateInfo.dat", Word(word));
        CQuarrinApp app;
        app.InitInstance();
        EXPECT_TRUE(fresh.Exists(L"ResidentFlash2\\UserConfig.dat")) << word;
    }
    InstallApplication();
    PutUserFiles();
    sim.PutFile(L"ResidentFlash2\\UpdateInfo.dat", Word(6));
    Run();
    EXPECT_EQ(UserFilesLeft(), 0);
}

TEST_F(StartupTest, AHeldRecordIsTreatedAsMissing) {
    InstallApplication();
    sim.PutFile(L"ResidentFlash2\\UpdateInfo.dat", Word(4));
    HANDLE held = CreateFileW(L"ResidentFlash2\\UpdateInfo.dat", GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::vector<std::wstring> lines = Run();
    EXPECT_EQ(lines[2], L"ZEL Exist!\r\n");
    CloseHandle(held);
    EXPECT_EQ(sim.FileBytes(L"ResidentFlash2\\UpdateInfo.dat"), Word(4));
}

// Damage means: the program cannot be started as it is (gone, a folder, an empty file) and
// the backup package can be read to restore it.
TEST_F(StartupTest, TheSystemFilesAreDamagedWhenTheProgramCannotStartAndTheBackupOpens) {
    enum Program { FILE, EMPTY, FOLDER, GONE, FOLDER_GONE };
    struct Case {
        const char* name;
        Program program;
        const char* backup;  // nullptr: no backup package
        bool held;           // another process holds the backup without sharing
        int damaged;
    };
    const Case cases[] = {
        {"application and backup", FILE, "pkg", false, 0},
        {"application without backup", FILE, nullptr, false, 0},
        {"folder gone, backup", FOLDER_GONE, "pkg", false, 1},
        {"program gone, folder kept, backup", GONE, "pkg", false, 1},
        {"empty program, backup", EMPTY, "pkg", false, 1},
        {"a folder in place of the program, backup", FOLDER, "pkg", false, 1},
        {"empty program, nothing to restore from", EMPTY, nullptr, false, 0},
        {"empty backup still opens", FOLDER_GONE, "", false, 1},
        {"nothing to restore from", FOLDER_GONE, nullptr, false, 0},
        {"backup held by another process", FOLDER_GONE, "pkg", true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimPlatform fresh;
        if (c.program == FILE || c.program == EMPTY)
            fresh.PutFile(kApp, c.program == FILE ? "#!/bin/sh\n" : "");
        else if (c.program == FOLDER)
            fresh.PutDirectory(kApp);
        else if (c.program == GONE)
            fresh.PutDirectory(L"ResidentFlash3\\ZEL");
        if (c.backup != nullptr)
            fresh.PutFile(L"ResidentFlash\\ZEL.bin", c.backup);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.held) {
            held = CreateFileW(L"ResidentFlash\\ZEL.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        }
        EXPECT_EQ(CheckSystemFiles(), c.damaged);
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        EXPECT_EQ(fresh.MutationCount(), 0) << "the check changes nothing";
    }
}

TEST_F(StartupTest, AMissingApplicationWithABackupTakesTheRestoreCourse) {
    sim.PutFile(L"ResidentFlash2\\UpdateInfo.dat", Word(0));
    sim.PutFile(L"ResidentFlash\\ZEL.bin", "not a package");
    PutUserFiles();
    sim.AddTaskBar();
    std::vector<std::wstring> lines = Run();
    EXPECT_EQ(lines[2], L"Detect SystemFile Damaged:0ms\r\n");
    EXPECT_EQ(lines.back(), L"Quarrin Quit!\r\n");
    EXPECT_EQ(UserFilesLeft(), 0) << "a restore starts with fresh settings, as an install";
    EXPECT_EQ(sim.TaskBarCommands(), (std::vector<int>{SW_HIDE, SW_SHOW}));
    EXPECT_TRUE(sim.Exists(L"ResidentFlash\\ZEL.bin")) << "a failed restore keeps the backup";
}

}  // namespace
