#include "plan/UpdateRecord.h"

#include "contract/DevicePaths.h"

#include "plan/UpdatePlan.h"

namespace {

const wchar_t* const kRecordPath = UPDATE_RECORD_PATH;

// The word is written over the old one in place and the file is cut to four bytes after it.
// Truncating first would leave an empty file, read as "nothing requested", to a power
// failure between the truncation and the write; in place, a cut leaves the old word or the
// new one (the low byte, which carries every request bit, goes first).
void WriteWord(DWORD shareMode, DWORD word) {
    HANDLE file = CreateFileW(kRecordPath, GENERIC_READ | GENERIC_WRITE, shareMode, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    BYTE bytes[4] = {static_cast<BYTE>(word), static_cast<BYTE>(word >> 8),
                     static_cast<BYTE>(word >> 16), static_cast<BYTE>(word >> 24)};
    DWORD written = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    WriteFile(file, bytes, sizeof bytes, &written, nullptr);
    SetEndOfFile(file);
    CloseHandle(file);
}

// When an operating-system image waits on the internal disk, the marker folder on the card
// is renamed so that the unit's boot code takes the image over at the next start.
void HandOverOperatingSystemImage() {
    if (OperatingSystemImageWaits())
        MoveFileW(OS_HANDOVER_FOLDER, OS_HANDOVER_TARGET);
}

HANDLE OpenRecordForStartup() {
    return CreateFileW(kRecordPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The stored word; a short file leaves the missing high-order bytes 0.
DWORD ReadStoredWord(HANDLE file) {
    BYTE bytes[4] = {0, 0, 0, 0};
    DWORD read = 0;
    ReadFile(file, bytes, sizeof bytes, &read, nullptr);
    return static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
           static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24;
}

// The word 1 asks for nothing, like 0.
DWORD StartupMode(DWORD stored) {
    return stored == 1 ? 0 : stored;
}

}  // namespace

bool OperatingSystemImageWaits() {
    HANDLE probe = CreateFileW(OS_IMAGE_PATH, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE || probe == nullptr)
        return false;
    CloseHandle(probe);
    return true;
}

UpdateRequest PeekUpdateRequest() {
    HANDLE file = OpenRecordForStartup();
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_WRITE_PROTECT) {
        file = CreateFileW(kRecordPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE)
        return {false, 0};
    DWORD word = StartupMode(ReadStoredWord(file));
    CloseHandle(file);
    return {true, word};
}

UpdateRequest ReadAndClearUpdateRequest() {
    HANDLE file = OpenRecordForStartup();
    if (file == INVALID_HANDLE_VALUE)
        return {false, 0};
    DWORD stored = ReadStoredWord(file);
    DWORD word = StartupMode(stored);
    if (stored != 0) {
        const BYTE zero[4] = {0, 0, 0, 0};
        DWORD written = 0;
        SetFilePointer(file, 0, nullptr, FILE_BEGIN);
        WriteFile(file, zero, sizeof zero, &written, nullptr);
    }
    CloseHandle(file);
    return {true, word};
}

void WriteUpdateRecord() {
    WriteWord(FILE_SHARE_READ, UPDATE_APP);
    HandOverOperatingSystemImage();
}

void ArmApplicationRetry() {
    WriteWord(FILE_SHARE_READ, UPDATE_APP);
}

void ResetUpdateRecord() {
    WriteWord(0, 0);
    HandOverOperatingSystemImage();
}

void ArmNavigationRetry() {
    WriteWord(FILE_SHARE_READ, UPDATE_NAVI);
}

void DisarmNavigationRetry() {
    WriteWord(FILE_SHARE_READ, 0);
}
