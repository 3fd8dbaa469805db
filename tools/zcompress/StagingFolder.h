// Where the library unpacks a package before anything installed changes.
//
// Entries are written below "<destination>\_Unpack_$\New". Only when the package is complete
// and brought the program are they renamed into the destination: files and folders the
// destination lacks move whole, folders it has already take the package's entries (as when
// the package was written into them), and the application folder ZEL is replaced whole,
// last. The program thus appears in that one rename, so a power cut at any moment leaves
// either no program (the next start repeats the install or restores from the backup) or the
// whole new application, never a half one that starts. What an entry replaces is first
// renamed aside into "<destination>\_Unpack_$\Old".
//
// The work folder belongs to the library alone: a leftover of a cut run is removed when the
// next run begins, and the folder is removed whenever a run ends. Its removal descends into
// every folder, those whose names begin with a dot included. What it cannot remove (a name
// the device cannot see, a folder it may not list) is renamed within the work folder to
// "Kept1", "Kept2", ... and logged, so that it never blocks a later install or restore; each
// run tries again to remove it.
#pragma once

#include <string>

#include "platform/Win32.h"

namespace quarrin::zcompress {

class StagingFolder {
public:
    explicit StagingFolder(const std::wstring& destination);
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    // Removes a leftover work folder (or sets aside what of it cannot be removed) and creates
    // an empty staging folder; false when that fails.
    bool Prepare();
    // The folder the package is unpacked into, without a trailing backslash.
    const std::wstring& Root() const { return m_staged; }
    // Renames the staged entries into the destination, ZEL last. On a failed rename the entry
    // it replaced is put back and false is returned; entries moved before stay.
    bool Commit();
    // Removes the work folder with whatever it still holds; false when something remains.
    bool Discard();

private:
    bool PutInPlace(const std::wstring& relative);
    bool SetAsideLeftovers();
    std::wstring UnusedName(const std::wstring& stem) const;

    std::wstring m_destination;
    std::wstring m_work;
    std::wstring m_staged;
    std::wstring m_replaced;
    int m_setAside = 0;  // entries renamed into m_replaced so far
};

// Removes a file, or a folder with everything below it; a missing path counts as removed.
// Goes on past what cannot be removed and returns false then.
bool RemoveWholeTree(const std::wstring& path);

}  // namespace quarrin::zcompress
