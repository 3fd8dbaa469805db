// The storage manager: stores, partition records, mounting and what file operations see.
#include <gtest/gtest.h>

#include "main/CommandLine.h"
#include "platform/Win32.h"
#include "platform/sim/SimPlatform.h"

using quarrin::platform::SimPlatform;
using quarrin::platform::StorageOp;

namespace {

class StorageManagerTest : public ::testing::Test {
protected:
    StorageManagerTest() {
        sim.Storage().DeclareStore(L"DSK2:", L"SDHC", 1000);
        sim.PutFile(L"Storage Card\\maps\\a.dat", "a");
        sim.PutDirectory(L"SDHC");
    }
    HANDLE OpenPart00(const wchar_t* storeName) {
        m_store = OpenStore(storeName);
        return OpenPartition(m_store, L"Part00");
    }
    ~StorageManagerTest() override {
        if (m_store != INVALID_HANDLE_VALUE)
            CloseHandle(m_store);
    }
    SimPlatform sim;
    HANDLE m_store = INVALID_HANDLE_VALUE;
};

TEST_F(StorageManagerTest, UndeclaredStoresDoNotOpen) {
    SetLastError(0xBAD);
    EXPECT_EQ(OpenStore(L"DSK3:"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    sim.Storage().RemoveStore(L"DSK1:");
    EXPECT_EQ(OpenStore(L"DSK1:"), INVALID_HANDLE_VALUE);
    HANDLE store = OpenStore(L"dsk2:");
    ASSERT_NE(store, INVALID_HANDLE_VALUE) << "store names match without regard to case";
    EXPECT_TRUE(CloseHandle(store));
    EXPECT_EQ(sim.Storage().OpenStoreCalls(),
              (std::vector<std::wstring>{L"DSK3:", L"DSK1:", L"dsk2:"}));
}

TEST_F(StorageManagerTest, TheFirstPartitionRecordNamesPartitionVolumeAndSize) {
    HANDLE store = OpenStore(L"DSK1:");
    PARTINFO info{};
    EXPECT_EQ(FindFirstPartition(store, &info), INVALID_HANDLE_VALUE) << "cbSize is required";
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    info.cbSize = sizeof(info);
    HANDLE search = FindFirstPartition(store, &info);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(PartInfoText(info.szPartitionName), L"Part00");
    EXPECT_EQ(PartInfoText(info.szVolumeName), L"\\Storage Card");
    EXPECT_EQ(info.snNumSectors, quarrin::platform::SIM_CARD_SECTORS);
    EXPECT_TRUE(FindClosePartition(search));
    EXPECT_FALSE(FindClosePartition(store)) << "a store handle is not a search";
    EXPECT_TRUE(CloseHandle(store));
}

TEST_F(StorageManagerTest, NonAsciiVolumeNamesSurviveTheSixteenBitRecord) {
    sim.Storage().DeclareStore(L"DSK3:", L"硬盘\U0001F5C2", 10);
    HANDLE store = OpenStore(L"DSK3:");
    PARTINFO info{};
    info.cbSize = sizeof(info);
    HANDLE search = FindFirstPartition(store, &info);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(PartInfoText(info.szVolumeName), L"\\硬盘\U0001F5C2");
    FindClosePartition(search);
    CloseHandle(store);
}

TEST_F(StorageManagerTest, ADismountedVolumeIsUnreachableUntilMountedAgain) {
    HANDLE partition = OpenPart00(L"DSK1:");
    ASSERT_NE(partition, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(DismountPartition(partition));
    EXPECT_TRUE(CloseHandle(partition)) << "closing the handle does not mount it";

    EXPECT_EQ(CreateFileW(L"Storage Card\\maps\\a.dat", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(CopyFileW(L"Storage Card\\maps\\a.dat", L"SDHC\\a.dat", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesW(L"\\storage card"), INVALID_FILE_ATTRIBUTES);
    WIN32_FIND_DATAW entry{};
    HANDLE rootSearch = FindFirstFileW(L"\\*.*", &entry);
    ASSERT_NE(rootSearch, INVALID_HANDLE_VALUE);
    do {
        EXPECT_NE(std::wstring(entry.cFileName), L"Storage Card") << "not in the root listing";
    } while (FindNextFileW(rootSearch, &entry));
    FindClose(rootSearch);

    partition = OpenPartition(m_store, L"part00");
    EXPECT_FALSE(DismountPartition(partition));
    EXPECT_EQ(GetLastError(), ERROR_NOT_READY);
    ASSERT_TRUE(MountPartition(partition));
    EXPECT_FALSE(MountPartition(partition));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(sim.FileBytes(L"Storage Card\\maps\\a.dat"), "a");
    CloseHandle(partition);
}

TEST_F(StorageManagerTest, PartitionsCannotBeCreatedBesideTheOneThatFillsTheStore) {
    HANDLE partition = OpenPart00(L"DSK1:");
    EXPECT_EQ(OpenPartition(m_store, L"Part01"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(CreatePartition(m_store, L"Part00", 1ull << 33));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CreatePartition(m_store, L"Part01", 8));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_FALSE(CreatePartition(partition, L"Part01", 8)) << "a partition is not a store";
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(partition);
}

TEST_F(StorageManagerTest, InjectedFaultsFailTheNamedCallWithTheirCode) {
    sim.Storage().FailOperation(StorageOp::DismountPartition, ERROR_BUSY);
    sim.Storage().FailOperation(StorageOp::OpenStore, ERROR_NOT_READY);
    EXPECT_EQ(OpenStore(L"DSK1:"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_NOT_READY);
    HANDLE partition = OpenPart00(L"DSK1:");
    EXPECT_FALSE(DismountPartition(partition));
    EXPECT_EQ(GetLastError(), ERROR_BUSY);
    EXPECT_TRUE(sim.Exists(L"Storage Card\\maps")) << "a failed dismount leaves it mounted";
    EXPECT_TRUE(DismountPartition(partition)) << "the fault was for one call";
    MountPartition(partition);
    CloseHandle(partition);
}

TEST(StoreOptionTest, StoresAreDeclaredByNumberAndVolume) {
    auto parsed = ParseCommandLine({"--store", "DSK2=Storage Card", "--store=DSK4:=SDHC"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    using Store = std::pair<int, std::string>;
    EXPECT_EQ(parsed.options->stores, (std::vector<Store>{{2, "Storage Card"}, {4, "SDHC"}}));
    for (const char* bad : {"DSK5=X", "DSK0=X", "DSK2=", "DSK2", "COM2=X", "DSK12=X"}) {
        EXPECT_FALSE(ParseCommandLine({"--store", bad}).options) << bad;
    }
    EXPECT_TRUE(ParseCommandLine({"--touch-calibrated"}).options->touchCalibrated);
}

}  // namespace
