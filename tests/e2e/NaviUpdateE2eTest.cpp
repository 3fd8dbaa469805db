// The real binary replaces the navigation data on the card: format through the storage
// manager and fatutil.dll, placeholders, the copy with progress.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "tests/support/E2eSupport.h"

namespace fs = std::filesystem;
using e2e::DeviceRoot;

namespace {

class NaviUpdateE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* volume : {"Windows", "ResidentFlash2", "Storage Card", "SDHC"}) {
            fs::create_directories(root.Path() / volume);
        }
        fs::copy_file(QUARRIN_TOOLS "/fatutil.dll", root.Path() / "Windows" / "fatutil.dll");
        root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", root.Path() / "app-started");
        root.Put("Storage Card/old/map.dat", "old map");
        root.Put("ResidentFlash2/UpdateInfo.dat", std::string("\x40\0\0\0", 4));
    }
    e2e::RunResult Boot(std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments{"--root", root.Path().string(), "--clock-rate", "20",
                                           "--progress"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return e2e::RunQuarrin(arguments);
    }
    std::uintmax_t Size(const std::string& relative) {
        return fs::file_size(root.Path() / fs::u8path(relative));
    }
    DeviceRoot root;
};

TEST_F(NaviUpdateE2eTest, TheCardEndsWithTheNavigationTreeAndThePlaceholders) {
    root.Put("硬盘/navi_update/maps/asia/china.map", std::string(5000, 'c'));
    root.Put("硬盘/navi_update/maps/europe.map", "e");
    root.Put("硬盘/navi_update/xip.bin", "small xip");
    root.Put("硬盘/navi_update/voice/中文.wav", "voice");
    e2e::RunResult run = Boot();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(root.Read("Storage Card/maps/asia/china.map"), std::string(5000, 'c'));
    EXPECT_EQ(root.Read("Storage Card/voice/中文.wav"), "voice");
    EXPECT_EQ(root.Read("Storage Card/xip.bin"), "small xip");  // replaces the placeholder
    EXPECT_FALSE(fs::exists(root.Path() / "Storage Card/old"));
    EXPECT_EQ(Size("Storage Card/UPDOS"), 0u);
    EXPECT_EQ(Size("Storage Card/logo.bmp"), 2u << 20);
    EXPECT_EQ(Size("Storage Card/NANDINFO"), 64u << 10);
    EXPECT_EQ(Size("Storage Card/PQ.bin"), 2u << 20);
    EXPECT_EQ(Size("Storage Card/EROM_RTK.bin"), 2u << 20);
    std::vector<std::string> log = e2e::SplitCrLfLines(run.err);
    auto at = [&](const std::string& line) {
        return std::find(log.begin(), log.end(), line) - log.begin();
    };
    EXPECT_LT(at("Total File Count:4"), at("FormatDevice Begin..."));
    EXPECT_LT(at("FormatDevice Begin..."), at("Fortmat Device Finished!"));
    EXPECT_LT(at("Fortmat Device Finished!"), static_cast<long>(log.size()));
    EXPECT_NE(run.out.find("navigation preparing\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("navigation success\n"), std::string::npos) << run.out;
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
}

TEST_F(NaviUpdateE2eTest, AnEmptyNavigationFolderLeavesTheCardAlone) {
    root.Put("SDHC/navi_update/empty/keep/.hidden-dir-marker", "");
    fs::remove(root.Path() / "SDHC/navi_update/empty/keep/.hidden-dir-marker");
    e2e::RunResult run = Boot();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("navigation failed, error code 22\n"), std::string::npos) << run.out;
    EXPECT_EQ(root.Read("Storage Card/old/map.dat"), "old map");
    EXPECT_EQ(run.err.find("FormatDevice Begin..."), std::string::npos);
}

// The progress posts of a copy (1, 33, 66, 100 for three files) are checked on the virtual
// clock; here the screen shows a percentage only when it is painted, so some may be skipped.
TEST_F(NaviUpdateE2eTest, AFileThatCannotBeCopiedFailsWithTwentyAndTheRestIsCopied) {
    root.Put("硬盘/navi_update/a.map", "a");
    root.Put("硬盘/navi_update/maps/b.map", "b");
    root.Put("硬盘/navi_update/maps/z.map", "z");
    // A pipe counts as a file, but its copy fails: it would never end.
    ASSERT_EQ(mkfifo((root.Path() / "硬盘/navi_update/maps/stuck").c_str(), 0666), 0);
    e2e::RunResult run = Boot();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("navigation failed, error code 20\n"), std::string::npos) << run.out;
    std::vector<std::string> log = e2e::SplitCrLfLines(run.err);
    EXPECT_NE(std::find(log.begin(), log.end(), "Total File Count:4"), log.end()) << run.err;
    EXPECT_EQ(root.Read("Storage Card/a.map"), "a");
    EXPECT_EQ(root.Read("Storage Card/maps/z.map"), "z") << "the files after it are copied";
    EXPECT_FALSE(fs::exists(root.Path() / "Storage Card/maps/stuck"));
    EXPECT_TRUE(e2e::WaitForFile(root.Path() / "app-started"));
}

// Files in a dot folder are copied but not counted: with 25 counted, the copy's share once
// passed 120 (read as the backup state) and 8888 (read as done), so the dialog showed
// success and closed while the worker still copied, and the loader could exit mid-copy.
TEST_F(NaviUpdateE2eTest, UncountedFilesNeverEndTheStageBeforeTheWorker) {
    for (int i = 0; i < 25; ++i)
        root.Put("硬盘/navi_update/maps/m" + std::to_string(i) + ".map", "m");
    for (int i = 0; i < 2300; ++i)
        root.Put("硬盘/navi_update/.cache/c" + std::to_string(i), "c");
    e2e::RunResult run = Boot();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("navigation failed, error code 20\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("navigation success"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("navigation backup"), std::string::npos) << run.out;
    std::vector<std::string> log = e2e::SplitCrLfLines(run.err);
    auto totalTime = std::find_if(log.begin(), log.end(), [](const std::string& line) {
        return line.starts_with("Total Time:");
    });
    auto launched = std::find(log.begin(), log.end(), "CP OK!");
    ASSERT_NE(totalTime, log.end()) << "the worker finished before the loader ended";
    EXPECT_LT(totalTime, launched) << "the dialog closed after the worker's last post";
    EXPECT_EQ(std::distance(fs::directory_iterator(root.Path() / "Storage Card/.cache"),
                            fs::directory_iterator()),
              2300);
}

TEST_F(NaviUpdateE2eTest, WithoutTheFormatterTheCardIsMountedAgainAndReceivesTheTree) {
    fs::remove(root.Path() / "Windows" / "fatutil.dll");
    root.Put("硬盘/navi_update/maps/a.map", "a");
    e2e::RunResult run = Boot();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("Error LoadLibrary fatutil.dll!Error Code:126\r\n"), std::string::npos);
    EXPECT_NE(run.out.find("navigation success\n"), std::string::npos) << run.out;
    EXPECT_EQ(root.Read("Storage Card/maps/a.map"), "a");
    EXPECT_FALSE(fs::exists(root.Path() / "Storage Card/old"));
}

TEST_F(NaviUpdateE2eTest, TheCardIsFoundOnTheSecondStore) {
    root.Put("硬盘/navi_update/a.map", "a");
    fs::create_directories(root.Path() / "USB Disk");
    e2e::RunResult run = Boot({"--store", "DSK1=USB Disk", "--store", "DSK2=Storage Card"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> log = e2e::SplitCrLfLines(run.err);
    auto begin = std::find(log.begin(), log.end(), "FormatDevice Begin...");
    ASSERT_NE(begin, log.end()) << run.err;
    EXPECT_EQ(begin[1], "FindFirstPartition Part00 DSK1: \\USB Disk");
    EXPECT_EQ(begin[2], "FindFirstPartition Part00 DSK2: \\Storage Card");
    EXPECT_EQ(root.Read("Storage Card/a.map"), "a");
}

}  // namespace
