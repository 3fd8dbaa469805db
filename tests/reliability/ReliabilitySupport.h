// Helpers for running the real binary on hostile devices: packages built entry by entry
// (mkpackage refuses unsafe ones), a device laid out for an update, and a record of
// every file below a folder to prove that nothing was written where it does not belong.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/E2eSupport.h"

namespace reliability {

struct Entry {
    enum Kind { File, Folder, Link } kind;
    std::string name;
    std::string data;  // file content or link target
};

// A package with a "ZEL-OKUN-1" header and a zstd tar of `entries`, written as given.
std::string BuildPackage(const std::vector<Entry>& entries, const std::string& version = "V1");
// The header of a package alone: `marker`, then `versionUnits` UTF-16 units of 'V'.
std::string PackageHeader(const std::string& marker, std::size_t versionUnits);

// Path -> content of every file and link below `folder` (links as "-> target").
std::map<std::string, std::string> Snapshot(const std::filesystem::path& folder);
// Paths that differ between two snapshots: changed, added or gone.
std::vector<std::string> Changes(const std::map<std::string, std::string>& before,
                                 const std::map<std::string, std::string>& after);

// A device with the volumes, the libraries and a main application that records its start.
void LayOutDevice(e2e::DeviceRoot& root);

// Boots the device with a request word; screen trace and progress lines are kept.
struct Boot {
    e2e::RunResult run;
    std::vector<std::string> screenTexts;  // TEXT lines of the screen trace
    bool Shown(const std::string& start) const;
    bool Logged(const std::string& line) const;
};
// A `memoryLimitKiB` other than 0 runs the loader under that much address space (ulimit -v).
Boot BootWith(e2e::DeviceRoot& root, unsigned requestWord,
              std::chrono::seconds limit = std::chrono::seconds(60),
              std::size_t memoryLimitKiB = 0);

}  // namespace reliability
