// Facts about a folder tree of the device, gathered through the device's own listings.
#pragma once

#include <string>
#include <vector>

#include "check/CheckEnvironment.h"

// One walk that enters every folder the unit's copy would enter (all but links, which the
// check does not follow): what the navigation worker and DeleteTree will meet.
struct TreeFacts {
    bool exists = false;
    int folders = 0;
    int files = 0;              // every file of the walk
    ULONGLONG bytes = 0;        // their sizes
    int filesInDotFolders = 0;  // in folders the count leaves out (names beginning with a dot)
    std::vector<std::wstring> dotFolders;   // such folders, outermost only
    std::vector<std::wstring> folderLinks;  // links to folders: the unit's walks follow them
    std::vector<std::wstring> fileLinks;    // links to files: copied as their targets
    std::vector<std::wstring> caseTwins;    // names equal to an earlier one but for case
    std::vector<std::wstring> slashNames;   // host names holding a backslash
    bool slashNameAtTop = false;            // one of them directly in the root
    std::vector<std::wstring> undecodable;  // host names that are not valid UTF-8
    std::vector<std::wstring> readOnlyFolders;
    std::vector<LeftOutEntry> leftOut;       // entries the listings hide
    std::vector<std::wstring> topFileNames;  // files directly in the root
};

// A large tree shows, under `progressName`, the folders walked so far as a share of those
// found so far.
TreeFacts GatherTreeFacts(const std::wstring& root, const CheckEnvironment& environment,
                          const std::wstring& progressName = L"");

// Why DeleteTree would fail on `root`, or empty when it would remove it all (a missing root
// counts as removed).
std::wstring TreeDeletionObstacle(const std::wstring& root, const CheckEnvironment& environment);
