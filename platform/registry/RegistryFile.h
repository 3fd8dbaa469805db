// Keeps the registry in a ".reg" text file of the host. Each change rewrites the whole file
// through a temporary file and a rename, so a power cut leaves either the old or the new
// file, never a broken one. Every step passes the device file system's hook. The file is
// written in the form it was read in (UTF-16LE as registry editors export it, or UTF-8).
#pragma once

#include <string>

#include "platform/common/DeviceFileSystem.h"
#include "platform/registry/RegFileEncoding.h"
#include "platform/registry/Registry.h"

namespace quarrin::platform {

class RegistryFile : public RegistryStore {
public:
    // `files` supplies the hook; the file may lie inside or outside its device root.
    RegistryFile(std::string hostPath, DeviceFileSystem* files);

    // Reads the file. A missing file gives the device's default keys; a malformed one is
    // reported on standard error with its line number and gives an empty registry, and the
    // file is then left as it is: changes stay in memory, so nothing of it is lost.
    RegistryTree Load();

    DWORD Save(const RegistryTree& tree) override;

    const std::string& HostPath() const { return m_hostPath; }

private:
    DWORD RunHook(FileOp op, const std::wstring& devicePath);
    std::wstring DevicePathOf(const std::string& hostPath) const;

    std::string m_hostPath;
    DeviceFileSystem* m_files;
    bool m_writable = true;
    RegFileLayout m_layout;  // of the file read; a new file is UTF-8 with LF
};

}  // namespace quarrin::platform
