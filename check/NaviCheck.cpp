#include "check/NaviCheck.h"

#include "check/TextHelpers.h"
#include "check/TreeFacts.h"
#include "dialog/ScreenTexts.h"
#include "plan/UpdatePlan.h"
#include "workers/NaviUpdateThread.h"

namespace {

void Fail(KindReport& report, int code, const std::wstring& why) {
    if (!report.succeeds)
        return;
    report.succeeds = false;
    report.code = code;
    report.failure = why;
    report.findings.push_back({Finding::FAILURE, why});
}

std::wstring First(const std::vector<std::wstring>& paths) {
    std::wstring text = paths.front();
    if (paths.size() > 1)
        text += L" (and " + Thousands(paths.size() - 1) + L" more)";
    return text;
}

// Entries the device's listings leave out: the unit neither counts nor copies them, and
// names each in its log.
void NoteLeftOut(KindReport& report, const TreeFacts& facts) {
    for (const UnheldEntry& hidden : facts.leftOut) {
        report.findings.push_back(
            {Finding::WARNING, hidden.Path() + L": " + hidden.why +
                                   L"; the unit leaves it out, so the card never receives it"});
    }
}

// Why the copy's count of copied files differs from the worker's count, in the order a
// reader can act on.
std::wstring CountMismatch(const TreeFacts& facts) {
    std::vector<std::wstring> causes;
    if (!facts.caseTwins.empty()) {
        causes.push_back(First(facts.caseTwins) +
                         L" has the name of an earlier entry but for case: the device opens only "
                         L"the first, so neither it nor what lies below it is copied");
    }
    if (!facts.unopenable.empty()) {
        causes.push_back(First(facts.unopenable) +
                         L" is no file a FAT card can hold (a pipe or device, or 4 GiB or "
                         L"more): counted, but not copied");
    }
    if (facts.filesInDotFolders > 0) {
        causes.push_back(First(facts.dotFolders) +
                         L" begins with a dot: the files of such folders are copied but not "
                         L"counted (" +
                         Count(facts.filesInDotFolders, L"file") + L")");
    }
    std::wstring text;
    for (const std::wstring& cause : causes)
        text += (text.empty() ? L"" : L"; ") + cause;
    return text;
}

// Room on the card once it is formatted: the placeholders plus the tree, where a file of the
// tree with a placeholder's name replaces that placeholder.
void CheckRoom(KindReport& report, const TreeFacts& facts, const CheckEnvironment& environment) {
    ULONGLONG capacity = environment.cardCapacity;
    if (capacity == 0) {
        ULARGE_INTEGER total{};
        std::wstring card = std::wstring(NAVI_DESTINATION) + L"\\";
        if (GetDiskFreeSpaceExW(card.c_str(), nullptr, &total, nullptr))
            capacity = total.QuadPart;
    }
    ULONGLONG needed = PlaceholderBytes() + facts.bytes;
    report.facts.push_back(L"the card needs " + Bytes(needed) + L" (placeholder files included)" +
                           (capacity != 0 ? L" of its " + Bytes(capacity) : L""));
    if (capacity != 0 && needed > capacity) {
        Fail(report, NAVI_ERROR_COUNT_MISMATCH,
             L"the card holds " + Bytes(capacity) + L", the update needs " + Bytes(needed) +
                 L": copies fail for lack of room");
    }
}

// The worker counts the files outside dot folders and compares that count with the files its
// copy could copy, dot folders included.
void CheckCount(KindReport& report, const TreeFacts& facts, const std::wstring& root) {
    int counted = CountNavigationFiles(root);
    report.facts.push_back(L"the unit counts " + Count(counted, L"file") + L" in " +
                           Count(facts.folders, L"folder") + L", " + Bytes(facts.bytes));
    if (counted == 0) {
        Fail(report, NAVI_ERROR_NO_FILES, L"the folder holds no file: the card is not touched");
        return;
    }
    int copied = facts.files - facts.unopenableFiles;
    if (copied != counted) {
        Fail(report, NAVI_ERROR_COUNT_MISMATCH,
             L"the unit counts " + Thousands(counted) + L" files and copies " + Thousands(copied) +
                 L": " + CountMismatch(facts));
    } else if (facts.unopenableFiles > 0 || facts.filesInDotFolders > 0) {
        report.findings.push_back(
            {Finding::WARNING, L"the counts agree only by chance: " + CountMismatch(facts)});
    }
}

// A card volume that is no folder (a volume link whose card is not mounted, say) takes no
// copy: the first file at the top of the folder ends the copy, else every file is missing.
void CheckDestination(KindReport& report, const TreeFacts& facts) {
    DWORD attributes = GetFileAttributesW(NAVI_DESTINATION);
    DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
    bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    // A missing volume folder is made by the copy's first CreateDirectoryW.
    if (folder || error == ERROR_FILE_NOT_FOUND)
        return;
    bool top = facts.topFiles > 0;
    Fail(report, top ? NAVI_ERROR_COPY_FAILED : NAVI_ERROR_COUNT_MISMATCH,
         std::wstring(NAVI_DESTINATION) +
             L" is no folder the unit can reach, so no copy reaches the card: " +
             (top ? L"the first file at the top of the folder ends the copy"
                  : L"every file is missing from the count"));
}

// Without the formatter the card is emptied and mounted again, but not formatted: what the
// deletion cannot remove stays beside the new data.
void CheckFormatter(KindReport& report) {
    if (FormatterPresent())
        return;
    report.findings.push_back(
        {Finding::WARNING,
         L"fatutil.dll is missing: the card is not formatted, only emptied of what the "
         L"deletion reaches (folders whose names begin with a dot stay)"});
}

}  // namespace

bool FormatterPresent() {
    wchar_t found[MAX_PATH] = {};
    return SearchPathW(nullptr, L"fatutil.dll", nullptr, MAX_PATH, found, nullptr) != 0;
}

void CheckNavigation(KindReport& report, const CheckEnvironment& environment) {
    if (!report.found)
        return;
    report.runningText = RunningText(KIND_NAVI, false, L"");
    const std::wstring& root = report.source;
    TreeFacts facts = GatherTreeFacts(root, environment, root);
    CheckCount(report, facts, root);
    CheckDestination(report, facts);
    CheckFormatter(report);
    NoteLeftOut(report, facts);
    CheckRoom(report, facts, environment);
}
