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

// A file cut short (0 bytes after a failed copy, or part of it) would have written zeros over
// the unit's calibration and left its touch keys dead, without a word in the log.
TEST_F(TouchKeyImportTest, AFileWithoutAllValuesIsNotImportedAndSaysSo) {
    sim.PutFile(kFile, Values(36));
    ASSERT_EQ(ImportTouchKeyCalibration(), 1);
    for (int values : {0, 25, 35}) {
        SCOPED_TRACE(values);
        std::string bytes = Values(36).substr(0, 4 * values);
        sim.PutFile(kFile, bytes + std::string(values == 35 ? 3 : 0, '\7'));
        std::size_t lines = sim.DebugLines().size();
        EXPECT_EQ(ImportTouchKeyCalibration(), 0);
        EXPECT_EQ(Value(L"MAX1_X"), 1000u);
        EXPECT_EQ(Value(L"MIN9_Y"), 1035u) << "the registry keeps its values";
        std::vector<std::wstring> logged = sim.DebugLines();
        ASSERT_EQ(logged.size(), lines + 1);
        std::size_t size = bytes.size() + (values == 35 ? 3 : 0);
        EXPECT_EQ(logged.back(), L"Touchkey.bin holds " + std::to_wstring(size) +
                                     L" of 144 bytes: touch keys not imported\r\n");
    }
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
