// The storage-manager functions: each one hands over to the installed storage manager.
#include "platform/api/StorageApi.h"

#include <cstring>

#include "platform/Platform.h"
#include "platform/kernel/Kernel.h"
#include "platform/storage/PartitionExports.h"
#include "platform/storage/StorageManager.h"

using quarrin::kernel::SetLastErrorValue;
using quarrin::platform::CurrentServices;

namespace {

// Without a storage manager the device has no stores.
quarrin::platform::StorageManager* Storage() {
    auto* storage = CurrentServices().storage;
    if (storage == nullptr)
        SetLastErrorValue(ERROR_FILE_NOT_FOUND);
    return storage;
}

}  // namespace

HANDLE OpenStore(LPCWSTR deviceName) {
    auto* storage = Storage();
    return storage ? storage->OpenStore(deviceName) : INVALID_HANDLE_VALUE;
}

HANDLE FindFirstPartition(HANDLE store, PPARTINFO info) {
    auto* storage = Storage();
    return storage ? storage->FindFirstPartition(store, info) : INVALID_HANDLE_VALUE;
}

BOOL FindClosePartition(HANDLE search) {
    auto* storage = Storage();
    return storage ? storage->FindClosePartition(search) : FALSE;
}

HANDLE OpenPartition(HANDLE store, LPCWSTR partitionName) {
    auto* storage = Storage();
    return storage ? storage->OpenPartition(store, partitionName) : INVALID_HANDLE_VALUE;
}

BOOL DismountPartition(HANDLE partition) {
    auto* storage = Storage();
    return storage ? storage->DismountPartition(partition) : FALSE;
}

BOOL MountPartition(HANDLE partition) {
    auto* storage = Storage();
    return storage ? storage->MountPartition(partition) : FALSE;
}

BOOL CreatePartition(HANDLE store, LPCWSTR partitionName, ULONGLONG sectorCount) {
    auto* storage = Storage();
    return storage ? storage->CreatePartition(store, partitionName, sectorCount) : FALSE;
}

std::size_t QuarrinPartitionHostFolder(HANDLE partition, char* buffer, std::size_t capacity) {
    auto* storage = Storage();
    if (storage == nullptr)
        return 0;
    std::string folder;
    DWORD error = storage->PartitionHostFolder(partition, folder);
    if (error == ERROR_SUCCESS && (buffer == nullptr || folder.size() >= capacity)) {
        error = ERROR_INSUFFICIENT_BUFFER;
    }
    if (error != ERROR_SUCCESS) {
        SetLastErrorValue(error);
        return 0;
    }
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return folder.size();
}
