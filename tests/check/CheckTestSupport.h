// Units and media for the tests of `quarrin check`, a snapshot of a tree that moves no access
// time, and the check's and the unit's results side by side.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/check/MiniJson.h"
#include "tests/support/E2eSupport.h"
#include "tools/mkpackage/PackageWriter.h"

namespace checktest {

namespace fs = std::filesystem;
using PackageEntry = quarrin::package::PackageEntry;

// Every entry below `root` with its kind, size, mode, its three time stamps in nanoseconds and
// a file's bytes. Folders are listed without moving their access times.
std::map<std::string, std::string> Snapshot(const fs::path& root);

// Moves every access time below `root` into the past, so that any read that is not quiet
// moves it forward again.
void AgeAccessTimes(const fs::path& root);

// A unit like the demo's: the flash volumes, a main application and a shell that record their
// start, and the build's zCompress.dll and fatutil.dll in "Windows".
void LayOutUnit(e2e::DeviceRoot& root);

PackageEntry File(const std::string& path, const std::string& data);
PackageEntry Folder(const std::string& path);
// A package at `relative` below the root; ZEL/Velmoran.exe is a program unless `entries`
// says otherwise.
void PutPackage(e2e::DeviceRoot& root, const std::string& relative,
                const std::vector<PackageEntry>& entries, const std::string& marker = "ZEL-OKUN-1");
std::vector<PackageEntry> GoodPackage();

void PutRequest(e2e::DeviceRoot& root, unsigned word);

// The result screens a boot drew, in order, with line breaks as the trace writes them.
std::vector<std::string> ResultScreens(const fs::path& trace);
// A screen text as the trace writes it ("\r\n" escaped).
std::string AsTraced(const std::string& text);

// Runs `quarrin check ARGS --json` and parses its report.
struct CheckRun {
    e2e::RunResult run;
    minijson::Value report;
};
CheckRun RunCheck(const std::vector<std::string>& arguments);

}  // namespace checktest
