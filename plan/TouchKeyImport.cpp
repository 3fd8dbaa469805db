#include "plan/TouchKeyImport.h"

namespace {

const wchar_t kTouchKey[] = L"HARDWARE\\DEVICEMAP\\TOUCH";

// Value k of the file: area k / 4 + 1; within an area MAX_X, MIN_X, MAX_Y, MIN_Y.
void FormatValueName(wchar_t (&name)[16], DWORD k) {
    static const wchar_t* const kBounds[] = {L"MAX", L"MIN", L"MAX", L"MIN"};
    static const wchar_t* const kAxes[] = {L"X", L"X", L"Y", L"Y"};
    wsprintfW(name, L"%s%d_%s", kBounds[k % 4], static_cast<int>(k / 4 + 1), kAxes[k % 4]);
}

// Reads the 36 values; false, with one log line, when the file does not give all of them.
bool ReadTouchKeyValues(HANDLE file, BYTE (&buffer)[TOUCHKEY_FILE_BYTES]) {
    DWORD read = 0;
    if (!ReadFile(file, buffer, TOUCHKEY_FILE_BYTES, &read, nullptr)) {
        wchar_t line[96];
        wsprintfW(line, L"Read Touchkey.bin Failed!Error Code:%d\r\n",
                  static_cast<int>(GetLastError()));
        NKDbgPrintfW(L"%s", line);
        return false;
    }
    if (!TouchKeyFileComplete(read)) {
        wchar_t line[96];
        wsprintfW(line, L"Touchkey.bin holds %d of %d bytes: touch keys not imported\r\n",
                  static_cast<int>(read), static_cast<int>(TOUCHKEY_FILE_BYTES));
        NKDbgPrintfW(L"%s", line);
        return false;
    }
    return true;
}

}  // namespace

int ImportTouchKeyCalibration() {
    HANDLE file = CreateFileW(TOUCHKEY_FILE_PATH, GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    // A file cut short (a failed copy) would write zeros over the unit's calibration: only a
    // file that gives every value is imported, and otherwise the registry keeps its own.
    BYTE buffer[TOUCHKEY_FILE_BYTES] = {};
    bool complete = ReadTouchKeyValues(file, buffer);
    CloseHandle(file);
    if (!complete)
        return 0;

    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTouchKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return 0;
    }
    for (DWORD k = 0; k < TOUCHKEY_VALUE_COUNT; ++k) {
        wchar_t name[16];
        FormatValueName(name, k);
        RegSetValueExW(key, name, 0, REG_DWORD, buffer + 4 * k, 4);
    }
    RegCloseKey(key);
    return 1;
}
