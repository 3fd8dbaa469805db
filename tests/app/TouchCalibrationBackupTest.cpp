// The touch calibration backup: when it calibrates, and the layout of the saved file.
#include <gtest/gtest.h>

#include <cstring>

#include "app/TouchCalibrationBackup.h"
#include "platform/sim/SimPlatform.h"

using quarrin::platform::SimPlatform;

namespace {

const wchar_t kBackup[] = L"ResidentFlash2\\TsData.dat";
const wchar_t kKey[] = L"HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH";

DWORD WordAt(const std::string& bytes, std::size_t offset) {
    DWORD value = 0;
    std::memcpy(&value, bytes.data() + offset, sizeof(value));
    return value;
}

std::vector<BYTE> Pattern(std::size_t size) {
    std::vector<BYTE> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<BYTE>(i + 1);
    return bytes;
}

class TouchCalibrationBackupTest : public ::testing::Test {
protected:
    TouchCalibrationBackupTest() {
        sim.PutDirectory(L"ResidentFlash2");
        sim.SetTouchCalibrationResult(1);
        sim.DeviceRegistry().SetDword(kKey, L"MIN_X", 11);
        sim.DeviceRegistry().SetDword(kKey, L"MAX_X", 22);
        sim.DeviceRegistry().SetDword(kKey, L"MIN_Y", 33);
        sim.DeviceRegistry().SetDword(kKey, L"MAX_Y", 44);
    }
    void SetCalibrationData(std::size_t size) {
        ASSERT_EQ(sim.DeviceRegistry().Set(kKey, L"CalibrationData", REG_BINARY, Pattern(size)),
                  ERROR_SUCCESS);
    }
    SimPlatform sim;
};

TEST_F(TouchCalibrationBackupTest, SavesTheCoordinatesAndTheCalibrationData) {
    SetCalibrationData(40);
    EXPECT_EQ(BackupTouchCalibration(), 0);
    std::string file = sim.FileBytes(kBackup);
    ASSERT_EQ(file.size(), 60u);
    EXPECT_EQ(WordAt(file, 0), 11u);
    EXPECT_EQ(WordAt(file, 4), 22u);
    EXPECT_EQ(WordAt(file, 8), 33u);
    EXPECT_EQ(WordAt(file, 12), 44u);
    EXPECT_EQ(WordAt(file, 16), 40u);
    auto data = Pattern(40);
    EXPECT_EQ(file.substr(20), std::string(data.begin(), data.end()));
    EXPECT_EQ(sim.TouchCalibrationCalls(), 1);
    EXPECT_TRUE(sim.DebugLines().empty());
}

TEST_F(TouchCalibrationBackupTest, AMissingValueIsSavedAsZero) {
    sim.DeviceRegistry().DeleteKey(kKey);
    sim.DeviceRegistry().CreateKey(kKey);
    sim.DeviceRegistry().SetDword(kKey, L"MIN_X", 11);
    sim.DeviceRegistry().SetDword(kKey, L"MAX_X", 22);
    sim.DeviceRegistry().SetDword(kKey, L"MAX_Y", 44);
    SetCalibrationData(128);
    BackupTouchCalibration();
    std::string file = sim.FileBytes(kBackup);
    ASSERT_EQ(file.size(), 20u + 128u);
    EXPECT_EQ(WordAt(file, 4), 22u);
    EXPECT_EQ(WordAt(file, 8), 0u);
    EXPECT_EQ(WordAt(file, 12), 44u);
}

TEST_F(TouchCalibrationBackupTest, OversizedCalibrationDataSavesNoBytesThatWereNotRead) {
    SetCalibrationData(200);
    BackupTouchCalibration();
    std::string file = sim.FileBytes(kBackup);
    ASSERT_EQ(file.size(), 20u);
    EXPECT_EQ(WordAt(file, 0), 11u);
    EXPECT_EQ(WordAt(file, 16), 0u);
}

TEST_F(TouchCalibrationBackupTest, AnExistingBackupIsLeftAloneWithoutCalibrating) {
    sim.PutFile(kBackup, "");
    SetCalibrationData(40);
    BackupTouchCalibration();
    EXPECT_EQ(sim.TouchCalibrationCalls(), 0);
    EXPECT_EQ(sim.FileBytes(kBackup), "");
}

TEST_F(TouchCalibrationBackupTest, NothingIsSavedWithoutACompletedCalibrationOrTheKey) {
    for (BOOL result : {0, 2}) {
        sim.SetTouchCalibrationResult(result);
        BackupTouchCalibration();
        EXPECT_FALSE(sim.Exists(kBackup)) << "calibration result " << result;
    }
    sim.SetTouchCalibrationResult(1);
    sim.DeviceRegistry().DeleteKey(kKey);
    BackupTouchCalibration();
    EXPECT_FALSE(sim.Exists(kBackup));
    EXPECT_EQ(sim.TouchCalibrationCalls(), 3) << "every start without a backup calibrates";
}

}  // namespace
