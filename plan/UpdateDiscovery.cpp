// Finding the update sources on "Storage Card", "SDHC" and "硬盘" and reading their versions.
#include <cwchar>

#include "plan/SourceRoots.h"
#include "plan/SourceSearch.h"
#include "plan/UpdatePlan.h"
#include "plan/VersionFields.h"

namespace {

HANDLE OpenForReading(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// The first volume, in search order, that holds `relative`; empty when none does.
std::wstring ProbeVolumes(const wchar_t* relative, std::wstring& root) {
    for (const wchar_t* volume : UPDATE_SOURCE_VOLUMES) {
        std::wstring path = std::wstring(volume) + relative;
        if (ProbeSourceFile(path)) {
            root = volume;
            return path;
        }
    }
    return L"";
}

bool ReadPackageVersion(const std::wstring& path, std::wstring& version) {
    HANDLE file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BYTE marker[PACKAGE_MARKER_BYTES] = {};
    DWORD read = 0;
    ReadFile(file, marker, sizeof marker, &read, nullptr);
    std::size_t length = PackageVersionChars(marker);
    BYTE text[256] = {};
    SetFilePointer(file, PACKAGE_VERSION_OFFSET_BYTES, nullptr, FILE_BEGIN);
    ReadFile(file, text, static_cast<DWORD>(2 * length), &read, nullptr);
    version = Utf16FieldText(text, 2 * length);
    CloseHandle(file);
    return true;
}

// Reads an 8-bit version text of `size` bytes at `offset` of a firmware image.
bool ReadImageVersion(const std::wstring& path, LONG offset, int size, std::wstring& version) {
    HANDLE file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    if (SetFilePointer(file, offset, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        GetLastError();
        version = L"V0.00";
    } else {
        char bytes[32] = {};
        DWORD read = 0;
        ReadFile(file, bytes, static_cast<DWORD>(size), &read, nullptr);
        version = ImageVersionText(bytes, size);
        found = true;
    }
    CloseHandle(file);
    return found;
}

}  // namespace

bool ProbeSourceFile(const std::wstring& path) {
    HANDLE file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE || file == nullptr)
        return false;
    CloseHandle(file);
    return true;
}

bool NaviFolderHasEntries(const std::wstring& folder) {
    WIN32_FIND_DATAW data{};
    HANDLE search = FindFirstFileW((folder + L"\\*.*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

bool NavigationRequestDropped(DWORD mode) {
    return (mode & UPDATE_NAVI) != 0 && (mode & (UPDATE_APP | UPDATE_MCU | UPDATE_MPEG)) != 0;
}

void SetUpdatePlan(UpdatePlanFields& dialog, DWORD mode) {
    if (NavigationRequestDropped(mode)) {
        wchar_t line[96];
        wsprintfW(line, L"Navigation request dropped: 0x40 runs only alone, not with 0x%x\r\n",
                  static_cast<unsigned>(mode & ~UPDATE_NAVI));
        NKDbgPrintfW(L"%s", line);
    }
    dialog.m_updateFlags = mode;
    dialog.m_mcuVersion.clear();
    dialog.m_appVersion.clear();
    dialog.m_mpegVersion.clear();
    DWORD kind;
    if (mode & UPDATE_APP) {
        kind = KIND_APP;
    } else if (mode & UPDATE_MPEG) {
        kind = KIND_MPEG;
    } else if (mode & UPDATE_MCU) {
        kind = KIND_MCU;
    } else if (mode & UPDATE_NAVI) {
        kind = KIND_NAVI;
    } else {
        return;
    }
    dialog.m_updateKind = kind;
    wsprintfW(g_updateFolderName, kind == KIND_NAVI ? L"navi_update%s" : L"ZEL_Update%s", L"");
}

namespace {

// The application package: the backup in restore mode, else the first volume's package.
bool FindAppPackage(UpdatePlanFields& dialog) {
    std::wstring path;
    if (g_systemFilesDamaged) {
        path = BACKUP_PACKAGE_PATH;
    } else {
        std::wstring root;
        path = ProbeVolumes(APP_PACKAGE_FILE, root);
        if (!path.empty())
            g_appSourceRoot = root;
    }
    return !path.empty() && ReadPackageVersion(path, dialog.m_appVersion);
}

// A firmware image on the first volume that has one; `sourceRoot` becomes that volume.
bool FindFirmwareImage(const wchar_t* file, std::wstring& sourceRoot, LONG versionOffset,
                       int versionBytes, std::wstring& version) {
    std::wstring root;
    std::wstring path = ProbeVolumes(file, root);
    if (!path.empty())
        sourceRoot = root;
    return !path.empty() && ReadImageVersion(path, versionOffset, versionBytes, version);
}

// The navigation folder on the first volume where it has entries.
bool FindNaviFolder() {
    for (const wchar_t* volume : NAVI_SOURCE_VOLUMES) {
        std::wstring folder = std::wstring(volume) + NAVI_FOLDER;
        if (NaviFolderHasEntries(folder)) {
            g_naviSourceDir = folder;
            return true;
        }
    }
    return false;
}

}  // namespace

int DiscoverUpdateSources(UpdatePlanFields& dialog, DWORD flags) {
    bool appFound = (flags & UPDATE_APP) && FindAppPackage(dialog);
    bool mcuFound = (flags & UPDATE_MCU) &&
                    FindFirmwareImage(MCU_IMAGE_FILE, g_mcuSourceRoot, MCU_VERSION_OFFSET,
                                      MCU_VERSION_BYTES, dialog.m_mcuVersion);
    bool mpegFound = (flags & UPDATE_MPEG) &&
                     FindFirmwareImage(MPEG_IMAGE_FILE, g_mpegSourceRoot, MPEG_VERSION_OFFSET,
                                       MPEG_VERSION_BYTES, dialog.m_mpegVersion);
    // With navigation data requested, only the navigation folder decides.
    bool found = (flags & UPDATE_NAVI) ? FindNaviFolder() : (appFound || mcuFound || mpegFound);
    if (!found)
        return 0;
    dialog.m_updateFlags =
        (appFound ? UPDATE_APP : 0) | (mcuFound ? UPDATE_MCU : 0) | (mpegFound ? UPDATE_MPEG : 0);
    return 1;
}
