#include "check/ApplicationCheck.h"

#include "app/Launch.h"
#include "check/PackageCheck.h"
#include "check/SourceChecks.h"
#include "check/TextHelpers.h"
#include "check/TreeFacts.h"
#include "contract/DevicePaths.h"
#include "dialog/ScreenTexts.h"
#include "plan/SourceRoots.h"
#include "plan/SourceSearch.h"
#include "plan/TouchKeyImport.h"
#include "plan/UpdatePlan.h"
#include "plan/UpdateRecord.h"
#include "tools/package/EntryRule.h"
#include "tools/package/PackageFormat.h"
#include "workers/AppInstallThread.h"

namespace {

using namespace quarrin::package;

void Fail(KindReport& report, int code, const std::wstring& why) {
    if (!report.succeeds)
        return;  // the first failure in the worker's order is the one shown
    report.succeeds = false;
    report.code = code;
    report.failure = why;
    report.findings.push_back({Finding::FAILURE, why});
}

void Warn(KindReport& report, const std::wstring& text) {
    report.findings.push_back({Finding::WARNING, text});
}

// Free bytes as the worker reads them; a failed query counts as none, as there.
ULONGLONG FreeBytes(const wchar_t* volume) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(volume, &available, nullptr, nullptr))
        return 0;
    return available.QuadPart;
}

// The library's work folder goes before each unpack, whatever its names (dot folders and links
// included). What the device cannot list stays, set aside within the work folder, and the
// unpack goes on; only a work folder the device cannot reach (a link in its place is never
// followed) keeps it from being made afresh.
std::wstring WorkFolderObstacle(KindReport& report, const CheckEnvironment& environment) {
    std::wstring work = std::wstring(APP_DESTINATION) + std::wstring(INSTALLER_WORK_FOLDER);
    TreeFacts facts = GatherTreeFacts(work, environment);
    if (facts.error != ERROR_SUCCESS)
        return work + L" cannot be reached (" + ErrorText(facts.error) +
               L"), so it cannot be cleared";
    for (const UnheldEntry& hidden : facts.leftOut) {
        if (hidden.kind == UnheldEntry::NAME) {
            report.findings.push_back(
                {Finding::NOTE, hidden.Path() + L" (" + hidden.why +
                                    L") cannot be removed by the device: it stays in " + work +
                                    L", set aside, and the unpack goes on"});
            break;
        }
    }
    return L"";
}

void CheckLeftovers(KindReport& report, const CheckEnvironment& environment) {
    std::wstring obstacle = TreeDeletionObstacle(APP_TEMPORARY_FOLDER, environment);
    if (!obstacle.empty()) {
        Fail(report, APP_ERROR_TEMP_FOLDER,
             std::wstring(APP_TEMPORARY_FOLDER) + L" cannot be removed: " + obstacle);
    }
    obstacle = TreeDeletionObstacle(APP_PREVIOUS_FOLDER, environment);
    if (!obstacle.empty()) {
        Fail(report, APP_ERROR_PREVIOUS_FOLDER,
             std::wstring(APP_PREVIOUS_FOLDER) + L" cannot be removed: " + obstacle);
    }
}

void CheckLibrary(KindReport& report) {
    std::vector<std::wstring> places = DecompressionLibraryPlaces();
    for (const std::wstring& place : places) {
        wchar_t found[MAX_PATH] = {};
        if (SearchPathW(nullptr, place.c_str(), nullptr, MAX_PATH, found, nullptr) != 0) {
            report.facts.push_back(std::wstring(L"zCompress.dll: ") + found +
                                   L" (the check does not load it)");
            return;
        }
    }
    Fail(report, APP_ERROR_LIBRARY,
         L"zCompress.dll is neither in Windows nor at the root of " + g_appSourceRoot);
}

std::wstring UnpackFailure(const PackageReading& reading) {
    switch (reading.result) {
        case UNPACK_CANNOT_OPEN:
            return L"the library cannot open the package";
        case UNPACK_BAD_HEADER:
            return L"the library does not know the marker \"" + reading.marker +
                   L"\", or the file ends before its archive";
        case UNPACK_CORRUPT_ARCHIVE:
            return L"the archive is damaged after " + std::to_wstring(reading.files) + L" files: " +
                   reading.archiveError;
        case UNPACK_UNSAFE_ENTRY:
            return L"the entry " + reading.refusedEntry + L" is refused: " + reading.refusal;
        case UNPACK_NO_PROGRAM:
            return FromUtf8(NO_PROGRAM_REASON);
        default:
            return L"the library returns " + std::to_wstring(reading.result);
    }
}

// Room in ResidentFlash3 for the staged package: the leftovers go before the unpack, the
// installed application only once the new one is complete, so both need room at once.
void CheckUnpackRoom(KindReport& report, const PackageReading& reading,
                     const CheckEnvironment& environment) {
    ULONGLONG room = FreeBytes(APP_DESTINATION);
    for (const wchar_t* folder : {APP_TEMPORARY_FOLDER, APP_PREVIOUS_FOLDER})
        room += GatherTreeFacts(folder, environment).bytes;
    report.facts.push_back(L"ResidentFlash3: " + Bytes(room) +
                           L" free beside the installed application, which stays until the "
                           L"new one is complete");
    if (reading.unpackedBytes > room) {
        Fail(report, UnpackErrorCode(UNPACK_WRITE_FAILED),
             L"the package unpacks to " + Bytes(reading.unpackedBytes) + L", more than the " +
                 Bytes(room) + L" ResidentFlash3 has beside the installed application");
    }
}

// An entry of the package that the library would rename into the place of a link, or below
// one: the device never follows a link, so every path through one gives 5 and the rename fails.
std::wstring LinkInTheWay(const PackageReading& reading) {
    std::vector<std::wstring> placed = reading.outsideApplication;
    placed.insert(placed.begin(), APP_FOLDER);
    for (const std::wstring& path : placed) {
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
            GetLastError() == ERROR_ACCESS_DENIED) {
            return path +
                   L" leads through a link, which the device never follows: the "
                   L"package's entry cannot be put in its place";
        }
    }
    return L"";
}

// Shows the progress of a large package's read.
std::function<void(int)> PackageProgress(const std::wstring& package,
                                         const CheckEnvironment& environment) {
    if (SizeOf(package) < PROGRESS_PACKAGE_BYTES)
        return [](int) {};
    return [package, &environment, shown = -1](int percent) mutable {
        if (percent != shown)
            environment.Progress(package, percent);
        shown = percent;
    };
}

void CheckPackage(KindReport& report, const std::wstring& package,
                  const CheckEnvironment& environment, PackageReadAhead* readAhead) {
    PackageReading reading;
    if (readAhead != nullptr && FoldName(readAhead->Package()) == FoldName(package)) {
        reading = readAhead->Reading();
    } else {
        reading = ReadPackageAsInstaller(package, PackageProgress(package, environment));
    }
    report.facts.push_back(L"package: " + Thousands(reading.packageBytes) + L" bytes, marker \"" +
                           reading.marker + L"\"");
    bool opened = reading.result != UNPACK_CANNOT_OPEN && reading.result != UNPACK_BAD_HEADER;
    if (std::wstring obstacle = WorkFolderObstacle(report, environment);
        opened && !obstacle.empty()) {
        Fail(report, UnpackErrorCode(UNPACK_WRITE_FAILED), obstacle);
        return;
    }
    if (reading.result < 0) {
        Fail(report, UnpackErrorCode(reading.result), UnpackFailure(reading));
        return;
    }
    report.facts.push_back(L"archive: " + Count(reading.files, L"file") + L" in " +
                           Count(reading.folders, L"folder") + L", " +
                           Bytes(reading.unpackedBytes) + L" unpacked, read to its end");
    for (const std::wstring& outside : reading.outsideApplication) {
        report.findings.push_back({Finding::NOTE, outside + L" lies beside " + APP_FOLDER +
                                                      L": the next update does not delete it"});
    }
    CheckUnpackRoom(report, reading, environment);
    if (std::wstring link = LinkInTheWay(reading); !link.empty())
        Fail(report, UnpackErrorCode(UNPACK_WRITE_FAILED), link);
}

void CheckBackup(KindReport& report, const std::wstring& package) {
    ULONGLONG free = FreeBytes(BACKUP_VOLUME);
    if (free != 0)  // the old backup, and what a cut copy left of a newer one, go first
        free += SizeOf(BACKUP_PACKAGE_PATH) + SizeOf(BACKUP_PACKAGE_PARTIAL);
    if (BackupFits(free, SizeOf(package))) {
        report.facts.push_back(std::wstring(L"backup: ") + BACKUP_PACKAGE_PATH +
                               L" is replaced by this package");
        return;
    }
    Warn(report, std::wstring(L"no backup remains: ") + BACKUP_PACKAGE_PATH +
                     L" is deleted, and the package does not fit beside " + Bytes(free) +
                     L" free with 2 MiB to spare");
}

void CheckTouchKeys(KindReport& report) {
    HANDLE file = CreateFileW(TOUCHKEY_FILE_PATH, GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        report.facts.push_back(L"touch keys: no Touchkey.bin on 硬盘, nothing is imported");
        return;
    }
    DWORD size = GetFileSize(file, nullptr);
    CloseHandle(file);
    if (TouchKeyFileComplete(size)) {
        report.facts.push_back(L"touch keys: 36 values from " + std::wstring(TOUCHKEY_FILE_PATH));
        return;
    }
    Warn(report, std::wstring(TOUCHKEY_FILE_PATH) + L" holds " + std::to_wstring(size) +
                     L" bytes, not all 36 values: nothing is imported, the registry keeps "
                     L"its touch keys");
}

}  // namespace

std::unique_ptr<PackageReadAhead> ReadPackageAhead(const KindReport& report,
                                                   const CheckEnvironment& environment) {
    if (report.kind != KIND_APP || !report.found || report.source.empty())
        return nullptr;
    return std::make_unique<PackageReadAhead>(report.source,
                                              PackageProgress(report.source, environment));
}

void CheckApplication(KindReport& report, bool restore, const CheckEnvironment& environment,
                      PackageReadAhead* readAhead) {
    if (!report.found)
        return;
    report.runningText = RunningText(KIND_APP, restore, report.version);
    bool damaged = g_systemFilesDamaged;
    g_systemFilesDamaged = restore;
    if (restore)
        g_appSourceRoot = CARD_ROOT;  // a restore leaves the root as it started
    std::wstring package = PackagePath();
    CheckLeftovers(report, environment);
    CheckLibrary(report);
    CheckPackage(report, package, environment, readAhead);
    // The library replaces the application folder only with a complete package, so a failure
    // at any step leaves the installed application as it was.
    report.leavesProgram =
        report.succeeds || GetFileAttributesW(MAIN_APPLICATION_PATH) != INVALID_FILE_ATTRIBUTES;
    if (!restore && report.succeeds)
        CheckBackup(report, package);
    CheckTouchKeys(report);
    if (OperatingSystemImageWaits()) {
        report.facts.push_back(std::wstring(L"an operating-system image waits: ") +
                               OS_HANDOVER_FOLDER + L" is renamed " + OS_HANDOVER_TARGET);
    }
    g_systemFilesDamaged = damaged;
}
