#include "app/TouchCalibrationBackup.h"

#include "contract/DevicePaths.h"
#include "platform/Win32.h"

namespace {

constexpr DWORD kCalibrationBufferSize = 128;

struct TouchCalibrationValues {
    DWORD minX = 0;
    DWORD maxX = 0;
    DWORD minY = 0;
    DWORD maxY = 0;
    DWORD dataSize = kCalibrationBufferSize;
    BYTE data[kCalibrationBufferSize] = {};
};

bool BackupExists(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

void QueryDword(HKEY key, const wchar_t* name, DWORD& field) {
    DWORD size = sizeof(field);
    RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(&field), &size);
}

// Missing values stay 0. The saved length is what the query leaves in the size variable,
// except when the value did not fit the buffer: then nothing was read, and saving the size
// the query reports would write bytes that were never read, so no data bytes are saved.
bool ReadCalibrationValues(TouchCalibrationValues& values) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\TOUCH", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS) {
        return false;
    }
    QueryDword(key, L"MIN_X", values.minX);
    QueryDword(key, L"MAX_X", values.maxX);
    QueryDword(key, L"MIN_Y", values.minY);
    QueryDword(key, L"MAX_Y", values.maxY);
    LONG result =
        RegQueryValueExW(key, L"CalibrationData", nullptr, nullptr, values.data, &values.dataSize);
    if (result == ERROR_MORE_DATA || values.dataSize > kCalibrationBufferSize) {
        values.dataSize = 0;
    }
    RegCloseKey(key);
    return true;
}

void WriteDword(HANDLE file, DWORD value) {
    DWORD written = 0;
    WriteFile(file, &value, sizeof(value), &written, nullptr);
}

void SaveCalibrationValues(const wchar_t* path, const TouchCalibrationValues& values) {
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    WriteDword(file, values.minX);
    WriteDword(file, values.maxX);
    WriteDword(file, values.minY);
    WriteDword(file, values.maxY);
    WriteDword(file, values.dataSize);
    DWORD written = 0;
    WriteFile(file, values.data, values.dataSize, &written, nullptr);
    CloseHandle(file);
}

}  // namespace

int BackupTouchCalibration() {
    wchar_t path[MAX_PATH];
    wsprintfW(path, L"%s", TOUCH_CALIBRATION_BACKUP_PATH);
    if (BackupExists(path))
        return 0;
    if (TouchCalibrate() != 1)
        return 0;
    TouchCalibrationValues values;
    if (!ReadCalibrationValues(values))
        return 0;
    SaveCalibrationValues(path, values);
    return 0;
}
