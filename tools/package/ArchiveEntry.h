// What the entry rule needs to know of a libarchive entry, read the same way by the
// installer and the package checker.
#pragma once

#include <archive_entry.h>

#include "tools/package/EntryRule.h"

namespace quarrin::package {

// A hard link is stored as a regular file with a link target, so the target is looked at
// before the type.
inline EntryKind KindOfEntry(struct archive_entry* entry) {
    if (archive_entry_hardlink(entry) != nullptr || archive_entry_symlink(entry) != nullptr) {
        return EntryKind::Other;
    }
    switch (archive_entry_filetype(entry)) {
        case AE_IFREG:
            return EntryKind::File;
        case AE_IFDIR:
            return EntryKind::Folder;
        default:
            return EntryKind::Other;
    }
}

// Adds the entry to `check` under its stored name.
inline EntryDecision AddEntry(PackageEntryCheck& check, struct archive_entry* entry) {
#ifdef _WIN32
    // On Windows libarchive keeps a name as wide characters and gives neither a UTF-8 nor a
    // narrow form of one that the ANSI code page cannot hold (Chinese names, for instance).
    const wchar_t* wide = archive_entry_pathname_w(entry);
    if (wide == nullptr)
        return {EntryVerdict::NotUtf8, L""};
    return check.Add(std::wstring_view(wide), KindOfEntry(entry));
#else
    // A name that libarchive cannot convert comes as its raw bytes, which the rule then
    // judges as UTF-8.
    const char* name = archive_entry_pathname_utf8(entry);
    if (name == nullptr)
        name = archive_entry_pathname(entry);
    if (name == nullptr)
        return {EntryVerdict::NotUtf8, L""};
    return check.Add(std::string_view(name), KindOfEntry(entry));
#endif
}

// The entry's name as UTF-8 for messages (raw bytes when it has no UTF-8 form).
inline const char* EntryDisplayName(struct archive_entry* entry) {
    const char* name = archive_entry_pathname_utf8(entry);
    if (name == nullptr)
        name = archive_entry_pathname(entry);
    return name != nullptr ? name : "";
}

}  // namespace quarrin::package
