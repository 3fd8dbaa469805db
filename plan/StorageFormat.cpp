#include "plan/StorageFormat.h"

#include <string>

#include "contract/DevicePaths.h"
#include "platform/Win32.h"

namespace {

constexpr int STORE_FIRST = 1;
constexpr int STORE_LAST = 4;
constexpr wchar_t STORE_PARTITION[] = L"Part00";
const wchar_t* const STORE_CARD_VOLUME = CARD_VOLUME;

// The FAT utility library's entry point: partition, disk information, format options,
// progress and message callbacks; 0 on success.
using FormatVolumeProc = DWORD (*)(HANDLE, void*, void*, void*, void*);

template <class... Args>
void Log(const wchar_t* format, Args... args) {
    wchar_t line[256];
    wsprintfW(line, format, args...);
    NKDbgPrintfW(L"%s", line);
}

int LastError() {
    return static_cast<int>(GetLastError());
}

// Logs the store's first partition and tells whether it carries "Storage Card".
bool CarriesStorageCard(HANDLE store, const wchar_t* storeName, PARTINFO& info) {
    info = PARTINFO{};
    info.cbSize = sizeof(info);
    HANDLE search = FindFirstPartition(store, &info);
    if (search == INVALID_HANDLE_VALUE) {
        Log(L"FindFirstPartition %s Failed!Error Code:%d\r\n", storeName, LastError());
        return false;
    }
    std::wstring partition = PartInfoText(info.szPartitionName);
    std::wstring volume = PartInfoText(info.szVolumeName);
    Log(L"FindFirstPartition %s %s %s\r\n", partition.c_str(), storeName, volume.c_str());
    FindClosePartition(search);
    return volume.find(STORE_CARD_VOLUME) != std::wstring::npos;
}

void MountAgain(HANDLE partition) {
    if (!MountPartition(partition)) {
        Log(L"MountPartition Failed!Error Code:%d\r\n", LastError());
    }
}

// Formats, re-creates and mounts the dismounted partition; each step runs even when the one
// before it failed. Without a usable library the card is not formatted but still mounted
// again, so that it is not lost to the rest of the boot.
void FormatWithLibrary(HANDLE store, HANDLE partition, const PARTINFO& info) {
    HMODULE library = LoadLibraryW(L"fatutil.dll");
    if (library == nullptr) {
        Log(L"Error LoadLibrary fatutil.dll!Error Code:%d\r\n", LastError());
        MountAgain(partition);
        return;
    }
    auto formatVolume =
        reinterpret_cast<FormatVolumeProc>(GetProcAddressW(library, L"FormatVolume"));
    if (formatVolume == nullptr) {
        Log(L"Error GetProcAddress pfnFormatVolume\r\n");
        FreeLibrary(library);
        MountAgain(partition);
        return;
    }
    if (formatVolume(partition, nullptr, nullptr, nullptr, nullptr) != 0) {
        Log(L"pfnFormatVolume Failed!Error Code:%d\r\n", LastError());
    }
    // The record's sector count is 64 bits wide; it is passed on whole.
    if (!CreatePartition(store, STORE_PARTITION, info.snNumSectors)) {
        Log(L"CreatePartition Failed!Error Code:%d\r\n", LastError());
    }
    MountAgain(partition);
    FreeLibrary(library);
}

void ReformatStorageCard(HANDLE store, const PARTINFO& info) {
    HANDLE partition = OpenPartition(store, STORE_PARTITION);
    if (partition == INVALID_HANDLE_VALUE) {
        Log(L"OpenPartition Failed!Error Code:%d\r\n", LastError());
        return;
    }
    if (!DismountPartition(partition)) {
        Log(L"Error DismountPartition!Error Code:%d\r\n", LastError());
    }
    FormatWithLibrary(store, partition, info);
    CloseHandle(partition);
}

}  // namespace

int FormatStorageCard() {
    NKDbgPrintfW(L"FormatDevice Begin...\r\n");
    for (int n = STORE_FIRST; n <= STORE_LAST; ++n) {
        wchar_t storeName[16];
        wsprintfW(storeName, L"DSK%d:", n);
        HANDLE store = OpenStore(storeName);
        if (store == INVALID_HANDLE_VALUE) {
            Log(L"OpenStore %s Failed!Error Code:%d\r\n", storeName, LastError());
            continue;
        }
        PARTINFO info;
        bool found = CarriesStorageCard(store, storeName, info);
        if (found)
            ReformatStorageCard(store, info);
        CloseHandle(store);
        if (found)
            break;
    }
    NKDbgPrintfW(L"Fortmat Device Finished!\r\n");
    return 0;
}
