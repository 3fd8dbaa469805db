// mkpackage: builds an application package from a folder, lists one, or checks one.
//
//   mkpackage --marker ZEL-OKUN-1 --version TEXT -o PACKAGE FOLDER
//   mkpackage --list PACKAGE
//   mkpackage --verify PACKAGE
#include <clocale>
#include <cstdio>
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
    "  (pack a folder that holds ZEL/ to install ResidentFlash3\\ZEL).\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "mkpackage: %s\n", message.c_str());
    return 1;
}

int Build(const PackageInfo& info, const std::string& output, const std::string& folder) {
    std::vector<PackageEntry> entries;
    std::string error;
    if (!CollectFolder(folder, entries, error) || !WritePackage(output, info, entries, error)) {
        return Fail(error);
    }
    std::printf("%s: %zu entries, marker %s, version '%s'\n", output.c_str(), entries.size(),
                info.marker.c_str(), info.version.c_str());
    return 0;
}

int Inspect(const std::string& package, bool list) {
    PackageInfo info;
    std::vector<ListedEntry> entries;
    std::string error;
    bool ok = ReadPackage(package, info, entries, error);
    if (list) {
        std::printf("marker %s\nversion %s\n", info.marker.c_str(), info.version.c_str());
        for (const ListedEntry& entry : entries) {
            std::printf(
                "%12lld  %s%s%s\n", static_cast<long long>(entry.size), entry.path.c_str(),
                entry.directory && !entry.path.empty() && entry.path.back() != '/' ? "/" : "",
                entry.safe ? "" : "  (UNSAFE)");
        }
    }
    if (!ok)
        return Fail(error);
    std::size_t unsafe = 0;
    for (const ListedEntry& entry : entries)
        unsafe += entry.safe ? 0 : 1;
    if (unsafe > 0)
        return Fail(package + ": " + std::to_string(unsafe) + " unsafe entries");
    if (!list)
        std::printf("%s: good, %zu entries\n", package.c_str(), entries.size());
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
