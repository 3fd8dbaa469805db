// Builds application packages: the header with marker and version text, then the entries
// as a tar archive compressed with zstd. Also reads them back for listing and checking.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/package/EntryRule.h"

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

// Judges the entries with the installer's entry rule (tools/package/EntryRule.h), the main
// application included; false with a message that names the first refused entry.
bool CheckPackageEntries(const std::vector<PackageEntry>& entries, std::string& error);

struct ListedEntry {
    std::string path;
    bool directory = false;
    std::int64_t size = 0;
    EntryVerdict verdict = EntryVerdict::Accepted;  // what the installer makes of it
};

struct PackageListing {
    PackageInfo info;
    std::vector<ListedEntry> entries;
    bool hasProgram = false;  // an accepted file entry is ZEL/Velmoran.exe
};

// Reads the header and every entry (decompressing all data) and judges each entry as the
// installer does; false with a message when the package is malformed, truncated or corrupt.
bool ReadPackage(const std::string& packagePath, PackageListing& listing, std::string& error);

}  // namespace quarrin::package
