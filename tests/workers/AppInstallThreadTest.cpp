// The application worker on the virtual clock: its posts and pauses, every error code, the
// update record, the backup rule, restore mode and the operating-system hand-over.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>

#include "contract/UpdateContract.h"
#include "dialog/UpdateDialog.h"
#include "plan/SourceRoots.h"
#include "plan/UpdatePlan.h"
#include "platform/sim/SimPlatform.h"
#include "tests/support/DeviceLayout.h"
#include "tests/support/E2eSupport.h"
#include "tests/support/LinkTestSupport.h"
#include "tests/support/PackageTestSupport.h"
#include "tests/support/ProcessState.h"
#include "tests/support/ProgressWindow.h"
#include "tests/support/WorkerRun.h"
#include "workers/AppInstallThread.h"

using quarrin::platform::FileOp;
using quarrin::platform::FileOperationHook;
using quarrin::platform::HookDecision;
using quarrin::platform::SimPlatform;
using Post = ProgressWindow::Post;

namespace {

const wchar_t kPackage[] = L"SDHC\\ZEL_Update\\ZEL.bin";
using testsupport::kBackup;
using testsupport::kRecord;
using testsupport::kWordTwo;
using testsupport::kWordZero;
const wchar_t kTouchKey[] = L"HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH";
constexpr ULONGLONG MiB = 1 << 20;

class AppInstallThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ResetProcessState();
        g_appSourceRoot = L"SDHC\\";
        g_updateErrorCode = -1;
        for (auto* volume : {L"ResidentFlash", L"ResidentFlash2", L"ResidentFlash3"}) {
            sim.PutDirectory(volume);
        }
        sim.PutFile(L"ResidentFlash3\\ZEL\\old.exe", "old");
        sim.PutFile(kRecord, kWordZero);
        sim.PutFile(L"硬盘\\ZEL_Update\\Touchkey.bin", std::string(144, '\1'));
        dialog.m_hWnd = window.Handle();
    }
    void TearDown() override { dialog.m_hWnd = nullptr; }

    void PutGoodPackage(const std::wstring& path = kPackage) {
        PutPackage(sim, path, {Folder("ZEL"), File("ZEL/Velmoran.exe", "new")}, "ZEL-OKUN-1", "V9");
    }
    // Runs the worker on its own thread, as the dialog does, and collects its posts.
    std::vector<Post> Run() {
        start = GetTickCount();
        testsupport::RunWorker(AppInstallThread, &dialog, 60000);
        return window.TimedDrain();
    }
    bool TouchKeysImported() {
        return sim.DeviceRegistry().Dword(kTouchKey, L"MIN9_Y").has_value();
    }
    bool Logged(const std::wstring& line) { return linktest::HasLine(sim, line); }
    static std::vector<std::pair<WPARAM, LPARAM>> Values(const std::vector<Post>& posts) {
        std::vector<std::pair<WPARAM, LPARAM>> values;
        for (const Post& post : posts)
            values.emplace_back(post.wParam, post.lParam);
        return values;
    }

    SimPlatform sim;
    ProgressWindow window;
    CUpdateDialog dialog;
    DWORD start = 0;
};

TEST_F(AppInstallThreadTest, AnInstallPostsInOrderWithItsPausesAndResetsTheRecord) {
    InstallZCompress(sim);
    PutGoodPackage();
    sim.Files().SetFreeSpaceOverride(L"ResidentFlash", 100 * MiB);
    std::vector<Post> posts = Run();
    ASSERT_GE(posts.size(), 5u);
    EXPECT_EQ(std::make_pair(posts[0].wParam, posts[0].lParam),
              std::make_pair(WPARAM{1}, LPARAM{0}));
    EXPECT_EQ(posts[0].time - start, 800u);
    // The library's own posts come 400 ms later.
    EXPECT_EQ(posts[1].time - start, 1200u);
    std::size_t n = posts.size();
    EXPECT_EQ(Values({posts[n - 3], posts[n - 2], posts[n - 1]}),
              (std::vector<std::pair<WPARAM, LPARAM>>{
                  {1, PROGRESS_BACKUP}, {1, 100}, {1, PROGRESS_DONE}}));
    EXPECT_EQ(posts[n - 1].time - posts[n - 2].time, 500u);
    EXPECT_EQ(g_updateErrorCode, 0);
    EXPECT_EQ(sim.FileBytes(kRecord), kWordZero);
    EXPECT_EQ(sim.FileBytes(L"ResidentFlash3\\ZEL\\Velmoran.exe"), "new");
    EXPECT_FALSE(sim.Exists(L"ResidentFlash3\\ZEL\\old.exe"));
    EXPECT_EQ(sim.FileBytes(kBackup), sim.FileBytes(kPackage));
    EXPECT_TRUE(TouchKeysImported());
    EXPECT_TRUE(Logged(L"LoadLibrary zCompress.dll OK!\r\n"));
    EXPECT_TRUE(Logged(L"SpaceInfo:100,0\r\n"));
}

TEST_F(AppInstallThreadTest, TheBackupNeedsMoreThanTwoMebibytesToSpare) {
    InstallZCompress(sim);
    PutGoodPackage();
    sim.PutFile(kBackup, "old backup");
    sim.Files().SetFreeSpaceOverride(L"ResidentFlash", 2 * MiB + MiB - 1);
    std::vector<Post> posts = Run();
    for (const Post& post : posts)
        EXPECT_NE(post.lParam, PROGRESS_BACKUP);
    EXPECT_FALSE(sim.Exists(kBackup)) << "the old backup is gone all the same";
    EXPECT_TRUE(Logged(L"SpaceInfo:2,0\r\n"));
    EXPECT_EQ(sim.FileBytes(kRecord), kWordZero);
}

// A restore takes whatever stands at the backup's name, so a copy that stops half way (a full
// volume, a power cut) must leave nothing there; a leftover of such a copy goes at the next
// install.
TEST_F(AppInstallThreadTest, AnUnfinishedBackupCopyNeverStandsAtTheBackupsName) {
    InstallZCompress(sim);
    sim.Files().SetFreeSpaceOverride(L"ResidentFlash", 100 * MiB);
    for (DWORD copyError : {DWORD{ERROR_DISK_FULL}, DWORD{ERROR_SUCCESS}}) {
        SCOPED_TRACE(copyError);
        PutGoodPackage();
        sim.PutFile(kBackup, "old backup");
        sim.PutFile(L"ResidentFlash\\ZEL.bin.partial", "half of a newer one");
        sim.PutFile(kRecord, kWordZero);
        if (copyError != ERROR_SUCCESS)
            sim.FailOperation(FileOp::Copy, L"ResidentFlash\\ZEL.bin.partial", copyError);
        Run();
        EXPECT_EQ(g_updateErrorCode, 0) << "a failed backup is no failed install";
        EXPECT_FALSE(sim.Exists(L"ResidentFlash\\ZEL.bin.partial"));
        if (copyError != ERROR_SUCCESS) {
            EXPECT_FALSE(sim.Exists(kBackup));
        } else {
            EXPECT_EQ(sim.FileBytes(kBackup), sim.FileBytes(kPackage));
        }
    }
}

TEST_F(AppInstallThreadTest, TheLibraryIsTakenFromTheMediumWhenTheSystemHasNone) {
    InstallZCompress(sim, L"SDHC\\zCompress.dll");
    PutGoodPackage();
    Run();
    EXPECT_EQ(g_updateErrorCode, 0);
    EXPECT_TRUE(Logged(L"LoadLibrary Windows zCompress.dll Failed! 126\r\n"));
    EXPECT_FALSE(Logged(L"LoadLibrary zCompress.dll Failed!\r\n"));
}

struct EarlyFailure {
    const char* name;
    int errorCode;
};

void PrintTo(const EarlyFailure& failure, std::ostream* os) {
    *os << failure.name;
}

class AppInstallEarlyFailureTest : public AppInstallThreadTest,
                                   public ::testing::WithParamInterface<EarlyFailure> {};

TEST_P(AppInstallEarlyFailureTest, StoresTheCodePostsOneFailureAndAsksForARetry) {
    PutGoodPackage();
    int code = GetParam().errorCode;
    if (code == 10) {
        sim.PutFile(L"ResidentFlash3\\_Temp_$\\stuck", "x");
        sim.FailOperation(FileOp::Delete, L"ResidentFlash3\\_Temp_$\\stuck",
                          ERROR_SHARING_VIOLATION, -1);
    } else if (code == 11) {
        sim.PutFile(L"ResidentFlash3\\ZEL_Del\\.keep\\x", "x");
    } else if (code == 14) {
        sim.PutFile(L"Windows\\zCompress.dll", e2e::ReadFile(FAKE_NO_UNCOMPRESS_PATH));
    }
    std::vector<Post> posts = Run();
    EXPECT_EQ(g_updateErrorCode, code);
    ASSERT_FALSE(posts.empty());
    EXPECT_EQ(std::make_pair(posts.back().wParam, posts.back().lParam),
              std::make_pair(WPARAM{0}, LPARAM{0}));
    EXPECT_EQ(sim.FileBytes(kRecord), kWordTwo);
    EXPECT_FALSE(TouchKeysImported()) << "early exits skip the import";
    EXPECT_EQ(sim.FileBytes(L"ResidentFlash3\\ZEL\\old.exe"), "old")
        << "no failure touches the installed application";
    if (code < 12) {
        EXPECT_EQ(posts.size(), 1u);
    }
    if (code == 12) {
        EXPECT_TRUE(Logged(L"LoadLibrary Windows zCompress.dll Failed! 126\r\n"));
        EXPECT_TRUE(Logged(L"LoadLibrary zCompress.dll Failed!\r\n"));
    }
    if (code == 14) {
        EXPECT_TRUE(Logged(L"GetProcAddress Failed!\r\n"));
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, AppInstallEarlyFailureTest,
                         ::testing::Values(EarlyFailure{"TempFolder", 10},
                                           EarlyFailure{"PreviousFolder", 11},
                                           EarlyFailure{"NoLibrary", 12},
                                           EarlyFailure{"MissingExport", 14}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppInstallThreadTest, AFailedUnpackGivesItsCodeAndStillImportsTheTouchKeys) {
    InstallZCompress(sim);
    PutPackage(sim, kPackage, {File("../escape", "x")});
    sim.PutFile(L"硬盘\\OS_Update\\xip.bin", "os");
    sim.PutDirectory(L"Storage Card\\UPD");
    std::vector<Post> posts = Run();
    EXPECT_EQ(g_updateErrorCode, 1005);
    EXPECT_EQ(std::make_pair(posts.back().wParam, posts.back().lParam),
              std::make_pair(WPARAM{0}, LPARAM{0}));
    for (const Post& post : posts)
        EXPECT_NE(post.lParam, PROGRESS_DONE);
    EXPECT_EQ(sim.FileBytes(kRecord), kWordTwo);
    EXPECT_TRUE(TouchKeysImported());
    EXPECT_TRUE(sim.Exists(L"Storage Card\\UPDOS")) << "the retry record hands the image over too";
}

// A package that cannot be installed once made the worker delete the installed application
// before the library had read its header: without a backup no start brought it back. Now the
// application folder stays as it was, in install mode startable, in restore mode with what was
// left in it and without the failing package's program.
TEST_F(AppInstallThreadTest, APackageThatCannotBeInstalledLeavesTheApplicationFolderAsItWas) {
    InstallZCompress(sim);
    PutGoodPackage();
    std::string good = sim.FileBytes(kPackage);
    struct Case {
        const char* what;
        std::string bytes;  // empty: no package at all
        int code;
    } cases[] = {
        {"no package (a request whose package was not found)", "", 1002},
        {"random bytes", std::string(5000, '\x5a'), 1003},
        {"cut short", good.substr(0, good.size() - 20), 1004},
    };
    for (bool restore : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(restore ? "restore, " : "install, ") + c.what);
            g_systemFilesDamaged = restore;
            const wchar_t* path = restore ? kBackup : kPackage;
            DeleteFileW(path);
            if (!c.bytes.empty())
                sim.PutFile(path, c.bytes);
            sim.PutFile(kRecord, kWordZero);
            Run();
            EXPECT_EQ(g_updateErrorCode, c.code);
            EXPECT_EQ(sim.FileBytes(L"ResidentFlash3\\ZEL\\old.exe"), "old");
            EXPECT_FALSE(sim.Exists(L"ResidentFlash3\\ZEL\\Velmoran.exe"));
            EXPECT_EQ(sim.FileBytes(kRecord), kWordTwo);
        }
    }
    // A package that fails after its program was unpacked leaves none of it either.
    PutPackage(sim, kPackage,
               {Folder("ZEL"), File("ZEL/Velmoran.exe", "half"), File("ZEL/../../out", "x")});
    g_systemFilesDamaged = false;
    Run();
    EXPECT_EQ(g_updateErrorCode, 1005);
    EXPECT_EQ(sim.FileBytes(L"ResidentFlash3\\ZEL\\old.exe"), "old");
    EXPECT_FALSE(sim.Exists(L"ResidentFlash3\\ZEL\\Velmoran.exe"));
}

// Such a package once counted as installed and became the backup: every later boot then
// found no application and started the shell, with no good package left to restore.
TEST_F(AppInstallThreadTest, APackageWithoutTheApplicationFailsAndKeepsTheOldBackup) {
    InstallZCompress(sim);
    sim.PutFile(kBackup, "old backup");
    sim.Files().SetFreeSpaceOverride(L"ResidentFlash", 100 * MiB);
    for (const auto& entries : std::vector<std::vector<PackageEntry>>{
             {},
             {Folder("ZEL"), File("ZEL/readme.txt", "x")},
             {Folder("app"), File("app/Velmoran.exe", "x")},
             {Folder("ZEL/Velmoran.exe"), File("ZEL/Velmoran.exe/x", "x")}}) {
        PutPackage(sim, kPackage, entries);
        sim.PutFile(kRecord, kWordZero);
        std::vector<Post> posts = Run();
        EXPECT_EQ(g_updateErrorCode, 1007) << entries.size() << " entries";
        EXPECT_EQ(Values({posts.back()}), (std::vector<std::pair<WPARAM, LPARAM>>{{0, 0}}));
        for (const Post& post : posts) {
            EXPECT_NE(post.lParam, PROGRESS_DONE);
            EXPECT_NE(post.lParam, PROGRESS_BACKUP);
        }
        EXPECT_EQ(sim.FileBytes(kBackup), "old backup");
        EXPECT_EQ(sim.FileBytes(kRecord), kWordTwo);
    }
}

// Notes every mutating operation, then hands it on.
class ChangeLog : public FileOperationHook {
public:
    explicit ChangeLog(SimPlatform& sim) : m_sim(sim), m_next(sim.Files().Hook()) {
        sim.Files().SetHook(this);
    }
    ~ChangeLog() override { m_sim.Files().SetHook(m_next); }
    HookDecision Before(FileOp op, const std::wstring& devicePath) override {
        if (quarrin::platform::IsMutating(op))
            m_changed.push_back(devicePath);
        return m_next->Before(op, devicePath);
    }
    std::vector<std::wstring> m_changed;

private:
    SimPlatform& m_sim;
    FileOperationHook* m_next;
};

// The installed application is never taken apart file by file: a power cut or a failure in
// the middle would leave part of it, which a start without the medium would launch. It is
// renamed aside whole, read-only program included, once the new one is complete.
TEST_F(AppInstallThreadTest, TheInstalledApplicationIsReplacedWholeNeverFileByFile) {
    InstallZCompress(sim);
    PutGoodPackage();
    sim.PutFile(L"ResidentFlash3\\ZEL\\App.dll", "old library");
    sim.PutFile(L"ResidentFlash3\\ZEL\\Velmoran.exe", "old");
    ASSERT_TRUE(SetFileAttributesW(L"ResidentFlash3\\ZEL\\Velmoran.exe", FILE_ATTRIBUTE_READONLY));
    ChangeLog log(sim);
    Run();
    for (const std::wstring& path : log.m_changed)
        EXPECT_NE(path.rfind(L"ResidentFlash3\\ZEL\\", 0), 0u) << "changed in place: " << path;
    EXPECT_EQ(g_updateErrorCode, 0);
    EXPECT_EQ(sim.FileBytes(L"ResidentFlash3\\ZEL\\Velmoran.exe"), "new");
    EXPECT_FALSE(sim.Exists(L"ResidentFlash3\\ZEL\\App.dll"));
    EXPECT_FALSE(sim.Exists(L"ResidentFlash3\\_Unpack_$"));
}

// Something the device cannot remove (here a name it cannot see) that an install moved into
// the library's work folder with the old application once failed every later install and
// restore with 1006.
TEST_F(AppInstallThreadTest, ALeftoverTheDeviceCannotRemoveBlocksNeitherInstallNorRestore) {
    InstallZCompress(sim);
    std::filesystem::path hidden = sim.HostPath(L"ResidentFlash3\\_Unpack_$\\Old\\1");
    std::filesystem::create_directories(hidden);
    std::ofstream(hidden / "cache:1") << "x";
    for (bool restore : {false, true}) {
        SCOPED_TRACE(restore ? "restore" : "install");
        g_systemFilesDamaged = restore;
        PutGoodPackage(restore ? kBackup : kPackage);
        DeleteFileW(L"ResidentFlash3\\ZEL\\Velmoran.exe");
        sim.PutFile(kRecord, kWordZero);
        Run();
        EXPECT_EQ(g_updateErrorCode, 0);
        EXPECT_EQ(sim.FileBytes(L"ResidentFlash3\\ZEL\\Velmoran.exe"), "new");
        EXPECT_EQ(sim.FileBytes(kRecord), kWordZero);
    }
    EXPECT_TRUE(std::filesystem::exists(sim.HostPath(L"ResidentFlash3\\_Unpack_$\\Kept1\\1")));
    EXPECT_TRUE(
        Logged(L"Unpack leftover ResidentFlash3\\_Unpack_$\\Old cannot be removed, kept "
               L"as ResidentFlash3\\_Unpack_$\\Kept1\r\n"));
}

TEST_F(AppInstallThreadTest, TheMostNegativeLibraryResultDoesNotOverflowTheCode) {
    sim.PutFile(L"Windows\\zCompress.dll", e2e::ReadFile(FAKE_EXTREME_PATH));
    Run();
    EXPECT_EQ(g_updateErrorCode, INT_MAX);
    EXPECT_EQ(sim.FileBytes(kRecord), kWordTwo);
}

TEST_F(AppInstallThreadTest, RestoreUnpacksTheBackupAndKeepsIt) {
    g_systemFilesDamaged = true;
    g_appSourceRoot = L"Storage Card\\";
    InstallZCompress(sim);
    PutGoodPackage(kBackup);
    std::string backup = sim.FileBytes(kBackup);
    sim.PutFile(L"硬盘\\OS_Update\\xip.bin", "os");
    sim.PutDirectory(L"Storage Card\\UPD");
    std::vector<Post> posts = Run();
    EXPECT_EQ(g_updateErrorCode, 0);
    for (const Post& post : posts)
        EXPECT_NE(post.lParam, PROGRESS_BACKUP);
    EXPECT_EQ(posts.back().lParam, PROGRESS_DONE);
    EXPECT_EQ(sim.FileBytes(kBackup), backup);
    EXPECT_EQ(sim.FileBytes(L"ResidentFlash3\\ZEL\\Velmoran.exe"), "new");
    for (const auto& line : sim.DebugLines())
        EXPECT_EQ(line.find(L"SpaceInfo"), std::wstring::npos);
    EXPECT_EQ(sim.FileBytes(kRecord), kWordZero);
    EXPECT_TRUE(sim.Exists(L"Storage Card\\UPDOS"));
    EXPECT_FALSE(sim.Exists(L"Storage Card\\UPD"));
}

}  // namespace
