#include "check/TreeFacts.h"

#include <deque>

#include "check/SourceChecks.h"
#include "check/TextHelpers.h"
#include "platform/common/DeviceEntryRules.h"
#include "workers/TreeOperations.h"

namespace {

struct PendingFolder {
    std::wstring path;
    bool counted;    // the worker's count enters it (no folder on the way begins with a dot)
    bool belowTwin;  // it is a case twin, or lies below one: nothing in it opens
};

bool Has(const WIN32_FIND_DATAW& entry, DWORD attribute) {
    return (entry.dwFileAttributes & attribute) != 0;
}

bool IsAtOrBelow(const std::wstring& path, const std::wstring& folder) {
    std::wstring p = FoldName(path);
    std::wstring f = FoldName(folder);
    return p == f || p.compare(0, f.size() + 1, f + L"\\") == 0;
}

void NoteFile(TreeFacts& facts, const PendingFolder& folder, const WIN32_FIND_DATAW& entry,
              bool twin) {
    facts.files += 1;
    if (facts.folders == 1)
        facts.topFiles += 1;
    if (!folder.counted)
        facts.filesInDotFolders += 1;
    ULONGLONG size = static_cast<ULONGLONG>(entry.nFileSizeHigh) << 32 | entry.nFileSizeLow;
    // A FAT volume cannot hold a file this large: the device lists it but never opens it.
    bool tooLarge = size > quarrin::platform::DEVICE_MAX_FILE_BYTES;
    if (twin || folder.belowTwin || tooLarge) {
        facts.unopenableFiles += 1;
        if (tooLarge && !folder.belowTwin)
            facts.unopenable.push_back(folder.path + L"\\" + entry.cFileName);
        return;
    }
    facts.bytes += size;
}

void NoteEntry(TreeFacts& facts, const PendingFolder& folder, const WIN32_FIND_DATAW& entry,
               bool twin, std::deque<PendingFolder>& queue) {
    if (twin && !folder.belowTwin)
        facts.caseTwins.push_back(folder.path + L"\\" + entry.cFileName);
    if (!Has(entry, FILE_ATTRIBUTE_DIRECTORY)) {
        NoteFile(facts, folder, entry, twin);
        return;
    }
    if (!CopiesSubfolder(entry))
        return;
    std::wstring path = folder.path + L"\\" + entry.cFileName;
    bool counted = folder.counted && CollectsSubfolder(entry);
    if (folder.counted && !counted)
        facts.dotFolders.push_back(path);
    queue.push_back({path, counted, folder.belowTwin || twin});
}

void WalkFolder(TreeFacts& facts, const PendingFolder& folder, std::deque<PendingFolder>& queue) {
    facts.folders += 1;
    if (folder.counted && (GetFileAttributesW(folder.path.c_str()) & FILE_ATTRIBUTE_READONLY))
        facts.readOnlyFolders.push_back(folder.path);
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileW((folder.path + L"\\*.*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        // ERROR_FILE_NOT_FOUND: a folder without entries.
        if (DWORD error = GetLastError(); error != ERROR_FILE_NOT_FOUND)
            facts.unlistedFolders.push_back({folder.path, error});
        return;
    }
    // The device's own rule, over the listing in the device's order.
    quarrin::platform::CaseTwinFilter twins;
    do {
        bool twin = twins.EarlierTwin(entry.cFileName).has_value();
        NoteEntry(facts, folder, entry, twin, queue);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

// Pipes and device nodes are listed like files; the listings tell which they are.
void NoteUnheld(TreeFacts& facts, const std::wstring& root, const CheckEnvironment& environment) {
    for (UnheldEntry& entry : environment.UnheldBelow(root)) {
        if (!entry.Listed()) {
            facts.leftOut.push_back(std::move(entry));
            continue;
        }
        if (entry.kind != UnheldEntry::NOT_A_FILE)
            continue;  // a file of 4 GiB or more: the walk saw its size
        bool belowTwin = false;
        for (const std::wstring& twin : facts.caseTwins)
            belowTwin = belowTwin || IsAtOrBelow(entry.Path(), twin);
        if (!belowTwin) {
            facts.unopenableFiles += 1;
            facts.unopenable.push_back(entry.Path());
        }
    }
}

}  // namespace

TreeFacts GatherTreeFacts(const std::wstring& root, const CheckEnvironment& environment,
                          const std::wstring& progressName) {
    TreeFacts facts;
    DWORD attributes = GetFileAttributesW(root.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            facts.error = error;
        return facts;
    }
    facts.rootIsFile = (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    facts.exists = !facts.rootIsFile;
    if (!facts.exists)
        return facts;
    std::deque<PendingFolder> queue{{root, true, false}};
    int walked = 0;
    int lastShown = -1;
    while (!queue.empty()) {
        PendingFolder folder = std::move(queue.front());
        queue.pop_front();
        WalkFolder(facts, folder, queue);
        walked += 1;
        int percent = walked * 100 / (walked + static_cast<int>(queue.size()));
        bool large = facts.files >= PROGRESS_TREE_FILES;
        if (!progressName.empty() && large && percent != lastShown) {
            environment.Progress(progressName, percent);
            lastShown = percent;
        }
    }
    NoteUnheld(facts, root, environment);
    return facts;
}

std::wstring TreeDeletionObstacle(const std::wstring& root, const CheckEnvironment& environment) {
    TreeFacts facts = GatherTreeFacts(root, environment);
    if (facts.error != ERROR_SUCCESS)
        return root + L" cannot be reached (" + ErrorText(facts.error) +
               L"), so it cannot be removed";
    if (facts.rootIsFile)
        return root + L" is a file, which the deletion of a folder does not remove";
    if (!facts.exists)
        return L"";
    if (!facts.dotFolders.empty())
        return facts.dotFolders.front() +
               L" begins with a dot: the deletion never collects it, so its folder stays";
    if (!facts.readOnlyFolders.empty())
        return L"the folder " + facts.readOnlyFolders.front() + L" is read-only";
    // A folder that holds nothing but links goes with them; a name the device cannot list
    // keeps its folder.
    for (const UnheldEntry& hidden : facts.leftOut) {
        if (hidden.kind == UnheldEntry::NAME)
            return hidden.folder + L" holds " + hidden.name + L" (" + hidden.why +
                   L"), which the device cannot list, so its folder stays";
    }
    return L"";
}

std::vector<UnheldEntry> CheckEnvironment::UnheldBelow(const std::wstring& folder) const {
    std::vector<UnheldEntry> below;
    if (!unheld)
        return below;
    std::wstring prefix = FoldName(folder);
    for (UnheldEntry& entry : unheld()) {
        std::wstring at = FoldName(entry.folder);
        if (at == prefix || at.compare(0, prefix.size() + 1, prefix + L"\\") == 0)
            below.push_back(std::move(entry));
    }
    return below;
}
