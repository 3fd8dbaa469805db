// mkpackage: builds an application package from a folder, lists one, or checks one.
//
//   mkpackage --marker ZEL-OKUN-1 --version TEXT -o PACKAGE FOLDER
//   mkpackage --list PACKAGE
//   mkpackage --verify PACKAGE
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/mkpackage/PackageWriter.h"

namespace {

using namespace quarrin::package;

const char kUsage[] =
    "usage: mkpackage [--marker ZEL-OKUN-1|ZEL-OKUN-2] [--version TEXT] -o PACKAGE FOLDER\n"
    "       mkpackage --list PACKAGE\n"
    "       mkpackage --verify PACKAGE\n"
    "  FOLDER's content becomes the package's content, paths relative to FOLDER\n"
    "  (pack a folder that holds ZEL/Velmoran.exe to install ResidentFlash3\\ZEL).\n"
    "  Packing and --verify refuse what the unit's installer would refuse.\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "mkpackage: %s\n", message.c_str());
    return 1;
}

// A package written into the folder it packs would carry the previous package inside the
// next one.
bool LiesInside(const std::string& output, const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code code;
    fs::path root = fs::canonical(folder, code);
    if (code)
        return false;
    fs::path file = fs::weakly_canonical(fs::absolute(output, code), code);
    if (code)
        return false;
    auto [rootEnd, fileAt] = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
    return rootEnd == root.end() && fileAt != file.end();
}

int Build(const PackageInfo& info, const std::string& output, const std::string& folder) {
    std::vector<PackageEntry> entries;
    std::string error;
    if (LiesInside(output, folder))
        return Fail(output + ": lies inside " + folder + ", the folder being packed");
    if (!CollectFolder(folder, entries, error))
        return Fail(error);
    if (!CheckPackageEntries(entries, error))
        return Fail(folder + ": " + error);
    if (!WritePackage(output, info, entries, error))
        return Fail(error);
    std::printf("%s: %zu entries, marker %s, version '%s'\n", output.c_str(), entries.size(),
                info.marker.c_str(), info.version.c_str());
    return 0;
}

void PrintListing(const PackageListing& listing) {
    std::printf("marker %s\nversion %s\n", listing.info.marker.c_str(),
                listing.info.version.c_str());
    for (const ListedEntry& entry : listing.entries) {
        std::printf("%12lld  %s%s%s\n", static_cast<long long>(entry.size), entry.path.c_str(),
                    entry.directory && !entry.path.empty() && entry.path.back() != '/' ? "/" : "",
                    IsRefused(entry.verdict) ? "  (REFUSED)" : "");
    }
}

// Names every entry the unit would refuse, and a package without the main application.
int Inspect(const std::string& package, bool list) {
    PackageListing listing;
    std::string error;
    bool ok = ReadPackage(package, listing, error);
    if (list)
        PrintListing(listing);
    if (!ok)
        return Fail(error);
    std::size_t refused = 0;
    for (const ListedEntry& entry : listing.entries) {
        if (IsRefused(entry.verdict)) {
            ++refused;
            std::fprintf(stderr, "mkpackage: %s: entry '%s' would be refused: %s\n",
                         package.c_str(), entry.path.c_str(), DescribeVerdict(entry.verdict));
        }
    }
    if (!listing.hasProgram)
        std::fprintf(stderr, "mkpackage: %s: %s\n", package.c_str(), NO_PROGRAM_REASON);
    if (refused > 0 || !listing.hasProgram) {
        return Fail(package + ": the unit would refuse this package (" + std::to_string(refused) +
                    " refused entries)");
    }
    if (!list)
        std::printf("%s: good, %zu entries\n", package.c_str(), listing.entries.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C.UTF-8");
    std::vector<std::string> args(argv + 1, argv + argc);
    PackageInfo info{"ZEL-OKUN-1", ""};
    std::string output, folder, inspect;
    bool list = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool hasValue = i + 1 < args.size();
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if ((arg == "--marker" || arg == "--version" || arg == "-o" || arg == "--list" ||
                    arg == "--verify") &&
                   !hasValue) {
            return Fail(arg + " needs a value\n" + kUsage);
        } else if (arg == "--marker") {
            info.marker = args[++i];
        } else if (arg == "--version") {
            info.version = args[++i];
        } else if (arg == "-o") {
            output = args[++i];
        } else if (arg == "--list" || arg == "--verify") {
            list = arg == "--list";
            inspect = args[++i];
        } else if (folder.empty() && arg.rfind("-", 0) != 0) {
            folder = arg;
        } else {
            return Fail("unexpected argument '" + arg + "'\n" + kUsage);
        }
    }
    if (!inspect.empty())
        return Inspect(inspect, list);
    if (output.empty() || folder.empty())
        return Fail(std::string("nothing to do\n") + kUsage);
    return Build(info, output, folder);
}
