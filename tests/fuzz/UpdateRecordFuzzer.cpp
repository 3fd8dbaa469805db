// Fuzz target: the update record "ResidentFlash2\UpdateInfo.dat" holds arbitrary bytes of
// any length, and the start-up read and the writers meet it on the simulated device.
//
// Checked for every input:
//  - the start-up read opens it and returns the little-endian word of its first four bytes
//    (missing bytes 0, the word 1 as 0); a non-zero word leaves four zero bytes at the start
//    and every later byte as it was; a zero word leaves the file untouched;
//  - whatever the record held, each writer leaves exactly its own four-byte word, which the
//    next read returns;
//  - no handle stays open: an unshared open succeeds after each call.
//
// Input: the record's bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "plan/UpdateRecord.h"
#include "platform/Win32.h"
#include "platform/sim/SimPlatform.h"

namespace {

const wchar_t kRecord[] = L"ResidentFlash2\\UpdateInfo.dat";

quarrin::platform::SimPlatform* g_sim = nullptr;

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

void CheckClosed() {
    HANDLE file = CreateFileW(kRecord, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    Check(file != INVALID_HANDLE_VALUE);
    CloseHandle(file);
}

void CheckWriter(const std::string& record, void (*writer)(), DWORD word) {
    g_sim->PutFile(kRecord, record);
    writer();
    CheckClosed();
    const std::string expected{static_cast<char>(word), 0, 0, 0};
    Check(g_sim->FileBytes(kRecord) == expected);
    UpdateRequest request = ReadAndClearUpdateRequest();
    Check(request.opened && request.word == word);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_sim = new quarrin::platform::SimPlatform();
    // The simulated device's folder goes with the process, when it ends normally.
    std::atexit([] { delete g_sim; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string record(reinterpret_cast<const char*>(data), size);
    g_sim->PutFile(kRecord, record);

    UpdateRequest request = ReadAndClearUpdateRequest();
    CheckClosed();
    DWORD raw = 0;
    for (std::size_t i = 0; i < 4 && i < size; ++i)
        raw |= static_cast<DWORD>(data[i]) << (8 * i);
    Check(request.opened);
    Check(request.word == (raw == 1 ? 0 : raw));
    std::string after = g_sim->FileBytes(kRecord);
    if (raw == 0) {
        Check(after == record);
    } else {
        std::string expected(4, '\0');
        if (size > 4)
            expected += record.substr(4);
        Check(after == expected);
    }

    CheckWriter(record, &WriteUpdateRecord, 2);
    CheckWriter(record, &ArmApplicationRetry, 2);
    CheckWriter(record, &ResetUpdateRecord, 0);
    return 0;
}
