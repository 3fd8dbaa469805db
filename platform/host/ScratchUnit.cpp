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

}  // namespace

ScratchUnit::ScratchUnit() {
    namespace fs = std::filesystem;
    std::error_code error;
    std::string pattern = (fs::temp_directory_path(error) / "quarrin-check-XXXXXX").string();
    if (error || mkdtemp(pattern.data()) == nullptr)
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
