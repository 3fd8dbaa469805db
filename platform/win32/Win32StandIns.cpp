// What the device has and desktop Windows lacks, as small stand-ins: the storage manager
// and the touch-screen calibration.
//
// The storage manager knows the stores declared at start: "DSK1:" carries the volume
// "Storage Card", a folder of the device root, when that folder exists. Each store holds one
// partition, "Part00". Store and partition handles are real kernel objects (unnamed events),
// so the loader closes them with CloseHandle as on the device; the stand-in remembers what
// each handle stands for. A search handle is closed with FindClosePartition.
//
// A mounted volume's folder is held open without delete sharing, so the folder itself
// cannot be removed (the device cannot remove a mounted volume either); its content can.
// Dismounting takes the volume out of the name space as on the device: its folder is parked
// under another name in the root and an empty hidden file takes its name, so every path below
// the volume fails with ERROR_PATH_NOT_FOUND and the folder cannot be created anew. Mounting
// puts the folder back; a folder left parked by a run that ended while dismounted is put back
// at the next start.
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Win32.h"
#include "platform/common/Win32Failure.h"
#include "platform/storage/PartitionExports.h"
#include "platform/win32/Win32Runtime.h"

using quarrin::platform::Fail;

namespace {

bool g_touchCalibrated = false;

constexpr wchar_t kPartitionName[] = L"Part00";
constexpr wchar_t kCardVolume[] = L"Storage Card";
constexpr ULONGLONG kSectorBytes = 512;
constexpr BYTE kPartTypeFat32 = 0x0C;

// A volume's folder held open for reading, sharing everything but deletion, so that the
// folder itself cannot be removed or renamed while it is held.
class FolderHold {
public:
    FolderHold() = default;
    FolderHold(const FolderHold&) = delete;
    FolderHold& operator=(const FolderHold&) = delete;
    ~FolderHold() { Release(); }

    void Hold(const std::wstring& folder) {
        Release();
        m_handle = CreateFileW(folder.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    }
    void Release() {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

struct Store {
    std::wstring name;    // "DSK1:"
    std::wstring volume;  // the volume's folder in the device root, "Storage Card"
    std::wstring folder;  // its full path, "Q:\Storage Card"
    std::wstring parked;  // where the folder is while dismounted
    bool mounted = true;
    FolderHold hold;  // the folder, while mounted
};

std::wstring ParkedName(const std::wstring& folder) {
    return folder + L" (dismounted)";
}

bool IsFolder(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

constexpr DWORD kBlockingAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// The file that stands in a dismounted volume's place (no one else's file is removed).
bool IsBlockingFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (attributes & kBlockingAttributes) == kBlockingAttributes;
}

// Parks the folder and puts the blocking file in its place; ERROR_SUCCESS or the error.
DWORD TakeOut(const Store& store) {
    if (!MoveFileW(store.folder.c_str(), store.parked.c_str())) {
        DWORD error = GetLastError();
        // A volume whose folder is gone has nothing to park; it is blocked all the same.
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return error;
    }
    HANDLE block = CreateFileW(store.folder.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               kBlockingAttributes, nullptr);
    if (block != INVALID_HANDLE_VALUE)
        CloseHandle(block);
    return ERROR_SUCCESS;
}

// Removes the blocking file and puts the parked folder back; ERROR_SUCCESS or the error.
DWORD PutBack(const Store& store) {
    if (IsBlockingFile(store.folder)) {
        SetFileAttributesW(store.folder.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(store.folder.c_str()))
            return GetLastError();
    }
    if (IsFolder(store.parked) && !MoveFileW(store.parked.c_str(), store.folder.c_str()))
        return GetLastError();
    return ERROR_SUCCESS;
}

enum class HandleKind { Store, Search, Partition };

struct HandleRecord {
    HandleKind kind;
    std::shared_ptr<Store> store;
};

class StorageManager {
public:
    void Declare(const std::wstring& storeName, const std::wstring& volume) {
        auto store = std::make_shared<Store>();
        store->name = storeName;
        store->volume = volume;
        wchar_t full[MAX_PATH];
        DWORD length = GetFullPathNameW(volume.c_str(), MAX_PATH, full, nullptr);
        store->folder = length > 0 && length < MAX_PATH ? std::wstring(full, length) : volume;
        store->parked = ParkedName(store->folder);
        store->hold.Hold(store->folder);
        std::lock_guard guard(m_lock);
        m_stores.push_back(std::move(store));
    }

    std::shared_ptr<Store> FindStore(LPCWSTR name) {
        std::lock_guard guard(m_lock);
        for (const auto& store : m_stores) {
            if (_wcsicmp(store->name.c_str(), name) == 0)
                return store;
        }
        return nullptr;
    }

    // A new kernel object standing for the store; INVALID_HANDLE_VALUE when none is left.
    HANDLE Insert(HandleKind kind, std::shared_ptr<Store> store) {
        HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (handle == nullptr)
            return INVALID_HANDLE_VALUE;
        std::lock_guard guard(m_lock);
        // A value closed with CloseHandle may come back for a new object: the newest wins.
        m_handles[handle] = {kind, std::move(store)};
        return handle;
    }

    std::shared_ptr<Store> Lookup(HANDLE handle, HandleKind kind) {
        std::lock_guard guard(m_lock);
        auto it = m_handles.find(handle);
        if (it == m_handles.end() || it->second.kind != kind)
            return nullptr;
        return it->second.store;
    }

    void Remove(HANDLE handle) {
        std::lock_guard guard(m_lock);
        m_handles.erase(handle);
    }

    // Serialises mounting, dismounting and the formatter's look at the state.
    std::mutex& StateLock() { return m_stateLock; }

private:
    std::mutex m_lock;
    std::mutex m_stateLock;
    std::vector<std::shared_ptr<Store>> m_stores;
    std::map<HANDLE, HandleRecord> m_handles;
};

StorageManager& Storage() {
    static StorageManager storage;
    return storage;
}

// Wide text into a record field of 16-bit units, cut to leave room for the terminator.
template <std::size_t N>
void CopyName(char16_t (&field)[N], const std::wstring& text) {
    std::size_t used = 0;
    for (; used < text.size() && used + 1 < N; ++used)
        field[used] = static_cast<char16_t>(text[used]);
    field[used] = 0;
}

ULONGLONG SectorCountOf(const Store& store) {
    ULARGE_INTEGER total{};
    if (!GetDiskFreeSpaceExW(store.folder.c_str(), nullptr, &total, nullptr))
        return 0;
    return total.QuadPart / kSectorBytes;
}

}  // namespace

namespace quarrin::platform::win32 {

void SetTouchCalibrationResult(bool completed) {
    g_touchCalibrated = completed;
}

void DeclareDefaultStores() {
    // The device mounts its volumes at boot: a volume left dismounted by an earlier run
    // comes back, unless a folder of its name has appeared meanwhile.
    Store card;
    card.folder = kCardVolume;
    card.parked = ParkedName(kCardVolume);
    if (!IsFolder(card.folder) && (IsFolder(card.parked) || IsBlockingFile(card.folder)))
        PutBack(card);
    if (IsFolder(kCardVolume))
        Storage().Declare(L"DSK1:", kCardVolume);
}

}  // namespace quarrin::platform::win32

BOOL TouchCalibrate() {
    return g_touchCalibrated ? 1 : 0;
}

// A missing store gives ERROR_FILE_NOT_FOUND.
HANDLE OpenStore(LPCWSTR deviceName) {
    if (deviceName == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    auto store = Storage().FindStore(deviceName);
    if (!store)
        return Fail(ERROR_FILE_NOT_FOUND);
    return Storage().Insert(HandleKind::Store, std::move(store));
}

HANDLE FindFirstPartition(HANDLE store, PPARTINFO info) {
    auto found = Storage().Lookup(store, HandleKind::Store);
    if (!found)
        return Fail(ERROR_INVALID_HANDLE);
    if (info == nullptr || info->cbSize != sizeof(PARTINFO))
        return Fail(ERROR_INVALID_PARAMETER);
    *info = PARTINFO{};
    info->cbSize = sizeof(PARTINFO);
    CopyName(info->szPartitionName, kPartitionName);
    CopyName(info->szFileSys, L"FATFS");
    // The device names a mounted volume by its folder in the root: "\Storage Card".
    CopyName(info->szVolumeName, L"\\" + found->volume);
    info->snNumSectors = SectorCountOf(*found);
    info->bPartType = kPartTypeFat32;
    return Storage().Insert(HandleKind::Search, found);
}

BOOL FindClosePartition(HANDLE search) {
    if (!Storage().Lookup(search, HandleKind::Search))
        return Fail(ERROR_INVALID_HANDLE);
    Storage().Remove(search);
    CloseHandle(search);
    return TRUE;
}

// A missing partition gives ERROR_FILE_NOT_FOUND.
HANDLE OpenPartition(HANDLE store, LPCWSTR partitionName) {
    auto found = Storage().Lookup(store, HandleKind::Store);
    if (!found)
        return Fail(ERROR_INVALID_HANDLE);
    if (partitionName == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (_wcsicmp(partitionName, kPartitionName) != 0)
        return Fail(ERROR_FILE_NOT_FOUND);
    return Storage().Insert(HandleKind::Partition, std::move(found));
}

// A partition that is not mounted gives ERROR_NOT_READY.
BOOL DismountPartition(HANDLE partition) {
    auto found = Storage().Lookup(partition, HandleKind::Partition);
    if (!found)
        return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard guard(Storage().StateLock());
    if (!found->mounted)
        return Fail(ERROR_NOT_READY);
    found->hold.Release();
    if (DWORD error = TakeOut(*found)) {
        found->hold.Hold(found->folder);
        return Fail(error);
    }
    found->mounted = false;
    return TRUE;
}

// A partition that is mounted already gives ERROR_ALREADY_EXISTS.
BOOL MountPartition(HANDLE partition) {
    auto found = Storage().Lookup(partition, HandleKind::Partition);
    if (!found)
        return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard guard(Storage().StateLock());
    if (found->mounted)
        return Fail(ERROR_ALREADY_EXISTS);
    if (DWORD error = PutBack(*found))
        return Fail(error);
    found->mounted = true;
    found->hold.Hold(found->folder);
    return TRUE;
}

// The store's one partition fills it: its own name gives ERROR_ALREADY_EXISTS, any other
// ERROR_DISK_FULL.
BOOL CreatePartition(HANDLE store, LPCWSTR partitionName, ULONGLONG sectorCount) {
    if (!Storage().Lookup(store, HandleKind::Store))
        return Fail(ERROR_INVALID_HANDLE);
    if (partitionName == nullptr || sectorCount == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    if (_wcsicmp(partitionName, kPartitionName) == 0)
        return Fail(ERROR_ALREADY_EXISTS);
    return Fail(ERROR_DISK_FULL);
}

std::size_t QuarrinPartitionHostFolder(HANDLE partition, char* buffer, std::size_t capacity) {
    auto found = Storage().Lookup(partition, HandleKind::Partition);
    if (!found) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    std::lock_guard guard(Storage().StateLock());
    // A file system in use is never formatted under its users.
    if (found->mounted) {
        SetLastError(ERROR_BUSY);
        return 0;
    }
    if (!IsFolder(found->parked)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    std::string folder = quarrin::platform::win32::Utf8FromWide(found->parked);
    if (buffer == nullptr || folder.size() >= capacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    folder.copy(buffer, folder.size());
    buffer[folder.size()] = '\0';
    return folder.size();
}
