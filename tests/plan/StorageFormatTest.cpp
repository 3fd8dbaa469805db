// Formatting the storage card: which stores are tried, the log lines in their order, and
// what the card looks like afterwards.
#include <gtest/gtest.h>

#include <filesystem>

#include "plan/StorageFormat.h"
#include "tests/support/PackageTestSupport.h"

using quarrin::platform::SimPlatform;
using quarrin::platform::StorageOp;
using Lines = std::vector<std::wstring>;

namespace {

const wchar_t kBegin[] = L"FormatDevice Begin...\r\n";
const wchar_t kFinished[] = L"Fortmat Device Finished!\r\n";
// The card's one partition exists already when it is re-created.
const wchar_t kCreateExists[] = L"CreatePartition Failed!Error Code:183\r\n";

class StorageFormatTest : public ::testing::Test {
protected:
    StorageFormatTest() {
        InstallFatUtil(sim);
        sim.PutFile(L"Storage Card\\old\\map.dat", "old map");
        sim.PutFile(L"Storage Card\\xip.bin", "old");
        sim.PutFile(L"SDHC\\keep.txt", "keep");
        sim.Storage().RemoveStore(L"DSK1:");
    }
    // "SDHC" on DSK1:, "Storage Card" on DSK2:.
    void DeclareCardOnSecondStore() {
        sim.Storage().DeclareStore(L"DSK1:", L"SDHC", 1000);
        sim.Storage().DeclareStore(L"DSK2:", L"Storage Card", 5000);
    }
    bool CardIsEmptyAndMounted() {
        WIN32_FIND_DATAW entry{};
        HANDLE search = FindFirstFileW(L"Storage Card\\*.*", &entry);
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
        return sim.Exists(L"Storage Card") && search == INVALID_HANDLE_VALUE &&
               GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    SimPlatform sim;
};

TEST_F(StorageFormatTest, TheCardOnTheSecondStoreIsFormattedAndTheSearchStops) {
    DeclareCardOnSecondStore();
    sim.Storage().DeclareStore(L"DSK3:", L"Storage Card2", 5000);
    EXPECT_EQ(FormatStorageCard(), 0);
    EXPECT_EQ(sim.DebugLines(), (Lines{kBegin, L"FindFirstPartition Part00 DSK1: \\SDHC\r\n",
                                       L"FindFirstPartition Part00 DSK2: \\Storage Card\r\n",
                                       kCreateExists, kFinished}));
    EXPECT_EQ(sim.Storage().OpenStoreCalls(), (Lines{L"DSK1:", L"DSK2:"}));
    EXPECT_TRUE(CardIsEmptyAndMounted());
    EXPECT_EQ(sim.FileBytes(L"SDHC\\keep.txt"), "keep");
}

TEST_F(StorageFormatTest, WithoutAStoreCarryingTheCardEveryStoreIsTriedAndNothingFormatted) {
    sim.Storage().DeclareStore(L"DSK3:", L"SDHC", 1000);
    FormatStorageCard();
    EXPECT_EQ(sim.DebugLines(), (Lines{kBegin, L"OpenStore DSK1: Failed!Error Code:2\r\n",
                                       L"OpenStore DSK2: Failed!Error Code:2\r\n",
                                       L"FindFirstPartition Part00 DSK3: \\SDHC\r\n",
                                       L"OpenStore DSK4: Failed!Error Code:2\r\n", kFinished}));
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\old\\map.dat"), "old map");
}

TEST_F(StorageFormatTest, AStoreWithoutPartitionsIsLoggedAndSkipped) {
    DeclareCardOnSecondStore();
    sim.Storage().FailOperation(StorageOp::FindFirstPartition, ERROR_NO_MORE_ITEMS);
    FormatStorageCard();
    Lines lines = sim.DebugLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], L"FindFirstPartition DSK1: Failed!Error Code:259\r\n");
    EXPECT_EQ(lines[2], L"FindFirstPartition Part00 DSK2: \\Storage Card\r\n");
    EXPECT_TRUE(CardIsEmptyAndMounted());
}

// Without a usable formatter: "fatutil.dll" missing, or a library without "FormatVolume".
class StorageFormatLibraryTest : public StorageFormatTest,
                                 public ::testing::WithParamInterface<bool> {};

// The card was dismounted a step before; it once stayed so for the rest of the boot.
TEST_P(StorageFormatLibraryTest, TheCardIsMountedAgainUnformatted) {
    bool libraryPresent = GetParam();
    std::filesystem::remove(sim.HostPath(L"Windows\\fatutil.dll"));
    if (libraryPresent) {
        std::filesystem::copy_file(LIBRARY_WITHOUT_FORMAT_PATH,
                                   sim.HostPath(L"Windows\\fatutil.dll"));
    }
    DeclareCardOnSecondStore();
    FormatStorageCard();
    const wchar_t* failure = libraryPresent ? L"Error GetProcAddress pfnFormatVolume\r\n"
                                            : L"Error LoadLibrary fatutil.dll!Error Code:126\r\n";
    EXPECT_EQ(sim.DebugLines(),
              (Lines{kBegin, L"FindFirstPartition Part00 DSK1: \\SDHC\r\n",
                     L"FindFirstPartition Part00 DSK2: \\Storage Card\r\n", failure, kFinished}));
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\old\\map.dat"), "old map");
}

INSTANTIATE_TEST_SUITE_P(Formatter, StorageFormatLibraryTest, ::testing::Bool(),
                         [](const auto& info) {
                             return std::string(info.param ? "WithoutExport" : "Missing");
                         });

TEST_F(StorageFormatTest, AFailedDismountStillRunsFormatCreateAndMountInOrder) {
    DeclareCardOnSecondStore();
    sim.Storage().FailOperation(StorageOp::DismountPartition, ERROR_BUSY);
    FormatStorageCard();
    Lines lines = sim.DebugLines();
    // A mounted volume refuses to be formatted, and mounting it again finds it mounted.
    EXPECT_EQ(Lines(lines.begin() + 3, lines.end()),
              (Lines{L"Error DismountPartition!Error Code:170\r\n",
                     L"pfnFormatVolume Failed!Error Code:170\r\n", kCreateExists,
                     L"MountPartition Failed!Error Code:183\r\n", kFinished}));
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\old\\map.dat"), "old map");
}

TEST_F(StorageFormatTest, APartitionThatCannotBeOpenedEndsTheSearch) {
    sim.Storage().DeclareStore(L"DSK1:", L"Storage Card", 5000);
    sim.Storage().DeclareStore(L"DSK2:", L"Storage Card", 5000);
    sim.Storage().FailOperation(StorageOp::OpenPartition, ERROR_SHARING_VIOLATION);
    FormatStorageCard();
    EXPECT_EQ(sim.DebugLines(),
              (Lines{kBegin, L"FindFirstPartition Part00 DSK1: \\Storage Card\r\n",
                     L"OpenPartition Failed!Error Code:32\r\n", kFinished}));
    EXPECT_EQ(sim.Storage().OpenStoreCalls(), (Lines{L"DSK1:"}));
    EXPECT_TRUE(sim.Exists(L"Storage Card\\old\\map.dat"));
}

}  // namespace
