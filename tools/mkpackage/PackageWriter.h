// Builds application packages: the header with marker and version text, then the entries
// as a tar archive compressed with zstd. Also reads them back for listing and checking.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarrin::package {

struct PackageEntry {
    enum class Kind { File, Directory, Symlink, Hardlink, CharDevice };
    std::string path;  // inside the archive, '/' between names
    Kind kind = Kind::File;
    std::string data;        // content of a file, unless sourcePath is set
    std::string sourcePath;  // host file whose content is streamed in
    std::string linkTarget;  // for links
};

struct PackageInfo {
    std::string marker;   // UTF-8
    std::string version;  // UTF-8
};

// Writes the package; false with a message on failure. Entries are written as given, so a
// test can build packages that the unpacker must refuse.
bool WritePackage(const std::string& outputPath, const PackageInfo& info,
                  const std::vector<PackageEntry>& entries, std::string& error);

// The folders and regular files below `folder`, sorted by path, folders before their
// content. Anything else (links, devices) is an error: a package holds only these two.
bool CollectFolder(const std::string& folder, std::vector<PackageEntry>& entries,
                   std::string& error);

struct ListedEntry {
    std::string path;
    bool directory = false;
    std::int64_t size = 0;
    bool safe = true;  // relative, no "..", a folder or a regular file
};

// Reads the header and every entry (decompressing all data); false with a message when the
// package is malformed, truncated or corrupt.
bool ReadPackage(const std::string& packagePath, PackageInfo& info,
                 std::vector<ListedEntry>& entries, std::string& error);

}  // namespace quarrin::package
