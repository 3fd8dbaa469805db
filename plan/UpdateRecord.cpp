#include "plan/UpdateRecord.h"

#include "plan/UpdatePlan.h"

namespace {

const wchar_t kRecordPath[] = L"ResidentFlash2\\UpdateInfo.dat";

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
    HANDLE probe = CreateFileW(L"硬盘\\OS_Update\\xip.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE || probe == nullptr)
        return;
    CloseHandle(probe);
    MoveFileW(L"Storage Card\\UPD", L"Storage Card\\UPDOS");
}

}  // namespace

UpdateRequest ReadAndClearUpdateRequest() {
    HANDLE file = CreateFileW(kRecordPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {false, 0};
    BYTE bytes[4] = {0, 0, 0, 0};
    DWORD read = 0;
    ReadFile(file, bytes, sizeof bytes, &read, nullptr);
    DWORD word = static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
                 static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24;
    if (word != 0) {
        if (word == 1)
            word = 0;
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
