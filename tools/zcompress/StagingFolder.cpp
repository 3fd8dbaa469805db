#include "tools/zcompress/StagingFolder.h"

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "tools/package/EntryRule.h"

namespace quarrin::zcompress {

namespace {

// Leftovers set aside are tried again at every run; a unit never gathers more than a few.
constexpr int kMaxKeptLeftovers = 100;

struct FolderEntry {
    std::wstring name;
    bool isFolder = false;
};

bool IsGone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

std::wstring Child(const std::wstring& folder, const std::wstring& name) {
    return folder + L"\\" + name;
}

// The entries of a folder without "." and ".."; false when the folder cannot be listed.
// The listing is complete before the caller changes anything in the folder.
bool ListFolder(const std::wstring& folder, std::vector<FolderEntry>& entries) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    do {
        std::wstring name(found.cFileName);
        if (name != L"." && name != L"..")
            entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

// A read-only file or folder goes once its attributes are reset.
bool RemoveOne(const std::wstring& path, bool isFolder) {
    auto remove = [&path, isFolder] {
        return isFolder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
    };
    if (remove())
        return true;
    if (GetLastError() == ERROR_ACCESS_DENIED &&
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL) && remove()) {
        return true;
    }
    return IsGone(GetLastError());
}

std::wstring WithoutTrailingSeparators(std::wstring path) {
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    return path;
}

// One line to the debug output: the loader's own on the host, where the library calls into
// the executable that loaded it; the system's under Windows.
void LogLine(const std::wstring& text) {
#ifdef _WIN32
    OutputDebugStringW((text + L"\r\n").c_str());
#else
    NKDbgPrintfW(L"%s\r\n", text.c_str());
#endif
}

bool IsFolder(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Whether a top-level name is the application folder ("ZEL", in any case).
bool IsApplicationFolder(const std::wstring& name) {
    std::wstring_view program = package::PROGRAM_ENTRY_PATH;
    std::wstring_view folder = program.substr(0, program.find(L'\\'));
    return std::equal(name.begin(), name.end(), folder.begin(), folder.end(),
                      [](wchar_t a, wchar_t b) { return std::towupper(a) == std::towupper(b); });
}

}  // namespace

bool RemoveWholeTree(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return IsGone(GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return RemoveOne(path, false);
    // Breadth first with a list instead of recursion: a package may nest folders deeply.
    std::vector<std::wstring> folders{path};
    bool removed = true;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        std::vector<FolderEntry> entries;
        ListFolder(folders[i], entries);
        for (const FolderEntry& entry : entries) {
            std::wstring child = Child(folders[i], entry.name);
            if (entry.isFolder) {
                folders.push_back(std::move(child));
            } else if (!RemoveOne(child, false)) {
                removed = false;
            }
        }
    }
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        if (!RemoveOne(*it, true))
            removed = false;
    }
    return removed;
}

StagingFolder::StagingFolder(const std::wstring& destination)
    : m_destination(WithoutTrailingSeparators(destination)),
      m_work(Child(m_destination, std::wstring(package::INSTALLER_WORK_FOLDER))),
      m_staged(Child(m_work, L"New")),
      m_replaced(Child(m_work, L"Old")) {}

bool StagingFolder::Prepare() {
    if (RemoveWholeTree(m_work)) {
        if (!CreateDirectoryW(m_work.c_str(), nullptr))
            return false;
    } else if (!SetAsideLeftovers()) {
        return false;
    }
    return CreateDirectoryW(m_staged.c_str(), nullptr);
}

// What the removal could not take (a name the device cannot see, a folder it may not list)
// would otherwise fail every later run, restores from the backup included: the staging and
// replaced parts go aside under a name of their own instead, and each run tries again to
// remove them with the rest of the work folder.
bool StagingFolder::SetAsideLeftovers() {
    if (!IsFolder(m_work))
        return false;
    for (const std::wstring* part : {&m_staged, &m_replaced}) {
        if (GetFileAttributesW(part->c_str()) == INVALID_FILE_ATTRIBUTES &&
            IsGone(GetLastError())) {
            continue;
        }
        std::wstring kept = UnusedName(L"Kept");
        if (kept.empty() || !MoveFileW(part->c_str(), kept.c_str()))
            return false;
        LogLine(L"Unpack leftover " + *part + L" cannot be removed, kept as " + kept);
    }
    return true;
}

// "<work>\<stem>1", "<work>\<stem>2", ...: the first that does not exist, or empty.
std::wstring StagingFolder::UnusedName(const std::wstring& stem) const {
    for (int n = 1; n <= kMaxKeptLeftovers; ++n) {
        std::wstring name = Child(m_work, stem + std::to_wstring(n));
        if (GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES && IsGone(GetLastError()))
            return name;
    }
    return L"";
}

bool StagingFolder::Commit() {
    std::vector<FolderEntry> top;
    if (!ListFolder(m_staged, top))
        return false;
    auto application = std::find_if(top.begin(), top.end(), [](const FolderEntry& entry) {
        return IsApplicationFolder(entry.name);
    });
    // Other folders join what is there, as the package's files used to be written into
    // them; the application folder is replaced whole, last, in one rename.
    std::vector<std::wstring> folders{L""};
    while (!folders.empty()) {
        std::wstring folder = std::move(folders.back());
        folders.pop_back();
        std::vector<FolderEntry> entries;
        if (!folder.empty() && !ListFolder(Child(m_staged, folder), entries))
            return false;
        for (const FolderEntry& entry : folder.empty() ? top : entries) {
            if (folder.empty() && IsApplicationFolder(entry.name))
                continue;
            std::wstring relative = folder.empty() ? entry.name : Child(folder, entry.name);
            if (entry.isFolder && IsFolder(Child(m_destination, relative))) {
                folders.push_back(std::move(relative));
            } else if (!PutInPlace(relative)) {
                return false;
            }
        }
    }
    return application == top.end() || PutInPlace(application->name);
}

// One rename puts a staged entry in place; what it replaces was renamed aside just before,
// and goes back when the entry cannot take its place.
bool StagingFolder::PutInPlace(const std::wstring& relative) {
    std::wstring staged = Child(m_staged, relative);
    std::wstring target = Child(m_destination, relative);
    std::wstring aside;
    if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (m_setAside == 0)
            CreateDirectoryW(m_replaced.c_str(), nullptr);
        aside = Child(m_replaced, std::to_wstring(++m_setAside));
        if (!MoveFileW(target.c_str(), aside.c_str()))
            return false;
    }
    if (MoveFileW(staged.c_str(), target.c_str()))
        return true;
    if (!aside.empty())
        MoveFileW(aside.c_str(), target.c_str());
    return false;
}

bool StagingFolder::Discard() {
    return RemoveWholeTree(m_work);
}

}  // namespace quarrin::zcompress
