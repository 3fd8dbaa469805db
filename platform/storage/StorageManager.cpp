#include "platform/storage/StorageManager.h"

#include <sys/statvfs.h>

#include "platform/common/DeviceFileSystem.h"
#include "platform/common/Win32Failure.h"
#include "platform/kernel/Kernel.h"

namespace quarrin::platform {

using kernel::SetLastErrorValue;

struct StorageManager::Store {
    std::wstring name;  // as declared, "DSK2:"
    std::wstring volume;
    std::wstring partitionName = STORAGE_PARTITION_NAME;
    ULONGLONG sectorCount = 0;
};

namespace {

constexpr ULONGLONG kSectorBytes = 512;
constexpr BYTE kPartTypeFat32 = 0x0C;

class StoreObject : public kernel::KernelObject {
public:
    explicit StoreObject(std::shared_ptr<StorageManager::Store> store)
        : m_store(std::move(store)) {}
    std::shared_ptr<StorageManager::Store> m_store;
};

class PartitionObject : public kernel::KernelObject {
public:
    explicit PartitionObject(std::shared_ptr<StorageManager::Store> store)
        : m_store(std::move(store)) {}
    std::shared_ptr<StorageManager::Store> m_store;
};

// A store has one partition, so a search has nothing left after its first record.
class PartitionSearchObject : public kernel::KernelObject {};

// Wide text into a record field of 16-bit units, cut to leave room for the terminator.
template <std::size_t N>
void CopyName(char16_t (&field)[N], const std::wstring& text) {
    std::size_t used = 0;
    for (wchar_t c : text) {
        auto code = static_cast<char32_t>(c);
        std::size_t units = code > 0xFFFF ? 2 : 1;
        if (used + units >= N)
            break;
        if (units == 2) {
            code -= 0x10000;
            field[used++] = static_cast<char16_t>(0xD800 + (code >> 10));
            field[used++] = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            field[used++] = static_cast<char16_t>(code);
        }
    }
    field[used] = 0;
}

}  // namespace

StorageManager::StorageManager(DeviceFileSystem& files) : m_files(files) {}
StorageManager::~StorageManager() = default;

void StorageManager::DeclareStore(const std::wstring& storeName, const std::wstring& volume,
                                  ULONGLONG sectorCount) {
    auto store = std::make_shared<Store>();
    store->name = storeName;
    store->volume = volume;
    store->sectorCount = sectorCount;
    std::lock_guard guard(m_lock);
    m_stores[FoldCase(storeName)] = std::move(store);
}

void StorageManager::RemoveStore(const std::wstring& storeName) {
    std::lock_guard guard(m_lock);
    m_stores.erase(FoldCase(storeName));
}

void StorageManager::FailOperation(StorageOp op, DWORD error, int count) {
    std::lock_guard guard(m_lock);
    m_faults.push_back({op, error, count});
}

std::vector<std::wstring> StorageManager::OpenStoreCalls() const {
    std::lock_guard guard(m_lock);
    return m_openStoreCalls;
}

DWORD StorageManager::InjectedFault(StorageOp op) {
    std::lock_guard guard(m_lock);
    for (Fault& fault : m_faults) {
        if (fault.op == op && fault.remaining != 0) {
            if (fault.remaining > 0)
                --fault.remaining;
            return fault.error;
        }
    }
    return ERROR_SUCCESS;
}

std::shared_ptr<StorageManager::Store> StorageManager::FindStore(const std::wstring& name) const {
    std::lock_guard guard(m_lock);
    auto it = m_stores.find(FoldCase(name));
    return it == m_stores.end() ? nullptr : it->second;
}

ULONGLONG StorageManager::SectorCountOf(const Store& store) const {
    if (store.sectorCount != 0)
        return store.sectorCount;
    ResolvedPath folder = m_files.ResolveIgnoringMounts(store.volume.c_str());
    struct statvfs info {};
    if (!folder.IsDirectory() || statvfs(folder.host.c_str(), &info) != 0)
        return 0;
    return static_cast<ULONGLONG>(info.f_blocks) * info.f_frsize / kSectorBytes;
}

HANDLE StorageManager::OpenStore(LPCWSTR deviceName) {
    if (deviceName == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    {
        std::lock_guard guard(m_lock);
        m_openStoreCalls.emplace_back(deviceName);
    }
    if (DWORD error = InjectedFault(StorageOp::OpenStore))
        return Fail(error);
    auto store = FindStore(deviceName);
    if (!store)
        return Fail(ERROR_FILE_NOT_FOUND);
    return kernel::InsertHandle(std::make_shared<StoreObject>(store));
}

HANDLE StorageManager::FindFirstPartition(HANDLE store, PPARTINFO info) {
    auto object = kernel::LookupHandleAs<StoreObject>(store);
    if (!object)
        return Fail(ERROR_INVALID_HANDLE);
    if (info == nullptr || info->cbSize != sizeof(PARTINFO)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (DWORD error = InjectedFault(StorageOp::FindFirstPartition))
        return Fail(error);
    const Store& found = *object->m_store;
    *info = PARTINFO{};
    info->cbSize = sizeof(PARTINFO);
    CopyName(info->szPartitionName, found.partitionName);
    CopyName(info->szFileSys, L"FATFS");
    // The device names a mounted volume by its folder in the root: "\Storage Card".
    CopyName(info->szVolumeName, L"\\" + found.volume);
    info->snNumSectors = SectorCountOf(found);
    info->bPartType = kPartTypeFat32;
    return kernel::InsertHandle(std::make_shared<PartitionSearchObject>());
}

BOOL StorageManager::FindClosePartition(HANDLE search) {
    if (!kernel::LookupHandleAs<PartitionSearchObject>(search))
        return Fail(ERROR_INVALID_HANDLE);
    kernel::RemoveHandle(search);
    return TRUE;
}

HANDLE StorageManager::OpenPartition(HANDLE store, LPCWSTR partitionName) {
    auto object = kernel::LookupHandleAs<StoreObject>(store);
    if (!object)
        return Fail(ERROR_INVALID_HANDLE);
    if (partitionName == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (DWORD error = InjectedFault(StorageOp::OpenPartition))
        return Fail(error);
    if (FoldCase(partitionName) != FoldCase(object->m_store->partitionName)) {
        return Fail(ERROR_FILE_NOT_FOUND);
    }
    return kernel::InsertHandle(std::make_shared<PartitionObject>(object->m_store));
}

BOOL StorageManager::DismountPartition(HANDLE partition) {
    auto object = kernel::LookupHandleAs<PartitionObject>(partition);
    if (!object)
        return Fail(ERROR_INVALID_HANDLE);
    if (DWORD error = InjectedFault(StorageOp::DismountPartition))
        return Fail(error);
    const std::wstring& volume = object->m_store->volume;
    if (!m_files.IsVolumeMounted(volume))
        return Fail(ERROR_NOT_READY);
    m_files.SetVolumeMounted(volume, false);
    return TRUE;
}

BOOL StorageManager::MountPartition(HANDLE partition) {
    auto object = kernel::LookupHandleAs<PartitionObject>(partition);
    if (!object)
        return Fail(ERROR_INVALID_HANDLE);
    if (DWORD error = InjectedFault(StorageOp::MountPartition))
        return Fail(error);
    const std::wstring& volume = object->m_store->volume;
    if (m_files.IsVolumeMounted(volume))
        return Fail(ERROR_ALREADY_EXISTS);
    m_files.SetVolumeMounted(volume, true);
    return TRUE;
}

BOOL StorageManager::CreatePartition(HANDLE store, LPCWSTR partitionName, ULONGLONG sectorCount) {
    auto object = kernel::LookupHandleAs<StoreObject>(store);
    if (!object)
        return Fail(ERROR_INVALID_HANDLE);
    if (partitionName == nullptr || sectorCount == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    if (DWORD error = InjectedFault(StorageOp::CreatePartition))
        return Fail(error);
    if (FoldCase(partitionName) == FoldCase(object->m_store->partitionName)) {
        return Fail(ERROR_ALREADY_EXISTS);
    }
    return Fail(ERROR_DISK_FULL);
}

DWORD StorageManager::PartitionHostFolder(HANDLE partition, std::string& folder) {
    auto object = kernel::LookupHandleAs<PartitionObject>(partition);
    if (!object)
        return ERROR_INVALID_HANDLE;
    const std::wstring& volume = object->m_store->volume;
    if (m_files.IsVolumeMounted(volume))
        return ERROR_BUSY;
    ResolvedPath resolved = m_files.ResolveIgnoringMounts(volume.c_str());
    if (resolved.error != ERROR_SUCCESS)
        return resolved.error;
    if (!resolved.IsDirectory())
        return ERROR_PATH_NOT_FOUND;
    folder = resolved.host;
    return ERROR_SUCCESS;
}

}  // namespace quarrin::platform
