#include "check/SourceChecks.h"

#include "plan/SourceRoots.h"
#include "plan/SourceSearch.h"
#include "plan/UpdatePlan.h"

namespace {

// Why a present entry is not what a probe takes.
std::wstring SkipReason(const std::wstring& path, bool wantFolder) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return L"";
        return L"cannot be reached: " + ErrorText(error);
    }
    bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (wantFolder)
        return folder ? L"an empty folder" : L"a file, not a folder";
    if (folder)
        return L"a folder, not a file";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return L"cannot be opened: " + ErrorText(error);
}

void AddStep(KindReport& report, const std::wstring& path, bool present, bool wantFolder) {
    SearchStep step;
    step.path = path;
    if (present) {
        step.result = report.source.empty() ? SearchStep::USED : SearchStep::UNUSED;
        if (report.source.empty())
            report.source = path;
    } else {
        step.reason = SkipReason(path, wantFolder);
        step.result = step.reason.empty() ? SearchStep::ABSENT : SearchStep::SKIPPED;
    }
    report.search.push_back(std::move(step));
}

const wchar_t* SourceFile(DWORD kind) {
    switch (kind) {
        case KIND_APP:
            return APP_PACKAGE_FILE;
        case KIND_MCU:
            return MCU_IMAGE_FILE;
        default:
            return MPEG_IMAGE_FILE;
    }
}

// Discovery itself, for this kind alone: found or not, and the version text it reads.
void Discover(KindReport& report) {
    UpdatePlanFields plan;
    DWORD bit = RequestBit(report.kind);
    bool found = DiscoverUpdateSources(plan, bit) == 1;
    report.found = found;
    if (report.kind == KIND_APP)
        report.version = plan.m_appVersion;
    if (report.kind == KIND_MCU)
        report.version = plan.m_mcuVersion;
    if (report.kind == KIND_MPEG)
        report.version = plan.m_mpegVersion;
    if (report.kind == KIND_NAVI && found)
        report.source = g_naviSourceDir;
}

}  // namespace

std::wstring ErrorText(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
            return L"not found (2)";
        case ERROR_PATH_NOT_FOUND:
            return L"its folder is missing (3)";
        case ERROR_ACCESS_DENIED:
            return L"access denied (5): a link, a name twinned but for case, or no file a FAT "
                   L"volume holds (a pipe or device, 4 GiB or more)";
        case ERROR_SHARING_VIOLATION:
            return L"in use (32)";
        case ERROR_INVALID_NAME:
            return L"a name the device cannot hold (123)";
        case ERROR_FILENAME_EXCED_RANGE:
            return L"a name too long for the device (206)";
        default:
            return L"error " + std::to_wstring(error);
    }
}

void LocateSource(KindReport& report, bool restore) {
    report.search.clear();
    report.source.clear();
    if (report.kind == KIND_APP && restore) {
        AddStep(report, BACKUP_PACKAGE_PATH, ProbeSourceFile(BACKUP_PACKAGE_PATH), false);
    } else if (report.kind == KIND_NAVI) {
        for (const wchar_t* volume : NAVI_SOURCE_VOLUMES) {
            std::wstring folder = std::wstring(volume) + NAVI_FOLDER;
            AddStep(report, folder, NaviFolderHasEntries(folder), true);
        }
    } else {
        for (const wchar_t* volume : UPDATE_SOURCE_VOLUMES) {
            std::wstring path = std::wstring(volume) + SourceFile(report.kind);
            AddStep(report, path, ProbeSourceFile(path), false);
        }
    }
    bool damaged = g_systemFilesDamaged;
    g_systemFilesDamaged = restore;
    Discover(report);
    g_systemFilesDamaged = damaged;
    if (!report.found)
        report.source.clear();
}

DWORD RequestBit(DWORD kind) {
    switch (kind) {
        case KIND_APP:
            return UPDATE_APP;
        case KIND_MCU:
            return UPDATE_MCU;
        case KIND_MPEG:
            return UPDATE_MPEG;
        default:
            return UPDATE_NAVI;
    }
}
