// Operations on whole folder trees of the device: walking, counting, deleting and copying.
//
// The folder and file lists and the copy counters are process-wide, so only one tree
// operation may run at a time; the update dialog runs one worker at a time, which keeps it so.
#pragma once

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "platform/Win32.h"

// Folders of the last CollectDirectoryTree: the root first, then level by level.
extern std::vector<std::wstring> g_directoryList;
// Files collected by ScanFiles in collect mode.
extern std::vector<std::wstring> g_fileList;
// Set by the caller of CopyTree: the number of files it expects to be copied (> 0).
extern int g_totalFileCount;
// Counted up by CopyTree for every file copied.
extern int g_copiedFileCount;
// Folders that a walk found in its parent's listing but could not list itself (no access, a
// path too long for the storage, gone meanwhile): what they hold is neither counted, copied
// nor deleted. Each is named once in the debug log, "FindFirstFile %s Failed!Error Code:%d";
// the set keeps them until its user clears it.
extern std::set<std::wstring> g_unlistedFolders;

// The two walks differ: CollectDirectoryTree enters a listed folder only when its name does
// not begin with a dot, CopyTree enters every folder but "." and "..".
bool CollectsSubfolder(const WIN32_FIND_DATAW& entry);
bool CopiesSubfolder(const WIN32_FIND_DATAW& entry);

// Appends every sub-folder of `folder` whose name does not begin with a dot to the back of
// `queue` and to g_directoryList. False when the folder cannot be listed.
bool CollectSubdirectories(const std::wstring& folder, std::deque<std::wstring>& queue);

// Fills g_directoryList with `root` and every folder below it, breadth first. A folder below
// the root that cannot be listed goes into g_unlistedFolders (a missing root is no fault).
void CollectDirectoryTree(const std::wstring& root);

// Count mode: returns the number of files directly in `folder` (0 if it cannot be listed).
// Collect mode: appends their paths to g_fileList and returns 0.
int ScanFiles(const std::wstring& folder, bool countOnly);

// Deletes every file and folder of the tree, read-only files included. True when all of it
// is gone or was already missing; stops at the first entry that cannot be deleted.
bool DeleteTree(const std::wstring& root);

// Copies the tree at `source` into `destination` depth first, counting g_copiedFileCount
// and posting WM_UPDATE_PROGRESS (1, percent) to `notifyWindow` after every file. A folder of
// the source that cannot be listed goes into g_unlistedFolders. A destination that is a
// volume's folder ("Storage Card") is never created: a volume is there or it is not.
bool CopyTree(HWND notifyWindow, const std::wstring& source, const std::wstring& destination);
