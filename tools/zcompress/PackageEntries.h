// Reading a package's archive entry by entry with the package entry rule applied to each
// (tools/package/EntryRule.h): the one reader behind zUncompress and every check that must
// say what zUncompress will do.
#pragma once

#include <archive.h>
#include <archive_entry.h>

#include "tools/package/EntryRule.h"
#include "tools/zcompress/PackageSource.h"

namespace quarrin::zcompress {

// Opens the archive of an opened package for reading (zstd, tar). 0, or
// UNPACK_CORRUPT_ARCHIVE when libarchive does not take it; `reader` is set in both cases
// and must be freed with archive_read_free.
int OpenPackageArchive(PackageSource& source, struct archive*& reader);

// The next entry to install, judged by `check` together with the entries before it: 1 with
// `entry` and its accepted `decision` (the path relative to the destination), 0 at the end of
// the archive, UNPACK_CORRUPT_ARCHIVE when the archive is damaged, UNPACK_UNSAFE_ENTRY when
// the rule refuses the entry (`decision.verdict` says why, and the entry stays readable with
// archive_entry_pathname). Entries that name the destination itself are passed over.
int NextInstallableEntry(struct archive* reader, package::PackageEntryCheck& check,
                         struct archive_entry*& entry, package::EntryDecision& decision);

// What a package read to its end gives by its entries: 0 when it brought the main
// application ZEL\Velmoran.exe, UNPACK_NO_PROGRAM when it installs no usable application.
int ProgramEntryResult(const package::PackageEntryCheck& check);

}  // namespace quarrin::zcompress
