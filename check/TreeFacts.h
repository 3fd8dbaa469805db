// Facts about a folder tree of the device, gathered through the device's own listings.
#pragma once

#include <string>
#include <vector>

#include "check/CheckEnvironment.h"

// One walk that enters every folder the unit's copy would enter: what the navigation worker
// and DeleteTree will meet. Links below a volume are not in the device's listings, so no walk
// follows one.
struct TreeFacts {
    bool exists = false;
    DWORD error = ERROR_SUCCESS;  // why the root cannot be reached, if it cannot
    bool rootIsFile = false;
    int folders = 0;
    int files = 0;              // every file of the walk
    int topFiles = 0;           // files directly in the root
    ULONGLONG bytes = 0;        // the sizes of those the copy can read
    int filesInDotFolders = 0;  // in folders the count leaves out (names beginning with a dot)
    std::vector<std::wstring> dotFolders;  // such folders, outermost only
    // Names that fold like an earlier name of their folder: the device's name is the first
    // one, so neither a twin nor anything below it opens.
    std::vector<std::wstring> caseTwins;
    int unopenableFiles = 0;  // files of the walk no open reaches (twins, pipes, 4 GiB or more)
    std::vector<std::wstring> unopenable;  // such files, apart from those below case twins
    std::vector<std::wstring> readOnlyFolders;
    std::vector<UnheldEntry> leftOut;  // entries the listings leave out (names, links)
    // Folders that are listed but cannot be listed themselves (no access, a path too long
    // for the host), with the listing's error: nothing in them is counted, copied or deleted.
    struct Unlisted {
        std::wstring path;
        DWORD error;
    };
    std::vector<Unlisted> unlistedFolders;
};

// A large tree shows, under `progressName`, the folders walked so far as a share of those
// found so far.
TreeFacts GatherTreeFacts(const std::wstring& root, const CheckEnvironment& environment,
                          const std::wstring& progressName = L"");

// Why DeleteTree would fail on `root`, or empty when it would remove it all (a missing root
// counts as removed).
std::wstring TreeDeletionObstacle(const std::wstring& root, const CheckEnvironment& environment);
