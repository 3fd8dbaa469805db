#include "check/NaviCheck.h"

#include "check/SourceChecks.h"
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

// The worker counts the files outside dot folders; a count of 0 ends the update before the
// card is touched. Returns the count.
int CheckCount(KindReport& report, const TreeFacts& facts, const std::wstring& root) {
    int counted = CountNavigationFiles(root);
    report.facts.push_back(L"the unit counts " + Count(counted, L"file") + L" in " +
                           Count(facts.folders, L"folder") + L", " + Bytes(facts.bytes));
    if (counted == 0)
        Fail(report, NAVI_ERROR_NO_FILES, L"the folder holds no file: the card is not touched");
    return counted;
}

// The count against the files the copy could copy, dot folders included; a folder that no
// listing can open leaves its files out of both.
void CheckCopy(KindReport& report, const TreeFacts& facts, int counted) {
    if (!facts.unlistedFolders.empty()) {
        const TreeFacts::Unlisted& first = facts.unlistedFolders.front();
        std::wstring more =
            facts.unlistedFolders.size() > 1
                ? L" (and " + Thousands(facts.unlistedFolders.size() - 1) + L" more)"
                : L"";
        Fail(report, NAVI_ERROR_COUNT_MISMATCH,
             first.path + more + L" cannot be listed (" + ErrorText(first.error) +
                 L"): what it holds is neither counted nor copied, so the card would lack it");
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

// The unit's own rule: no card, or a source that shares its storage with the card, ends the
// update before anything on the card is touched.
void CheckDestination(KindReport& report, const std::wstring& root) {
    int refused = CheckNavigationDestination(root);
    if (refused == NAVI_ERROR_NO_CARD) {
        DWORD attributes = GetFileAttributesW(NAVI_DESTINATION);
        std::wstring why = attributes == INVALID_FILE_ATTRIBUTES
                               ? ErrorText(GetLastError())
                               : std::wstring(L"a file, not a folder");
        Fail(report, NAVI_ERROR_NO_CARD,
             std::wstring(NAVI_DESTINATION) + L" is not there (" + why +
                 L"): no card takes the copy, so the unit touches nothing");
    } else if (refused == NAVI_ERROR_SOURCE_ON_CARD) {
        Fail(report, NAVI_ERROR_SOURCE_ON_CARD,
             root + L" and " + NAVI_DESTINATION +
                 L" share their storage (volumes that reach one card, or one folder inside "
                 L"the other): emptying the card would delete the navigation data, so the "
                 L"unit touches nothing");
    }
}

// Without the formatter, what the deletion cannot remove from the card: a folder whose name
// begins with a dot, a read-only folder, a folder holding a name the device cannot list.
std::wstring DeletionLeftovers(const TreeFacts& card) {
    if (!card.dotFolders.empty())
        return card.dotFolders.front() + L" begins with a dot, so the deletion never collects it";
    for (const std::wstring& folder : card.readOnlyFolders) {
        if (folder != NAVI_DESTINATION)
            return L"the folder " + folder + L" is read-only, so the deletion cannot remove it";
    }
    for (const UnheldEntry& hidden : card.leftOut) {
        if (hidden.kind == UnheldEntry::NAME && hidden.folder != NAVI_DESTINATION)
            return hidden.folder + L" holds " + hidden.name + L" (" + hidden.why +
                   L"), which the device cannot list, so the deletion cannot remove it";
    }
    return L"";
}

// What would stay on the card beside the new data: the unit lists the card once it is emptied
// and formatted, and fails with 20 when anything is left.
void CheckCardEmptied(KindReport& report, const CheckEnvironment& environment) {
    TreeFacts card = GatherTreeFacts(NAVI_DESTINATION, environment);
    std::wstring stays;
    if (!card.unlistedFolders.empty()) {
        stays = card.unlistedFolders.front().path + L" cannot be listed (" +
                ErrorText(card.unlistedFolders.front().error) +
                L"), so neither the deletion nor the format removes it";
    } else if (!FormatterPresent()) {
        stays = DeletionLeftovers(card);
    }
    if (!stays.empty()) {
        Fail(report, NAVI_ERROR_COUNT_MISMATCH,
             L"the card is not emptied: " + stays + L"; old data would stay beside the new");
    }
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
    // In the worker's order, the first failure being the one shown: the count, the card, the
    // copy, the card once emptied.
    if (int counted = CheckCount(report, facts, root); counted > 0) {
        CheckDestination(report, root);
        CheckCopy(report, facts, counted);
        CheckCardEmptied(report, environment);
    }
    CheckFormatter(report);
    NoteLeftOut(report, facts);
    CheckRoom(report, facts, environment);
}
