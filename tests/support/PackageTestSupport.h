// Building packages, and installing the decompression library and the formatter into a
// simulated device.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Win32.h"
#include "platform/sim/SimPlatform.h"
#include "tools/mkpackage/PackageWriter.h"

using PackageEntry = quarrin::package::PackageEntry;
using PackedKind = quarrin::package::PackageEntry::Kind;

// Copies the built library to the device path (the "Windows" folder by default).
void InstallZCompress(quarrin::platform::SimPlatform& sim,
                      const std::wstring& devicePath = L"Windows\\zCompress.dll");

// Puts the built fatutil.dll into the device's "Windows" folder, where LoadLibraryW looks.
void InstallFatUtil(quarrin::platform::SimPlatform& sim);

// Writes a package to the device path; fails the test on a writer error.
inline void PutPackage(quarrin::platform::SimPlatform& sim, const std::wstring& devicePath,
                       const std::vector<PackageEntry>& entries,
                       const std::string& marker = "ZEL-OKUN-1",
                       const std::string& version = "V1.0") {
    sim.PutFile(devicePath, "");
    std::string error;
    bool written =
        quarrin::package::WritePackage(sim.HostPath(devicePath), {marker, version}, entries, error);
    if (!written)
        ADD_FAILURE() << error;
}

inline PackageEntry File(std::string path, std::string data) {
    return {std::move(path), PackedKind::File, std::move(data), "", ""};
}
inline PackageEntry Folder(std::string path) {
    return {std::move(path), PackedKind::Directory, "", "", ""};
}

// The two exports, looked up from a loaded library.
struct ZCompressExports {
    using SetNotify = int (*)(HWND, UINT);
    using Uncompress = int (*)(LPCWSTR, LPCWSTR);
    HMODULE module = nullptr;
    SetNotify setNotifyWnd = nullptr;
    Uncompress uncompress = nullptr;

    bool Load(LPCWSTR name = L"zCompress.dll") {
        module = LoadLibraryW(name);
        if (module == nullptr)
            return false;
        setNotifyWnd =
            reinterpret_cast<SetNotify>(GetProcAddressW(module, L"zCompressSetNotifyWnd"));
        uncompress = reinterpret_cast<Uncompress>(GetProcAddressW(module, L"zUncompress"));
        return setNotifyWnd != nullptr && uncompress != nullptr;
    }
    ~ZCompressExports() {
        if (module != nullptr)
            FreeLibrary(module);
    }
};
