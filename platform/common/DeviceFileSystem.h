// The device's file system, kept in a directory of the host (the device root).
//
// Device paths map below the root; the first component is the volume folder ("ResidentFlash2",
// "Storage Card", "硬盘", "Windows", ...). Names match without regard to case. No path reaches
// outside the root: ".." is refused, and symbolic links that lead outside are refused.
// The rules of the device hold: a file opened without sharing cannot be opened again, a
// read-only file cannot be written or deleted, a volume's root folder cannot be removed.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Win32Types.h"
#include "platform/common/FolderListingCache.h"

namespace quarrin::platform {

// Every operation that may change the device, and the opens, pass through one hook, so a
// test can fail any of them or cut the power at any of them.
enum class FileOp {
    Open,    // an open that neither creates nor truncates
    Create,  // an open that creates or truncates
    Write,
    Delete,
    Move,
    Copy,
    CreateDirectory,
    RemoveDirectory,
    SetAttributes,
    SetEndOfFile,
};

bool IsMutating(FileOp op);

struct HookDecision {
    DWORD error = ERROR_SUCCESS;           // non-zero: the operation fails with this code
    std::optional<std::size_t> tornBytes;  // Write/Copy: only this many bytes reach the file
};

class FileOperationHook {
public:
    virtual ~FileOperationHook() = default;
    virtual HookDecision Before(FileOp op, const std::wstring& devicePath) = 0;
    // A write or copy of `bytes` bytes; lets a hook tear it at a point relative to its size.
    virtual HookDecision BeforeTransfer(FileOp op, const std::wstring& devicePath,
                                        std::size_t bytes) {
        (void)bytes;
        return Before(op, devicePath);
    }
    // Called after a torn write has reached the file (the power-cut injector dies here).
    virtual void AfterTornWrite() {}
};

// Hears of the entries that a listing leaves out: names the device cannot hold, links that
// lead outside the device root or nowhere. Without an observer they vanish without a word.
class ListingObserver {
public:
    virtual ~ListingObserver() = default;
    // `folder` is the device path of the folder listed, `hostName` the entry's name on the
    // host, `reason` ERROR_INVALID_NAME, ERROR_ACCESS_DENIED (a link out of the root) or
    // ERROR_FILE_NOT_FOUND (a link to nothing).
    virtual void LeftOut(const std::wstring& folder, const std::string& hostName, DWORD reason) = 0;
};

struct ResolvedPath {
    DWORD error = ERROR_SUCCESS;  // non-zero: the path cannot be used at all
    std::string host;             // host path of the entry (or where it would be created)
    bool exists = false;
    struct stat info {};
    bool IsDirectory() const { return exists && S_ISDIR(info.st_mode); }
};

class DeviceFileSystem {
public:
    explicit DeviceFileSystem(std::string hostRoot);
    ~DeviceFileSystem();

    const std::string& Root() const { return m_root; }
    void SetHook(FileOperationHook* hook) { m_hook = hook; }
    // Read-only mode: every mutating operation fails with ERROR_WRITE_PROTECT, and so does an
    // open for writing once every other rule of the open has passed (so that a caller learns
    // the open would have succeeded). Reads leave access times alone where the host allows.
    void SetReadOnly(bool readOnly);
    bool ReadOnly() const { return m_readOnly; }
    // Puts the volume `volume` (first path component) at `hostFolder` instead of below the
    // root: its paths resolve below that folder with the same rules. The device root's own
    // listing does not show it.
    void SetVolumeFolder(const std::wstring& volume, const std::string& hostFolder);
    void SetListingObserver(ListingObserver* observer) { m_observer = observer; }
    // Reports this many free bytes for the volume (first path component) instead of the host's.
    void SetFreeSpaceOverride(const std::wstring& volume, ULONGLONG bytes);

    ResolvedPath Resolve(const wchar_t* devicePath, bool allowWildcards = false) const;
    // The storage manager reaches a volume's folder also while its partition is dismounted.
    ResolvedPath ResolveIgnoringMounts(const wchar_t* devicePath,
                                       bool allowWildcards = false) const;

    // The mount table: a dismounted volume (first path component) and every path below it
    // give ERROR_PATH_NOT_FOUND until it is mounted again. Every volume starts mounted.
    void SetVolumeMounted(const std::wstring& volume, bool mounted);
    bool IsVolumeMounted(const std::wstring& volume) const;

    HANDLE CreateFile(LPCWSTR name, DWORD access, DWORD share, DWORD disposition,
                      DWORD flagsAndAttributes);
    BOOL DeleteFile(LPCWSTR name);
    BOOL MoveFile(LPCWSTR from, LPCWSTR to);
    BOOL CopyFile(LPCWSTR from, LPCWSTR to, BOOL failIfExists);
    BOOL CreateDirectory(LPCWSTR name);
    BOOL RemoveDirectory(LPCWSTR name);
    HANDLE FindFirstFile(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
    static BOOL FindNextFile(HANDLE search, LPWIN32_FIND_DATAW data);
    DWORD GetFileAttributes(LPCWSTR name);
    BOOL SetFileAttributes(LPCWSTR name, DWORD attributes);
    BOOL GetDiskFreeSpaceEx(LPCWSTR directory, ULONGLONG* available, ULONGLONG* total,
                            ULONGLONG* totalFree);

    // Used by open files: sharing bookkeeping and the hook.
    struct OpenRecord {
        DWORD access;
        DWORD share;
    };
    using FileKey = std::pair<dev_t, ino_t>;
    DWORD CheckSharing(const FileKey& key, DWORD access, DWORD share);
    void AddOpen(const FileKey& key, const OpenRecord* record);
    void RemoveOpen(const FileKey& key, const OpenRecord* record);
    HookDecision RunHook(FileOp op, const std::wstring& devicePath);
    HookDecision RunTransferHook(FileOp op, const std::wstring& devicePath, std::size_t bytes);
    FileOperationHook* Hook() const { return m_hook; }

private:
    // Resolves a path whose names all exist with their exact case, or whose last name only
    // differs in case or is missing, without links on the way: the common case, in a few
    // host calls. Empty when the full walk must decide.
    std::optional<ResolvedPath> ResolveDirect(const std::vector<std::wstring>& parts,
                                              bool allowWildcards) const;
    ResolvedPath ResolveByWalk(const std::vector<std::wstring>& parts, bool allowWildcards) const;
    // Resolves a path of a volume set with SetVolumeFolder; empty for any other path.
    std::optional<ResolvedPath> ResolveInVolumeFolder(const std::vector<std::wstring>& parts,
                                                      bool allowWildcards) const;
    // Keeps the folder listings in step with a change made here.
    void NoteAdded(const std::string& host);
    void NoteRemoved(const std::string& host);
    bool IsVolumeRoot(const std::string& host) const;
    // The entries of the folder at `host` that the device shows, sorted by name; read once
    // per folder in read-only mode. Null when the folder cannot be read (errno set).
    struct FolderListing;
    std::shared_ptr<const FolderListing> ListFolder(const std::string& host,
                                                    const std::wstring& directory);
    DWORD CheckNoOpens(const FileKey& key);

    std::string m_root;  // canonical host path, no trailing slash
    FileOperationHook* m_hook = nullptr;
    ListingObserver* m_observer = nullptr;
    bool m_readOnly = false;
    // Folded volume name -> a file system rooted at the volume's own folder.
    std::map<std::wstring, std::unique_ptr<DeviceFileSystem>> m_volumeFolders;
    std::map<std::string, std::shared_ptr<const FolderListing>> m_readListings;  // read-only
    std::mutex m_lock;
    std::map<FileKey, std::vector<const OpenRecord*>> m_opens;
    std::map<std::wstring, ULONGLONG> m_freeSpace;  // folded volume name -> bytes
    mutable std::mutex m_mountLock;
    std::set<std::wstring> m_dismounted;  // folded volume names
    mutable FolderListingCache m_listings;
    mutable std::atomic<bool> m_directResolve{true};  // false where the host lacks openat2
};

// Windows wildcard match ('*', '?'), without regard to case; "*.*" matches every name.
bool MatchesWildcard(std::wstring_view pattern, std::wstring_view name);
// Folds a name for comparison without regard to case.
std::wstring FoldCase(std::wstring_view name);

}  // namespace quarrin::platform
