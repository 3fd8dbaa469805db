#include "tests/support/PackageTestSupport.h"

#include <filesystem>

#include "platform/storage/PartitionExports.h"
#include "tests/support/E2eSupport.h"

namespace {

// The functions the device's libraries call in the executable that loads them. A test
// executable links only what its own code calls; these addresses link the rest in, so that
// every executable that installs a library can load it.
[[gnu::used]] const void* const kLibraryImports[] = {
    reinterpret_cast<const void*>(&CloseHandle),
    reinterpret_cast<const void*>(&CreateDirectoryW),
    reinterpret_cast<const void*>(&CreateFileW),
    reinterpret_cast<const void*>(&DeleteFileW),
    reinterpret_cast<const void*>(&FindClose),
    reinterpret_cast<const void*>(&FindFirstFileW),
    reinterpret_cast<const void*>(&FindNextFileW),
    reinterpret_cast<const void*>(&GetFileAttributesW),
    reinterpret_cast<const void*>(&GetFileSize),
    reinterpret_cast<const void*>(&GetLastError),
    reinterpret_cast<const void*>(&MoveFileW),
    reinterpret_cast<const void*>(&NKDbgPrintfW),
    reinterpret_cast<const void*>(&PostMessageW),
    reinterpret_cast<const void*>(&QuarrinPartitionHostFolder),
    reinterpret_cast<const void*>(&ReadFile),
    reinterpret_cast<const void*>(&RemoveDirectoryW),
    reinterpret_cast<const void*>(&SetFileAttributesW),
    reinterpret_cast<const void*>(&SetFilePointer),
    reinterpret_cast<const void*>(&SetLastError),
    reinterpret_cast<const void*>(&WriteFile),
};

}  // namespace

void InstallZCompress(quarrin::platform::SimPlatform& sim, const std::wstring& devicePath) {
    sim.PutFile(devicePath, e2e::ReadFile(ZCOMPRESS_MODULE_PATH));
}

void InstallFatUtil(quarrin::platform::SimPlatform& sim) {
    sim.PutDirectory(L"Windows");
    std::filesystem::copy_file(FATUTIL_MODULE_PATH, sim.HostPath(L"Windows\\fatutil.dll"),
                               std::filesystem::copy_options::overwrite_existing);
}
