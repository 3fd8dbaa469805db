// The navigation worker on the virtual clock: its posts, error codes, what it leaves on the
// card and its log lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "dialog/UpdateDialog.h"
#include "plan/SourceRoots.h"
#include "tests/support/DeviceLayout.h"
#include "tests/support/LinkTestSupport.h"
#include "tests/support/PackageTestSupport.h"
#include "tests/support/ProcessState.h"
#include "tests/support/ProgressWindow.h"
#include "tests/support/WorkerRun.h"
#include "workers/NaviUpdateThread.h"

using quarrin::platform::FileOp;
using quarrin::platform::FileOperationHook;
using quarrin::platform::HookDecision;
using quarrin::platform::SimPlatform;
using Posts = std::vector<std::pair<WPARAM, LPARAM>>;

namespace {

constexpr std::uintmax_t MiB = 1 << 20;
using testsupport::kRecord;
using testsupport::kWordZero;
const std::string kWordNavi("\x40\0\0\0", 4);

// Notes what the update record holds when the first and the last change reach the card;
// every operation then goes on to the simulator's own hook.
class CardWatch : public FileOperationHook {
public:
    explicit CardWatch(SimPlatform& sim) : m_sim(sim), m_next(sim.Files().Hook()) {
        sim.Files().SetHook(this);
    }
    ~CardWatch() override { m_sim.Files().SetHook(m_next); }
    HookDecision Before(FileOp op, const std::wstring& devicePath) override {
        if (quarrin::platform::IsMutating(op) && devicePath.rfind(L"Storage Card", 0) == 0) {
            std::string record = HostBytes(m_sim.HostPath(kRecord));
            if (!m_first)
                m_first = record;
            m_last = record;
        }
        return m_next->Before(op, devicePath);
    }
    std::optional<std::string> m_first;
    std::optional<std::string> m_last;

private:
    static std::string HostBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    SimPlatform& m_sim;
    FileOperationHook* m_next;
};

class NaviUpdateThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ResetProcessState();
        InstallFatUtil(sim);
        g_naviSourceDir = L"硬盘\\navi_update";
        g_updateErrorCode = -1;
        sim.PutFile(L"Storage Card\\old\\map.dat", "old map");
        sim.PutFile(L"Storage Card\\NANDINFO", "old");
        dialog.m_hWnd = window.Handle();
    }
    void TearDown() override { dialog.m_hWnd = nullptr; }

    void PutThreeFiles() {
        sim.PutFile(L"硬盘\\navi_update\\a.dat", "a");
        sim.PutFile(L"硬盘\\navi_update\\xip.bin", "navi xip");
        sim.PutFile(L"硬盘\\navi_update\\maps\\c.dat", "c");
    }
    // Runs the worker on its own thread, as the dialog does, and collects its posts.
    Posts Run() {
        start = GetTickCount();
        testsupport::RunWorker(NaviUpdateThread, &dialog, 600000);
        return window.Drain();
    }
    std::uintmax_t CardFileSize(const wchar_t* name) {
        return std::filesystem::file_size(sim.HostPath(std::wstring(L"Storage Card\\") + name));
    }
    bool Logged(const std::wstring& prefix) {
        return !linktest::LinesStartingWith(sim, prefix).empty();
    }

    SimPlatform sim;
    ProgressWindow window;
    CUpdateDialog dialog;
    DWORD start = 0;
};

TEST_F(NaviUpdateThreadTest, ThreeFilesReplaceTheCardWithProgressAfterEachFile) {
    PutThreeFiles();
    EXPECT_EQ(Run(), (Posts{{1, 1}, {1, 33}, {1, 66}, {1, 100}, {1, PROGRESS_DONE}}));
    EXPECT_EQ(g_updateErrorCode, -1) << "a good run leaves the code alone";
    EXPECT_FALSE(sim.Exists(L"Storage Card\\old"));
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\a.dat"), "a");
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\maps\\c.dat"), "c");
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\xip.bin"), "navi xip") << "replaces the placeholder";
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\UPDOS"), "");
    EXPECT_EQ(CardFileSize(L"logo.bmp"), 2 * MiB);
    EXPECT_EQ(CardFileSize(L"PQ.bin"), 2 * MiB);
    EXPECT_EQ(CardFileSize(L"EROM_RTK.bin"), 2 * MiB);
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\NANDINFO"), std::string(65536, '\0'));
    EXPECT_TRUE(Logged(L"Total File Count:3\r\n"));
    // Only the fixed pauses take time on the virtual clock: 200 + 100 + 300 ms.
    EXPECT_TRUE(Logged(L"Total Time:600 ms\r\n"));
    EXPECT_TRUE(Logged(L"FormatDevice Begin...")) << "the card was formatted";
}

TEST_F(NaviUpdateThreadTest, ThePlaceholderOfTheFirmwareImageIsFortyMegabytes) {
    sim.PutFile(L"硬盘\\navi_update\\a.dat", "a");
    EXPECT_EQ(Run().back(), (std::pair<WPARAM, LPARAM>{1, PROGRESS_DONE}));
    EXPECT_EQ(CardFileSize(L"xip.bin"), 40 * MiB);
}

TEST_F(NaviUpdateThreadTest, AFolderWithoutFilesFailsWith22AndLeavesTheCardAlone) {
    sim.PutDirectory(L"硬盘\\navi_update\\empty\\deeper");
    EXPECT_EQ(Run(), (Posts{{0, 0}}));
    EXPECT_EQ(g_updateErrorCode, 22);
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\old\\map.dat"), "old map");
    EXPECT_TRUE(sim.Storage().OpenStoreCalls().empty()) << "nothing was formatted";
    EXPECT_TRUE(Logged(L"Total File Count:0\r\n"));
    EXPECT_FALSE(Logged(L"Total Time:"));
}

TEST_F(NaviUpdateThreadTest, AFileBelowTheRootThatCannotBeCopiedFailsWith20) {
    PutThreeFiles();
    sim.FailOperation(FileOp::Copy, L"Storage Card\\maps\\c.dat", ERROR_ACCESS_DENIED);
    Posts posts = Run();
    // The skipped file still posts its unchanged percentage.
    EXPECT_EQ(posts, (Posts{{1, 1}, {1, 33}, {1, 33}, {1, 66}, {0, 0}}));
    EXPECT_EQ(g_updateErrorCode, 20);
    EXPECT_TRUE(Logged(L"Total Time:"));
}

TEST_F(NaviUpdateThreadTest, ATopLevelFileThatFailsAgainAfterTheRetryFailsWith21) {
    PutThreeFiles();
    sim.FailOperation(FileOp::Copy, L"Storage Card\\xip.bin", ERROR_PATH_NOT_FOUND, 2);
    EXPECT_EQ(Run().back(), (std::pair<WPARAM, LPARAM>{0, 0}));
    EXPECT_EQ(g_updateErrorCode, 21);
}

// The card, dismounted for the format, once stayed dismounted and the copy failed with 21.
TEST_F(NaviUpdateThreadTest, WithoutTheFormatterTheCardIsMountedAgainAndReceivesTheCopy) {
    std::filesystem::remove(sim.HostPath(L"Windows\\fatutil.dll"));
    PutThreeFiles();
    EXPECT_EQ(Run().back(), (std::pair<WPARAM, LPARAM>{1, PROGRESS_DONE}));
    EXPECT_EQ(g_updateErrorCode, -1);
    EXPECT_FALSE(sim.Exists(L"Storage Card\\old")) << "the old content was deleted before";
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\maps\\c.dat"), "c");
}

// A power cut while the card is rewritten must find the request again at the next start.
TEST_F(NaviUpdateThreadTest, TheRecordAsksForTheUpdateWhileTheCardIsRewritten) {
    PutThreeFiles();
    sim.PutFile(kRecord, kWordZero);  // consumed at start
    CardWatch watch(sim);
    EXPECT_EQ(Run().back(), (std::pair<WPARAM, LPARAM>{1, PROGRESS_DONE}));
    EXPECT_EQ(watch.m_first, kWordNavi) << "armed before the old content goes";
    EXPECT_EQ(watch.m_last, kWordNavi) << "still armed for the last file copied";
    EXPECT_EQ(sim.FileBytes(kRecord), kWordZero);
}

TEST_F(NaviUpdateThreadTest, AFailedCopyIsNotRepeatedAndAnEmptyFolderWritesNothing) {
    PutThreeFiles();
    sim.PutFile(kRecord, kWordZero + "tail");
    sim.FailOperation(FileOp::Copy, L"Storage Card\\xip.bin", ERROR_PATH_NOT_FOUND, 2);
    Run();
    EXPECT_EQ(g_updateErrorCode, 21);
    EXPECT_EQ(sim.FileBytes(kRecord), kWordZero) << "written in place and cut to four bytes";

    sim.FailOperation(FileOp::Copy, L"Storage Card\\maps\\c.dat", ERROR_ACCESS_DENIED);
    Run();
    EXPECT_EQ(g_updateErrorCode, 20);
    EXPECT_EQ(sim.FileBytes(kRecord), kWordZero);

    std::filesystem::remove(sim.HostPath(kRecord));
    std::filesystem::remove_all(sim.HostPath(L"硬盘\\navi_update"));
    sim.PutDirectory(L"硬盘\\navi_update\\nothing");
    Run();
    EXPECT_EQ(g_updateErrorCode, 22);
    EXPECT_FALSE(sim.Exists(kRecord)) << "nothing touched, nothing to repeat";
}

// Without a card the copy once made a folder "Storage Card" of its own and reported success.
TEST_F(NaviUpdateThreadTest, WithoutACardNothingIsWrittenAndTheUpdateFailsWith23) {
    PutThreeFiles();
    for (bool fileInItsPlace : {false, true}) {
        SCOPED_TRACE(fileInItsPlace ? "a file in its place" : "no folder");
        std::filesystem::remove_all(sim.HostPath(L"Storage Card"));
        if (fileInItsPlace)
            sim.PutFile(L"Storage Card", "not a card");
        EXPECT_EQ(Run(), (Posts{{0, 0}}));
        EXPECT_EQ(g_updateErrorCode, NAVI_ERROR_NO_CARD);
        EXPECT_EQ(GetFileAttributesW(L"Storage Card"),
                  fileInItsPlace ? FILE_ATTRIBUTE_NORMAL : INVALID_FILE_ATTRIBUTES);
        EXPECT_FALSE(sim.Exists(kRecord)) << "the record is not written";
        EXPECT_TRUE(sim.Storage().OpenStoreCalls().empty()) << "nothing was formatted";
        EXPECT_TRUE(Logged(fileInItsPlace ? L"No card in Storage Card!Error Code:267"
                                          : L"No card in Storage Card!Error Code:2"));
        EXPECT_FALSE(Logged(L"Total Time:"));
    }
}

// Volume folders linked so that the medium and the card share one folder: emptying the card
// once deleted the source.
TEST_F(NaviUpdateThreadTest, ASourceThatSharesTheCardsStorageIsRefusedWith24) {
    namespace fs = std::filesystem;
    sim.PutFile(L"Storage Card\\navi_update\\maps\\a.dat", "a");
    fs::remove_all(sim.HostPath(L"SDHC"));
    fs::create_directory_symlink(sim.HostPath(L"Storage Card"), sim.HostPath(L"SDHC"));
    g_naviSourceDir = L"SDHC\\navi_update";
    EXPECT_EQ(Run(), (Posts{{0, 0}}));
    EXPECT_EQ(g_updateErrorCode, NAVI_ERROR_SOURCE_ON_CARD);
    EXPECT_TRUE(Logged(L"Navigation source SDHC\\navi_update lies on Storage Card"));
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\navi_update\\maps\\a.dat"), "a");
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\old\\map.dat"), "old map");

    // The other way round: the card is a folder of the source.
    g_naviSourceDir = L"硬盘\\navi_update";
    PutThreeFiles();
    sim.PutDirectory(L"硬盘\\navi_update\\card");
    fs::remove_all(sim.HostPath(L"Storage Card"));
    fs::create_directory_symlink(sim.HostPath(L"硬盘\\navi_update\\card"),
                                 sim.HostPath(L"Storage Card"));
    EXPECT_EQ(Run(), (Posts{{0, 0}}));
    EXPECT_EQ(g_updateErrorCode, NAVI_ERROR_SOURCE_ON_CARD);
    EXPECT_TRUE(Logged(L"Navigation source 硬盘\\navi_update holds Storage Card"));
    EXPECT_EQ(sim.FileBytes(L"硬盘\\navi_update\\maps\\c.dat"), "c");
    EXPECT_TRUE(sim.Storage().OpenStoreCalls().empty()) << "nothing was formatted";
    EXPECT_FALSE(sim.Exists(kRecord));
}

// What neither the deletion nor the format removes stays beside the new data; the update
// says so instead of reporting success.
TEST_F(NaviUpdateThreadTest, ACardThatKeepsOldEntriesFailsWith20AfterTheCopy) {
    std::filesystem::remove(sim.HostPath(L"Windows\\fatutil.dll"));
    sim.PutFile(L"Storage Card\\.trash\\old.map", "old");
    PutThreeFiles();
    EXPECT_EQ(Run().back(), (std::pair<WPARAM, LPARAM>{0, 0}));
    EXPECT_EQ(g_updateErrorCode, NAVI_ERROR_COUNT_MISMATCH);
    EXPECT_TRUE(Logged(L"Storage Card not emptied: 1 entries left, first .trash\r\n"));
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\maps\\c.dat"), "c");
    EXPECT_FALSE(sim.Exists(L"Storage Card\\old"));
}

}  // namespace
