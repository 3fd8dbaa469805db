#include "tools/zcompress/PackageEntries.h"

#include "tools/package/ArchiveEntry.h"
#include "tools/package/PackageFormat.h"

namespace quarrin::zcompress {

using namespace quarrin::package;

int OpenPackageArchive(PackageSource& source, struct archive*& reader) {
    reader = archive_read_new();
    archive_read_support_filter_zstd(reader);
    archive_read_support_format_tar(reader);
    return source.Attach(reader) == ARCHIVE_OK ? 0 : UNPACK_CORRUPT_ARCHIVE;
}

int NextInstallableEntry(struct archive* reader, PackageEntryCheck& check,
                         struct archive_entry*& entry, EntryDecision& decision) {
    for (;;) {
        entry = nullptr;
        int status = archive_read_next_header(reader, &entry);
        if (status == ARCHIVE_EOF)
            return 0;
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN)
            return UNPACK_CORRUPT_ARCHIVE;
        decision = AddEntry(check, entry);
        if (IsRefused(decision.verdict))
            return UNPACK_UNSAFE_ENTRY;
        if (decision.verdict != EntryVerdict::Skipped)
            return 1;
    }
}

int ProgramEntryResult(const PackageEntryCheck& check) {
    return check.HasProgram() ? 0 : UNPACK_NO_PROGRAM;
}

}  // namespace quarrin::zcompress
