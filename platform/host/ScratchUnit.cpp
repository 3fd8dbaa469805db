#include "platform/host/ScratchUnit.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace quarrin::platform {

namespace {

// The demo unit's folders and files; the files are empty, since a check opens none of them
// but asks only whether they are there.
const char* const kFolders[] = {"ResidentFlash",
                                "ResidentFlash2",
                                "ResidentFlash3/ZEL",
                                "ResidentFlash4",
                                "Windows",
                                "Storage Card",
                                "SDHC",
                                "硬盘"};
const char* const kFiles[] = {"ResidentFlash3/ZEL/Velmoran.exe", "Windows/explorer.exe",
                              "Windows/zCompress.dll", "Windows/fatutil.dll"};

// A memory file system where the host has one: the unit is made and removed in a moment.
std::filesystem::path ScratchFolder() {
    std::error_code error;
    if (std::getenv("TMPDIR") == nullptr && std::filesystem::is_directory("/dev/shm", error))
        return "/dev/shm";
    std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    return error ? std::filesystem::path("/tmp") : folder;
}

}  // namespace

ScratchUnit::ScratchUnit() {
    namespace fs = std::filesystem;
    std::error_code error;
    std::string pattern = (ScratchFolder() / "quarrin-check-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        return;
    m_root = pattern;
    for (const char* folder : kFolders)
        fs::create_directories(fs::path(m_root) / fs::u8path(folder), error);
    for (const char* file : kFiles)
        std::ofstream(fs::path(m_root) / fs::u8path(file));
}

ScratchUnit::~ScratchUnit() {
    if (m_root.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
}

}  // namespace quarrin::platform
