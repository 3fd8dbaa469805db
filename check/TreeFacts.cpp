#include "check/TreeFacts.h"

#include <deque>
#include <set>

#include "check/TextHelpers.h"
#include "workers/TreeOperations.h"

namespace {

struct PendingFolder {
    std::wstring path;
    bool counted;  // the worker's count enters it (no folder on the way begins with a dot)
};

bool Has(const WIN32_FIND_DATAW& entry, DWORD attribute) {
    return (entry.dwFileAttributes & attribute) != 0;
}

void NoteName(TreeFacts& facts, std::set<std::wstring>& seen, const std::wstring& path,
              const std::wstring& name, bool top) {
    if (name.find(L'\\') != std::wstring::npos) {
        facts.slashNames.push_back(path);
        facts.slashNameAtTop = facts.slashNameAtTop || top;
    }
    if (name.find(L'\uFFFD') != std::wstring::npos)
        facts.undecodable.push_back(path);
    if (!seen.insert(FoldName(name)).second)
        facts.caseTwins.push_back(path);
}

void NoteEntry(TreeFacts& facts, const PendingFolder& folder, const WIN32_FIND_DATAW& entry,
               bool top, std::deque<PendingFolder>& queue) {
    std::wstring path = folder.path + L"\\" + entry.cFileName;
    bool link = Has(entry, FILE_ATTRIBUTE_REPARSE_POINT);
    if (Has(entry, FILE_ATTRIBUTE_DIRECTORY)) {
        if (link) {
            facts.folderLinks.push_back(path);
        } else if (CopiesSubfolder(entry)) {
            bool counted = folder.counted && CollectsSubfolder(entry);
            if (folder.counted && !counted)
                facts.dotFolders.push_back(path);
            queue.push_back({path, counted});
        }
        return;
    }
    if (link)
        facts.fileLinks.push_back(path);
    facts.files += 1;
    facts.bytes += static_cast<ULONGLONG>(entry.nFileSizeHigh) << 32 | entry.nFileSizeLow;
    if (!folder.counted)
        facts.filesInDotFolders += 1;
    if (top)
        facts.topFileNames.push_back(entry.cFileName);
}

void WalkFolder(TreeFacts& facts, const PendingFolder& folder, bool top,
                std::deque<PendingFolder>& queue) {
    facts.folders += 1;
    if (folder.counted && (GetFileAttributesW(folder.path.c_str()) & FILE_ATTRIBUTE_READONLY))
        facts.readOnlyFolders.push_back(folder.path);
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileW((folder.path + L"\\*.*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    std::set<std::wstring> seen;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        NoteName(facts, seen, folder.path + L"\\" + name, name, top);
        NoteEntry(facts, folder, entry, top, queue);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

}  // namespace

TreeFacts GatherTreeFacts(const std::wstring& root, const CheckEnvironment& environment,
                          const std::wstring& progressName) {
    TreeFacts facts;
    DWORD attributes = GetFileAttributesW(root.c_str());
    facts.exists =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!facts.exists)
        return facts;
    std::deque<PendingFolder> queue{{root, true}};
    int walked = 0;
    int lastShown = -1;
    while (!queue.empty()) {
        PendingFolder folder = std::move(queue.front());
        queue.pop_front();
        WalkFolder(facts, folder, walked == 0, queue);
        walked += 1;
        int percent = walked * 100 / (walked + static_cast<int>(queue.size()));
        bool large = facts.files >= PROGRESS_TREE_FILES;
        if (!progressName.empty() && large && percent != lastShown) {
            environment.Progress(progressName, percent);
            lastShown = percent;
        }
    }
    facts.leftOut = environment.LeftOutBelow(root);
    return facts;
}

std::wstring TreeDeletionObstacle(const std::wstring& root, const CheckEnvironment& environment) {
    TreeFacts facts = GatherTreeFacts(root, environment);
    if (!facts.exists)
        return L"";
    if (!facts.folderLinks.empty())
        return facts.folderLinks.front() + L" is a link to a folder, which the deletion follows";
    if (!facts.dotFolders.empty())
        return facts.dotFolders.front() +
               L" begins with a dot: the deletion never collects it, so its folder stays";
    if (!facts.readOnlyFolders.empty())
        return L"the folder " + facts.readOnlyFolders.front() + L" is read-only";
    if (!facts.leftOut.empty()) {
        const LeftOutEntry& hidden = facts.leftOut.front();
        return hidden.folder + L" holds " + hidden.name +
               L", which the device cannot list, so its folder stays";
    }
    return L"";
}

std::vector<LeftOutEntry> CheckEnvironment::LeftOutBelow(const std::wstring& folder) const {
    std::vector<LeftOutEntry> below;
    if (!leftOut)
        return below;
    std::wstring prefix = FoldName(folder);
    for (LeftOutEntry& entry : leftOut()) {
        std::wstring at = FoldName(entry.folder);
        if (at == prefix || at.compare(0, prefix.size() + 1, prefix + L"\\") == 0)
            below.push_back(std::move(entry));
    }
    return below;
}
