// The storage manager behind the storage API: the declared stores, each with one partition
// whose volume is a folder of the device root, and the partition handles.
//
// Mounting and dismounting change the mount table of the device file system, so file
// operations see a dismounted volume as gone. Each call can be made to fail from a test.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Win32Types.h"
#include "platform/api/StorageApi.h"

namespace quarrin::platform {

class DeviceFileSystem;

enum class StorageOp {
    OpenStore,
    FindFirstPartition,
    OpenPartition,
    DismountPartition,
    MountPartition,
    CreatePartition,
};

inline constexpr wchar_t STORAGE_PARTITION_NAME[] = L"Part00";

class StorageManager {
public:
    explicit StorageManager(DeviceFileSystem& files);
    ~StorageManager();

    // Declares the store "DSKn:" holding "Part00" whose volume is the device folder `volume`.
    // sectorCount 0 takes the size of the host file system that holds the folder.
    void DeclareStore(const std::wstring& storeName, const std::wstring& volume,
                      ULONGLONG sectorCount = 0);
    void RemoveStore(const std::wstring& storeName);
    // The next `count` calls of `op` fail with `error`; count -1 fails all of them.
    void FailOperation(StorageOp op, DWORD error, int count = 1);
    // The store names passed to OpenStore so far, in order, the failed ones included.
    std::vector<std::wstring> OpenStoreCalls() const;

    HANDLE OpenStore(LPCWSTR deviceName);
    HANDLE FindFirstPartition(HANDLE store, PPARTINFO info);
    BOOL FindClosePartition(HANDLE search);
    HANDLE OpenPartition(HANDLE store, LPCWSTR partitionName);
    BOOL DismountPartition(HANDLE partition);
    BOOL MountPartition(HANDLE partition);
    BOOL CreatePartition(HANDLE store, LPCWSTR partitionName, ULONGLONG sectorCount);

    // The host folder of a dismounted partition's volume, for the formatter. A mounted one
    // gives ERROR_BUSY: a file system in use is never formatted under its users.
    DWORD PartitionHostFolder(HANDLE partition, std::string& folder);

    struct Store;

private:
    DWORD InjectedFault(StorageOp op);
    std::shared_ptr<Store> FindStore(const std::wstring& name) const;
    ULONGLONG SectorCountOf(const Store& store) const;

    struct Fault {
        StorageOp op;
        DWORD error;
        int remaining;
    };
    DeviceFileSystem& m_files;
    mutable std::mutex m_lock;
    std::map<std::wstring, std::shared_ptr<Store>> m_stores;  // folded store name
    std::vector<Fault> m_faults;
    std::vector<std::wstring> m_openStoreCalls;
};

}  // namespace quarrin::platform
