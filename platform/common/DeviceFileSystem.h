// The device's file system, kept in a directory of the host (the device root).
//
// Device paths map below the root; the first component is the volume folder ("ResidentFlash2",
// "Storage Card", "硬盘", "Windows", ...). Names match without regard to case. ".." is refused.
// A volume folder may be a symbolic link to a folder elsewhere (a real card's mount point);
// below a volume the device has no links: a link is left out of listings, a path that names
// it or passes through it gives ERROR_ACCESS_DENIED, and removing its folder removes the link
// itself. Entries a FAT volume cannot hold are judged by DeviceEntryRules.h. A volume may
// also be placed at a host folder of its own (SetVolumeFolder), with the same rules.
// The rules of the device hold: a file opened without sharing cannot be opened again, a
// read-only file cannot be written or deleted, a volume's root folder cannot be removed.
#pragma once

#include <dirent.h>
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
#include "platform/common/DeviceEntryRules.h"
#include "platform/common/FolderListingCache.h"
#include "platform/common/ShareTable.h"

namespace quarrin::platform {

class FolderObject;
class FolderEntries;

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

// Hears of the entries that a device volume cannot hold as the host holds them, as listings
// meet them: what the loader's log names in a "Device cannot hold" line. Without an observer
// only the log hears of them.
class ListingObserver {
public:
    virtual ~ListingObserver() = default;
    // An entry left out of the listing of `folder` (a device path). `hostName` is the entry's
    // name on the host; `reason` is ERROR_INVALID_NAME or ERROR_FILENAME_EXCED_RANGE for a name
    // a device volume cannot hold, ERROR_ACCESS_DENIED for a link below a volume (never
    // followed), ERROR_PATH_NOT_FOUND for a volume folder whose link leads to no usable folder.
    virtual void LeftOut(const std::wstring& folder, const std::string& hostName, DWORD reason) = 0;
    // An entry listed that no open reaches: a pipe, socket or device node, or a file of 4 GiB
    // or more (`kind`, DeviceEntryRules.h). Opening it gives ERROR_ACCESS_DENIED.
    virtual void Unopenable(const std::wstring& folder, const std::wstring& name,
                            EntryKind kind) = 0;
};

struct ResolvedPath {
    DWORD error = ERROR_SUCCESS;  // non-zero: the path cannot be used at all
    std::string host;             // host path of the entry (or where it would be created)
    bool exists = false;
    bool volume = false;    // the path names a volume's folder (or the device root)
    bool caseTwin = false;  // a listing found an earlier name of its folder that folds alike
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
    // the open would have succeeded). Reads leave access times alone where the host allows,
    // and each folder is listed once, as nothing can change it.
    void SetReadOnly(bool readOnly);
    bool ReadOnly() const { return m_readOnly; }
    // Puts the volume `volume` (first path component) at `hostFolder` instead of below the
    // root, as a volume folder that is a link to `hostFolder` would: the same rules hold
    // below it. Set before the file system is used.
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

    // Open files record their sharing here, and writes pass the hook.
    ShareTable& Shares() { return m_shares; }
    HookDecision RunHook(FileOp op, const std::wstring& devicePath);
    HookDecision RunTransferHook(FileOp op, const std::wstring& devicePath, std::size_t bytes);
    FileOperationHook* Hook() const { return m_hook; }

    // Folder handles for walks of whole trees (FolderWalk.cpp; FileApi.h tells the rules).
    HANDLE OpenFolder(LPCWSTR name);
    HANDLE FindFirstFileInFolder(HANDLE folder, LPWIN32_FIND_DATAW data);
    BOOL DeleteFileInFolder(HANDLE folder, LPCWSTR name, DWORD flags);
    BOOL CopyFileInFolder(HANDLE sourceFolder, LPCWSTR name, HANDLE targetFolder,
                          BOOL failIfExists);

    // One entry of a listing, as the device sees it.
    struct FindEntry {
        std::wstring name;
        struct stat info;
    };
    using Listing = std::shared_ptr<const std::vector<FindEntry>>;

private:
    // Resolves parts[first..] below the canonical folder `base` when their names all exist
    // with their exact case, or the last name only differs in case or is missing, without
    // links on the way: the common case, in a few host calls. Empty when the walk must decide.
    std::optional<ResolvedPath> ResolveDirect(const std::string& base,
                                              const std::vector<std::wstring>& parts,
                                              std::size_t first, bool allowWildcards) const;
    // Name by name; applies the link rules.
    ResolvedPath ResolveByWalk(const std::vector<std::wstring>& parts, bool allowWildcards) const;
    // The walk's names below the volume folder `volumeHost` (parts[1..]).
    ResolvedPath WalkBelowVolume(const std::string& volumeHost,
                                 const std::vector<std::wstring>& parts, bool allowWildcards) const;
    // The volume's folder; `linked` tells that a link at the top of the root led there.
    ResolvedPath ResolveVolume(const std::wstring& name, bool& linked) const;
    // The entries of a folder that the device sees, matching `pattern`, sorted by name; in
    // read-only mode from the folder's one listing. Null when the folder cannot be read.
    Listing ListFolder(const ResolvedPath& folder, const std::wstring& directory,
                       const std::wstring& pattern);
    // The entries of an open folder, with their types only (in read-only mode the folder's
    // one whole listing). Null with errno set when the folder cannot be read.
    Listing ListOpenFolder(const FolderObject& folder);
    bool ReadFolder(const ResolvedPath& folder, const std::wstring& directory,
                    const std::wstring& pattern, std::vector<FindEntry>& entries);
    // What a listing reads: the folder (its host path and device path), the names it keeps,
    // and whether each entry's attributes are fetched or only its type as the listing gives it.
    struct ListingRequest {
        const std::string& folderHost;
        const std::wstring& directory;
        const std::wstring& pattern;
        bool attributes;
    };
    enum class EntryVerdict { Listed, Skipped, Failed };
    // Reads the entries `source` gives; false with errno set when one cannot be examined.
    bool ReadEntries(FolderEntries& source, const ListingRequest& request,
                     std::vector<FindEntry>& entries);
    EntryVerdict ExamineEntry(int folderFd, const char* hostName, bool atRoot,
                              const ListingRequest& request, struct stat& info);
    // The host folder a volume is placed at with SetVolumeFolder, if it is.
    const std::string* PlacedVolume(const std::wstring& name) const;
    // Removes the links of a folder that holds nothing else (the device sees it empty);
    // ERROR_DIR_NOT_EMPTY, and nothing removed, when it holds anything else.
    DWORD RemoveLinksOnly(const std::string& host, const std::wstring& devicePath);
    // Reports an entry of `directory` that the device cannot hold as it is: to the log, and
    // to the observer.
    void ReportLeftOut(const std::wstring& directory, std::string_view hostName, DWORD reason,
                       const std::wstring& why);
    void ReportUnopenable(const std::wstring& directory, const std::wstring& name, EntryKind kind);
    void NoteCaseTwins(const std::string& folderHost, const std::wstring& directory,
                       const std::vector<FindEntry>& entries, bool wholeFolder);
    bool IsBelowCaseTwin(const std::string& host) const;
    void ForgetCaseTwins();
    static void ReportUnheld(const std::wstring& devicePath, const std::wstring& reason);
    // ERROR_SUCCESS for an existing entry whose content can be read or written as a file.
    static DWORD CheckFileContent(LPCWSTR devicePath, const ResolvedPath& path);
    // Keeps the folder listings in step with a change made here.
    void NoteAdded(const std::string& host);
    void NoteRemoved(const std::string& host);
    void NoteAdded(const std::string& folderHost, const std::string& name);
    void NoteRemoved(const std::string& folderHost, const std::string& name);
    // The checks of CreateFile on an entry resolved, before the hook.
    DWORD CheckOpen(LPCWSTR name, const ResolvedPath& path, DWORD access, DWORD share,
                    DWORD disposition);
    // Opens the resolved file for `access` (creating it when it does not exist); -1 with errno.
    int OpenHostFile(const ResolvedPath& path, DWORD access, DWORD flagsAndAttributes) const;
    // The checks of CopyFile on an existing target.
    DWORD CheckCopyTarget(LPCWSTR to, const ResolvedPath& target, BOOL failIfExists);
    // Copies the open source `in` to the open target `out` as the hook decided, carries the
    // read-only attribute over, and closes both.
    DWORD TransferContents(int in, int out, const HookDecision& decision,
                           const struct stat& source);
    // DeleteFile, and with DELETE_IN_FOLDER_READ_ONLY a read-only file's attributes reset.
    BOOL DeleteByPath(const std::wstring& path, DWORD flags);
    // Whether the folder holds no name that folds like `name`, as far as its handle knows.
    bool IsNewName(FolderObject& folder, LPCWSTR name);
    BOOL CopyToNewName(const FolderObject& from, FolderObject& to, LPCWSTR name,
                       const std::string& hostName);

    std::string m_root;  // canonical host path, no trailing slash
    FileOperationHook* m_hook = nullptr;
    ListingObserver* m_observer = nullptr;
    bool m_readOnly = false;
    // Folded volume name -> its host folder, canonical when it could be made so.
    std::map<std::wstring, std::string> m_placedVolumes;
    // Read-only mode: host folder -> its whole listing.
    std::map<std::string, Listing> m_readListings;
    std::mutex m_lock;
    ShareTable m_shares;
    std::map<std::wstring, ULONGLONG> m_freeSpace;  // folded volume name -> bytes
    mutable std::mutex m_mountLock;
    std::set<std::wstring> m_dismounted;  // folded volume names
    mutable FolderListingCache m_listings;
    // Names a listing found to fold like an earlier name of their folder: host folder ->
    // host names. Nothing at or below them can be opened.
    mutable std::mutex m_twinLock;
    std::map<std::string, std::set<std::string>> m_caseTwins;
    std::atomic<bool> m_anyCaseTwins{false};
    mutable std::atomic<bool> m_directResolve{true};  // false where the host lacks openat2
};

// Windows wildcard match ('*', '?'), without regard to case; "*.*" matches every name.
bool MatchesWildcard(std::wstring_view pattern, std::wstring_view name);
// Folds a name for comparison without regard to case.
std::wstring FoldCase(std::wstring_view name);
// One character folded as FoldCase folds it.
wchar_t FoldCharacter(wchar_t c);

}  // namespace quarrin::platform
