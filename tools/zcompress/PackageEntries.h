// Reading a package's archive entry by entry with the installer's rule applied to each: the
// one reader behind zUncompress and every check that must say what zUncompress will do.
#pragma once

#include <archive.h>
#include <archive_entry.h>

#include <string>

#include "tools/zcompress/PackageSource.h"

namespace quarrin::zcompress {

// Opens the archive of an opened package for reading (zstd, tar). 0, or
// UNPACK_CORRUPT_ARCHIVE when libarchive does not take it; `reader` is set in both cases
// and must be freed with archive_read_free.
int OpenPackageArchive(PackageSource& source, struct archive*& reader);

// The next entry: 1 with `entry` and its device path below `destination`, 0 at the end of
// the archive, UNPACK_CORRUPT_ARCHIVE when the archive is damaged, UNPACK_UNSAFE_ENTRY when
// the installer refuses the entry (an unsafe name, or anything but a folder or a regular
// file). The entry stays readable with archive_entry_pathname after a refusal.
int NextInstallableEntry(struct archive* reader, const std::wstring& destination,
                         struct archive_entry*& entry, std::wstring& devicePath);

}  // namespace quarrin::zcompress
