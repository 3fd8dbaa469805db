// The touch-key import: 36 values from the internal disk into the touch key.
#include <gtest/gtest.h>

#include "plan/TouchKeyImport.h"
#include "platform/sim/SimPlatform.h"

using quarrin::platform::SimPlatform;

namespace {

const wchar_t kFile[] = L"硬盘\\ZEL_Update\\Touchkey.bin";
const wchar_t kKey[] = L"HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH";

std::string Values(int count) {
    std::string bytes;
    for (int k = 0; k < count; ++k) {
        DWORD value = 1000 + static_cast<DWORD>(k);
        bytes.append(reinterpret_cast<const char*>(&value), 4);
    }
    return bytes;
}

class TouchKeyImportTest : public ::testing::Test {
protected:
    std::optional<DWORD> Value(const wchar_t* name) {
        return sim.DeviceRegistry().Dword(kKey, name);
    }
    SimPlatform sim;
};

TEST_F(TouchKeyImportTest, WritesTheNineAreasInFileOrder) {
    std::string bytes = Values(36);
    DWORD max3 = 800, min3 = 100;
    bytes.replace(32, 4, reinterpret_cast<const char*>(&max3), 4);
    bytes.replace(36, 4, reinterpret_cast<const char*>(&min3), 4);
    sim.PutFile(kFile, bytes + "trailing bytes are ignored");
    EXPECT_EQ(ImportTouchKeyCalibration(), 1);
    EXPECT_EQ(Value(L"MAX1_X"), 1000u);
    EXPECT_EQ(Value(L"MIN1_X"), 1001u);
    EXPECT_EQ(Value(L"MAX1_Y"), 1002u);
    EXPECT_EQ(Value(L"MIN1_Y"), 1003u);
    EXPECT_EQ(Value(L"MAX3_X"), 800u);
    EXPECT_EQ(Value(L"MIN3_X"), 100u);
    EXPECT_EQ(Value(L"MIN9_Y"), 1035u);
    EXPECT_EQ(sim.DeviceRegistry().Snapshot().Find(kKey)->values.size(), 36u);
}

TEST_F(TouchKeyImportTest, AShortFileWritesZerosForTheMissingValues) {
    sim.PutFile(kFile, Values(25));
    EXPECT_EQ(ImportTouchKeyCalibration(), 1);
    EXPECT_EQ(Value(L"MAX7_X"), 1024u);
    EXPECT_EQ(Value(L"MIN7_X"), 0u);
    EXPECT_EQ(Value(L"MIN9_Y"), 0u);
}

TEST_F(TouchKeyImportTest, NothingIsWrittenWithoutTheFileOrTheKey) {
    sim.PutFile(L"SDHC\\ZEL_Update\\Touchkey.bin", Values(36));
    EXPECT_EQ(ImportTouchKeyCalibration(), 0) << "only the internal disk is looked at";
    EXPECT_TRUE(sim.DeviceRegistry().Snapshot().Find(kKey)->values.empty());

    sim.PutFile(kFile, Values(36));
    sim.DeviceRegistry().DeleteKey(kKey);
    EXPECT_EQ(ImportTouchKeyCalibration(), 0);
    EXPECT_FALSE(sim.DeviceRegistry().KeyExists(kKey)) << "the key is not created";
    EXPECT_TRUE(sim.DebugLines().empty());
}

}  // namespace
