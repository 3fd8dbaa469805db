#include "check/NaviCheck.h"

#include <algorithm>

#include "check/TextHelpers.h"
#include "check/TreeFacts.h"
#include "dialog/ScreenTexts.h"
#include "plan/UpdatePlan.h"
#include "workers/NaviUpdateThread.h"

namespace {

void Fail(KindReport& report, int code, const std::wstring& why) {
    if (!report.succeeds || report.neverEnds)
        return;
    report.succeeds = false;
    report.code = code;
    report.failure = why;
    report.findings.push_back({Finding::FAILURE, why});
}

void Harm(KindReport& report, const std::wstring& why) {
    report.findings.push_back({Finding::FAILURE, why});
    if (report.succeeds && !report.harms && !report.neverEnds) {
        report.harms = true;
        report.failure = why;
    }
}

std::wstring First(const std::vector<std::wstring>& paths) {
    std::wstring text = paths.front();
    if (paths.size() > 1)
        text += L" (and " + Thousands(paths.size() - 1) + L" more)";
    return text;
}

// Names the card cannot take as they are: the copy fails on them, or lands two on one file.
void CheckNames(KindReport& report, const TreeFacts& facts) {
    if (!facts.slashNames.empty()) {
        // A file that fails twice ends the copy of its folder: at the top, the whole copy.
        bool top = facts.slashNameAtTop;
        Fail(report, top ? NAVI_ERROR_COPY_FAILED : NAVI_ERROR_COUNT_MISMATCH,
             First(facts.slashNames) + L": a host name with a backslash cannot be copied, and " +
                 (top ? L"the copy ends there" : L"the rest of its folder is not copied"));
    }
    if (!facts.undecodable.empty()) {
        Fail(report, NAVI_ERROR_COUNT_MISMATCH,
             First(facts.undecodable) + L": a host name that is not UTF-8 cannot be copied");
    }
    if (!facts.caseTwins.empty()) {
        Harm(report, First(facts.caseTwins) +
                         L" differs from another name only in case: both land on one card file, "
                         L"and one file's data are lost");
    }
    for (const LeftOutEntry& hidden : facts.leftOut) {
        Harm(report, hidden.folder + L"\\" + hidden.name +
                         (hidden.reason == ERROR_INVALID_NAME
                              ? L" has a name the card cannot hold: the unit leaves it out "
                                L"without a word"
                              : L" is a link that leads nowhere the unit reaches: left out"));
    }
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

void CheckCount(KindReport& report, const TreeFacts& facts, const std::wstring& root) {
    // The worker's own count; it cannot end on a tree with a link to a folder above it.
    int counted = CountNavigationFiles(root);
    report.facts.push_back(L"the unit counts " + Count(counted, L"file") + L" in " +
                           Count(facts.folders, L"folder") + L", " + Bytes(facts.bytes));
    if (counted == 0)
        Fail(report, NAVI_ERROR_NO_FILES, L"the folder holds no file: the card is not touched");
}

// Without the formatter the card stays dismounted once its content is deleted: no file
// reaches it, and a file at the top of the folder ends the copy.
void CheckFormatter(KindReport& report, const TreeFacts& facts) {
    wchar_t found[MAX_PATH] = {};
    if (SearchPathW(nullptr, L"fatutil.dll", nullptr, MAX_PATH, found, nullptr) != 0)
        return;
    bool top = !facts.topFileNames.empty();
    Fail(report, top ? NAVI_ERROR_COPY_FAILED : NAVI_ERROR_COUNT_MISMATCH,
         L"fatutil.dll is missing: the card stays dismounted after its content is deleted, so no "
         L"file reaches it");
}

void CheckDotFolders(KindReport& report, const TreeFacts& facts) {
    if (facts.filesInDotFolders > 0) {
        Fail(report, NAVI_ERROR_COUNT_MISMATCH,
             First(facts.dotFolders) + L" begins with a dot: its " +
                 Thousands(facts.filesInDotFolders) +
                 L" files are copied but not counted, so the copied count differs");
    }
}

}  // namespace

void CheckNavigation(KindReport& report, const CheckEnvironment& environment) {
    if (!report.found)
        return;
    report.runningText = RunningText(KIND_NAVI, false, L"");
    const std::wstring& root = report.source;
    TreeFacts facts = GatherTreeFacts(root, environment, root);
    if (!facts.folderLinks.empty()) {
        report.neverEnds = true;
        report.failure = First(facts.folderLinks) +
                         L" is a link to a folder: the unit's walks follow it, and one that "
                         L"leads to a folder above it never ends";
        report.findings.push_back({Finding::FAILURE, report.failure});
        return;
    }
    if (!facts.fileLinks.empty()) {
        report.findings.push_back({Finding::WARNING, First(facts.fileLinks) +
                                                         L" is a link: the file it leads to is "
                                                         L"copied in its place"});
    }
    CheckCount(report, facts, root);
    CheckFormatter(report, facts);
    CheckDotFolders(report, facts);
    CheckNames(report, facts);
    CheckRoom(report, facts, environment);
}
