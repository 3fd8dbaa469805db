// Tree operations: the walk orders and their different dot rules, deletion with read-only
// files and stops, and the copy with its progress posts and its one retry.
#include <gtest/gtest.h>

#include "platform/sim/SimPlatform.h"
#include "tests/support/DeepTree.h"
#include "tests/support/ProcessState.h"
#include "tests/support/ProgressWindow.h"
#include "workers/TreeOperations.h"

using quarrin::platform::FileOp;
using quarrin::platform::SimPlatform;

namespace {

class TreeOperationsTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::ResetProcessState(); }
    int LinesStartingWith(const std::wstring& prefix) {
        int count = 0;
        for (const std::wstring& line : sim.DebugLines())
            count += line.rfind(prefix, 0) == 0 ? 1 : 0;
        return count;
    }
    void MakeReadOnly(const std::wstring& path) {
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    }

    SimPlatform sim;
    ProgressWindow window;
};

TEST_F(TreeOperationsTest, CollectionIsBreadthFirstAndSkipsEveryDotFolder) {
    sim.PutFile(L"ResidentFlash3\\T\\b\\d\\f", "x");
    sim.PutFile(L"ResidentFlash3\\T\\a\\c\\f", "x");
    sim.PutFile(L"ResidentFlash3\\T\\.hidden\\x\\f", "x");
    sim.PutFile(L"ResidentFlash3\\T\\a\\.git\\f", "x");
    CollectDirectoryTree(L"ResidentFlash3\\T");
    std::vector<std::wstring> expected{L"ResidentFlash3\\T", L"ResidentFlash3\\T\\a",
                                       L"ResidentFlash3\\T\\b", L"ResidentFlash3\\T\\a\\c",
                                       L"ResidentFlash3\\T\\b\\d"};
    EXPECT_EQ(g_directoryList, expected);

    std::deque<std::wstring> queue;
    EXPECT_FALSE(CollectSubdirectories(L"ResidentFlash3\\Nowhere", queue));
}

TEST_F(TreeOperationsTest, ScanCountsOrCollectsOnlyTheFilesOfOneFolder) {
    sim.PutFile(L"SDHC\\N\\one", "1");
    sim.PutFile(L"SDHC\\N\\two", "2");
    sim.PutFile(L"SDHC\\N\\sub\\three", "3");
    EXPECT_EQ(ScanFiles(L"SDHC\\N", true), 2);
    EXPECT_TRUE(g_fileList.empty());
    EXPECT_EQ(ScanFiles(L"SDHC\\N", false), 0);
    EXPECT_EQ(g_fileList, (std::vector<std::wstring>{L"SDHC\\N\\one", L"SDHC\\N\\two"}));
    EXPECT_EQ(ScanFiles(L"SDHC\\Missing", true), 0);
}

TEST_F(TreeOperationsTest, DeleteTreeRemovesReadOnlyFilesAndAcceptsAMissingRoot) {
    sim.PutFile(L"ResidentFlash3\\ZEL\\a.exe", "a");
    sim.PutFile(L"ResidentFlash3\\ZEL\\res\\deep\\b.dat", "b");
    MakeReadOnly(L"ResidentFlash3\\ZEL\\res\\deep\\b.dat");
    MakeReadOnly(L"ResidentFlash3\\ZEL\\a.exe");
    EXPECT_TRUE(DeleteTree(L"ResidentFlash3\\ZEL"));
    EXPECT_FALSE(sim.Exists(L"ResidentFlash3\\ZEL"));
    EXPECT_TRUE(sim.Exists(L"ResidentFlash3"));
    EXPECT_TRUE(g_directoryList.empty());
    EXPECT_TRUE(g_fileList.empty());

    int before = sim.MutationCount();
    EXPECT_TRUE(DeleteTree(L"ResidentFlash3\\_Temp_$"));
    EXPECT_TRUE(DeleteTree(L"NoSuchVolume\\ZEL_Del"));
    EXPECT_EQ(sim.MutationCount(), before);
}

TEST_F(TreeOperationsTest, ADotFolderKeepsItsParentAndMakesTheDeletionFail) {
    sim.PutFile(L"Storage Card\\top.txt", "t");
    sim.PutFile(L"Storage Card\\.cache\\kept", "k");
    EXPECT_FALSE(DeleteTree(L"Storage Card"));
    EXPECT_FALSE(sim.Exists(L"Storage Card\\top.txt"));
    EXPECT_TRUE(sim.Exists(L"Storage Card\\.cache\\kept"));
}

TEST_F(TreeOperationsTest, DeletionStopsAtTheFirstFileThatStaysAndRemovesNoFolder) {
    sim.PutFile(L"ResidentFlash3\\_Temp_$\\a", "a");
    sim.PutFile(L"ResidentFlash3\\_Temp_$\\b", "b");
    sim.PutFile(L"ResidentFlash3\\_Temp_$\\c", "c");
    sim.PutFile(L"ResidentFlash3\\_Temp_$\\sub\\d", "d");
    sim.FailOperation(FileOp::Delete, L"ResidentFlash3\\_Temp_$\\b", ERROR_SHARING_VIOLATION, -1);
    EXPECT_FALSE(DeleteTree(L"ResidentFlash3\\_Temp_$"));
    EXPECT_FALSE(sim.Exists(L"ResidentFlash3\\_Temp_$\\a"));
    EXPECT_TRUE(sim.Exists(L"ResidentFlash3\\_Temp_$\\c"));
    EXPECT_TRUE(sim.Exists(L"ResidentFlash3\\_Temp_$\\sub\\d"));
    EXPECT_TRUE(g_fileList.empty());
}

TEST_F(TreeOperationsTest, CopyIsDepthFirstPostsAfterEveryFileAndCopiesDotFolders) {
    sim.PutFile(L"硬盘\\navi_update\\a.dat", "A");
    sim.PutFile(L"硬盘\\navi_update\\maps\\b.dat", "B");
    sim.PutFile(L"硬盘\\navi_update\\maps\\c.dat", "C");
    sim.PutFile(L"硬盘\\navi_update\\z.dat", "Z");
    sim.PutFile(L"硬盘\\navi_update\\.meta\\m", "M");
    sim.PutDirectory(L"Storage Card");
    g_totalFileCount = 4;
    EXPECT_TRUE(CopyTree(window.Handle(), L"硬盘\\navi_update", L"Storage Card"));
    EXPECT_EQ(g_copiedFileCount, 5);
    // ".meta" sorts first; its file is counted beyond the total of 4, and the share stops at
    // 100 so that it never reads as a state of the dialog.
    EXPECT_EQ(window.Percentages(), (std::vector<LPARAM>{25, 50, 75, 100, 100}));
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\maps\\c.dat"), "C");
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\.meta\\m"), "M");
}

TEST_F(TreeOperationsTest, AMissingDestinationIsCreatedOnceMoreThenTheCopyGivesUp) {
    sim.PutFile(L"SDHC\\src\\f", "f");
    g_totalFileCount = 1;
    EXPECT_FALSE(CopyTree(window.Handle(), L"SDHC\\src", L"Storage Card\\no\\dest"));
    EXPECT_EQ(g_copiedFileCount, 0);
    EXPECT_TRUE(window.Drain().empty());
    EXPECT_FALSE(CopyTree(window.Handle(), L"SDHC\\missing", L"SDHC\\dest"));
}

TEST_F(TreeOperationsTest, TheRetryMakesAFolderThatVanishedWorkAgain) {
    sim.PutFile(L"SDHC\\src\\f", "f");
    sim.PutDirectory(L"Storage Card\\dest");
    sim.FailOperation(FileOp::Copy, L"Storage Card\\dest\\f", ERROR_PATH_NOT_FOUND, 1);
    g_totalFileCount = 1;
    EXPECT_TRUE(CopyTree(window.Handle(), L"SDHC\\src", L"Storage Card\\dest"));
    EXPECT_EQ(g_copiedFileCount, 1);
    EXPECT_EQ(window.Percentages(), std::vector<LPARAM>{100});
}

TEST_F(TreeOperationsTest, FailuresBelowTheTopShowOnlyInTheCount) {
    for (auto* name : {L"f1", L"sub\\a", L"sub\\b", L"sub\\c", L"y", L"z1"}) {
        sim.PutFile(std::wstring(L"SDHC\\src\\") + name, "x");
    }
    sim.PutDirectory(L"Storage Card");
    // sub\b fails twice as a missing path: the rest of "sub" is left out.
    sim.FailOperation(FileOp::Copy, L"Storage Card\\sub\\b", ERROR_PATH_NOT_FOUND, 2);
    // y fails otherwise: skipped, not counted, yet a post follows it.
    sim.FailOperation(FileOp::Copy, L"Storage Card\\y", ERROR_DISK_FULL, 1);
    g_totalFileCount = 6;
    EXPECT_TRUE(CopyTree(window.Handle(), L"SDHC\\src", L"Storage Card"));
    EXPECT_EQ(g_copiedFileCount, 3);
    EXPECT_FALSE(sim.Exists(L"Storage Card\\sub\\c"));
    EXPECT_FALSE(sim.Exists(L"Storage Card\\y"));
    EXPECT_EQ(window.Percentages(), (std::vector<LPARAM>{16, 33, 33, 50}));
}

TEST_F(TreeOperationsTest, AnEmptyTotalPostsZeroInsteadOfDividingByZero) {
    sim.PutFile(L"SDHC\\src\\f", "f");
    EXPECT_TRUE(CopyTree(window.Handle(), L"SDHC\\src", L"SDHC\\dest"));
    EXPECT_EQ(window.Percentages(), std::vector<LPARAM>{0});
}

// A folder that no listing can open (here one deeper than a host path reaches) once looked
// empty to every walk. Now each walk keeps it, and it is named once in the log.
TEST_F(TreeOperationsTest, AFolderThatCannotBeListedIsKeptAndNamedOnce) {
    sim.PutFile(L"SDHC\\src\\a", "a");
    deeptree::DeepFolder deep(sim.HostPath(L"SDHC\\src\\deep"), 80);
    CollectDirectoryTree(L"SDHC\\src");
    ASSERT_EQ(g_unlistedFolders.size(), 1u);
    std::wstring unlisted = *g_unlistedFolders.begin();
    EXPECT_EQ(unlisted.rfind(L"SDHC\\src\\deep\\ddd", 0), 0u) << unlisted.size();

    sim.PutDirectory(L"Storage Card");
    g_totalFileCount = 1;
    EXPECT_TRUE(CopyTree(window.Handle(), L"SDHC\\src", L"Storage Card\\copy"));
    EXPECT_EQ(g_copiedFileCount, 1);
    EXPECT_EQ(g_unlistedFolders.size(), 1u) << "the copy met the same folder";
    EXPECT_EQ(LinesStartingWith(L"FindFirstFile SDHC\\src\\deep\\"), 1);
    EXPECT_EQ(LinesStartingWith(L"FindFirstFile "), 1);
    auto lines = sim.DebugLines();
    EXPECT_TRUE(lines.back().ends_with(L" Failed!Error Code:206\r\n")) << lines.back().size();

    // Neither an empty folder nor a missing root is a folder that cannot be listed.
    g_unlistedFolders.clear();
    sim.PutDirectory(L"SDHC\\empty\\inner");
    CollectDirectoryTree(L"SDHC\\empty");
    DeleteTree(L"SDHC\\Missing");
    EXPECT_TRUE(g_unlistedFolders.empty());
}

// A copy onto a volume that is not there once made a folder of the volume's name (in the
// unit's memory); deeper destinations are still made as before.
TEST_F(TreeOperationsTest, TheCopyNeverMakesAVolumesFolder) {
    sim.PutFile(L"SDHC\\src\\f", "f");
    sim.PutFile(L"SDHC\\src\\sub\\g", "g");
    g_totalFileCount = 2;
    EXPECT_FALSE(CopyTree(window.Handle(), L"SDHC\\src", L"Storage Card"));
    EXPECT_FALSE(sim.Exists(L"Storage Card"));
    EXPECT_EQ(g_copiedFileCount, 0);

    sim.PutDirectory(L"Storage Card");
    EXPECT_TRUE(CopyTree(window.Handle(), L"SDHC\\src", L"\\Storage Card"));
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\sub\\g"), "g");
}

}  // namespace
