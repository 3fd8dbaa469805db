// Fuzz target: a host folder tree that holds anything a host can (links that loop or lead
// out, pipes, files of 4 GiB, case twins, names of any bytes) is listed, copied and deleted by
// the tree operations on the simulated device.
//
// Checked for every input:
//  - a listing of each folder shows exactly the entries the device rules let it see, each
//    once, in name order: no link, no name CheckDeviceName refuses;
//  - walking the tree ends, and never lists more folders than were made;
//  - a copy of the tree onto the card writes only below its destination, each file it wrote
//    holds the bytes of the file whose name the device gives it (the first of case twins), and
//    nothing outside the tree and the destination changes (a link's targets included);
//  - deleting the tree leaves every link's target as it was, and succeeds exactly when no
//    entry the device cannot see, or a folder the walk skips (a dot first), keeps a folder
//    from being removed.
//
// Input: entries, each a byte of kind and parent, a byte of name length, the name's bytes.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Win32.h"
#include "platform/common/DeviceEntryRules.h"
#include "platform/common/DeviceFileSystem.h"
#include "platform/common/TextCodec.h"
#include "platform/sim/SimPlatform.h"
#include "workers/TreeOperations.h"

namespace fs = std::filesystem;
using namespace quarrin::platform;

namespace {

SimPlatform* g_sim = nullptr;
std::string g_outside;  // a folder beside the device root that links lead to

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

std::string ReadHost(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Path -> kind and content of everything below `root`, links as their text, not followed.
void Snapshot(const std::string& root, const std::string& relative,
              std::map<std::string, std::string>& out) {
    DIR* dir = opendir((root + relative).c_str());
    if (dir == nullptr)
        return;
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    for (const std::string& name : names) {
        std::string path = relative + "/" + name;
        struct stat info {};
        if (lstat((root + path).c_str(), &info) != 0)
            continue;
        if (S_ISLNK(info.st_mode)) {
            char target[4096];
            ssize_t n = readlink((root + path).c_str(), target, sizeof target);
            out[path] = "-> " + std::string(target, n > 0 ? static_cast<std::size_t>(n) : 0);
        } else if (S_ISDIR(info.st_mode)) {
            out[path + "/"] = "";
            Snapshot(root, path, out);
        } else if (S_ISREG(info.st_mode) && info.st_size < 4096) {
            out[path] = ReadHost(root + path);
        } else {
            out[path] =
                "size " + std::to_string(info.st_size) + " mode " + std::to_string(info.st_mode);
        }
    }
}

struct Tree {
    std::vector<std::wstring> folders{L"SDHC\\src"};  // device paths of folders made
    // Something keeps a folder from being removed: a name the device cannot spell in a folder
    // it can see, or a folder whose name begins with a dot, which the tree walk skips.
    bool blocksDeletion = false;
};

std::string NameFrom(const std::uint8_t* bytes, std::size_t length) {
    std::string name(reinterpret_cast<const char*>(bytes), length);
    for (char& c : name) {
        if (c == '/' || c == '\0')
            c = '_';
    }
    if (name.empty() || name == "." || name == "..")
        name += "n";
    return name;
}

// Makes one entry on the host; kinds: file, folder, loop, link out, link to a device file,
// pipe, a 4 GiB file.
void MakeEntry(Tree& tree, std::uint8_t kind, const std::string& name) {
    const std::wstring& parent = tree.folders[(kind >> 3) % tree.folders.size()];
    std::string host = g_sim->HostPath(parent) + "/" + name;
    struct stat info {};
    if (lstat(host.c_str(), &info) == 0)
        return;
    bool made = false;
    switch (kind & 7) {
        case 1:
            made = mkdir(host.c_str(), 0777) == 0;
            if (made && CheckDeviceName(name) == NameProblem::None)
                tree.folders.push_back(parent + L"\\" + Utf8ToWide(name));
            break;
        case 2:
            made = symlink("..", host.c_str()) == 0;
            break;
        case 3:
            made = symlink(g_outside.c_str(), host.c_str()) == 0;
            break;
        case 4:
            made = symlink(g_sim->HostPath(L"ResidentFlash2\\RawData").c_str(), host.c_str()) == 0;
            break;
        case 5:
            made = mkfifo(host.c_str(), 0644) == 0;
            break;
        case 6:
            std::ofstream(host, std::ios::binary).close();
            made = truncate(host.c_str(), (4LL << 30) + 1) == 0;
            break;
        default:
            std::ofstream(host, std::ios::binary) << name;
            made = true;
            break;
    }
    // A link goes with its folder whatever its name; anything else the device cannot see
    // keeps its folder from being removed.
    bool link = (kind & 7) >= 2 && (kind & 7) <= 4;
    if (made && !link && CheckDeviceName(name) != NameProblem::None)
        tree.blocksDeletion = true;
    if (made && (kind & 7) == 1 && name[0] == '.')
        tree.blocksDeletion = true;
}

// What the device may list of a host folder: the rules, applied here from the host's view.
std::set<std::wstring> Visible(const std::string& host) {
    std::set<std::wstring> names;
    DIR* dir = opendir(host.c_str());
    Check(dir != nullptr);
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        struct stat info {};
        if (name == "." || name == ".." || CheckDeviceName(name) != NameProblem::None ||
            lstat((host + "/" + name).c_str(), &info) != 0 || S_ISLNK(info.st_mode)) {
            continue;
        }
        names.insert(Utf8ToWide(name));
    }
    closedir(dir);
    return names;
}

void CheckListing(const std::wstring& folder) {
    std::vector<std::wstring> listed;
    WIN32_FIND_DATAW data{};
    HANDLE search = FindFirstFileW((folder + L"\\*.*").c_str(), &data);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            listed.push_back(data.cFileName);
        } while (FindNextFileW(search, &data));
        FindClose(search);
    }
    std::set<std::wstring> expected = Visible(g_sim->HostPath(folder));
    Check(std::vector<std::wstring>(expected.begin(), expected.end()) == listed);
}

// Every file the copy wrote holds the bytes of the source file the device's name gives.
void CheckCopies(const std::wstring& source, const std::wstring& destination) {
    std::string to = g_sim->HostPath(destination);
    DIR* dir = opendir(to.c_str());
    if (dir == nullptr)
        return;
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    for (const std::string& name : names) {
        std::wstring wide = Utf8ToWide(name);
        std::string copy = to + "/" + name;
        if (fs::is_directory(fs::symlink_status(copy))) {
            CheckCopies(source + L"\\" + wide, destination + L"\\" + wide);
            continue;
        }
        // The first in name order of the source's names that fold like this one.
        std::set<std::wstring> visible = Visible(g_sim->HostPath(source));
        std::wstring folded = FoldCase(wide);
        for (const std::wstring& candidate : visible) {
            if (FoldCase(candidate) == folded) {
                Check(ReadHost(copy) ==
                      ReadHost(g_sim->HostPath(source) + "/" + WideToUtf8(candidate)));
                break;
            }
        }
    }
}

void Reset() {
    fs::remove_all(g_sim->HostPath(L"SDHC"));
    fs::remove_all(g_sim->HostPath(L"Storage Card"));
    fs::remove_all(g_outside);
    g_sim->PutDirectory(L"SDHC\\src");
    g_sim->PutDirectory(L"Storage Card");
    g_sim->PutFile(L"ResidentFlash2\\RawData", "record");
    fs::create_directories(g_outside);
    std::ofstream(g_outside + "/secret") << "secret";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_sim = new SimPlatform();
    g_outside = g_sim->Root() + "-outside";
    std::atexit([] {
        fs::remove_all(g_outside);
        delete g_sim;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reset();
    Tree tree;
    for (std::size_t i = 0; i + 1 < size && tree.folders.size() < 64;) {
        std::uint8_t kind = data[i];
        std::size_t length = std::min<std::size_t>(data[i + 1], size - i - 2);
        MakeEntry(tree, kind, NameFrom(data + i + 2, length));
        i += 2 + length;
    }
    std::map<std::string, std::string> outsideBefore, deviceBefore;
    Snapshot(g_outside, "", outsideBefore);
    Snapshot(g_sim->Root(), "", deviceBefore);

    for (const std::wstring& folder : tree.folders)
        CheckListing(folder);
    CollectDirectoryTree(L"SDHC\\src");
    Check(g_directoryList.size() <= tree.folders.size());
    g_directoryList.clear();

    g_totalFileCount = 1;
    g_copiedFileCount = 0;
    CopyTree(nullptr, L"SDHC\\src", L"Storage Card\\dst");
    CheckCopies(L"SDHC\\src", L"Storage Card\\dst");
    std::map<std::string, std::string> outsideAfter, deviceAfter;
    Snapshot(g_outside, "", outsideAfter);
    Snapshot(g_sim->Root(), "", deviceAfter);
    Check(outsideAfter == outsideBefore);
    for (const auto& [path, content] : deviceAfter) {
        auto before = deviceBefore.find(path);
        bool same = before != deviceBefore.end() && before->second == content;
        Check(same || path.rfind("/Storage Card/dst", 0) == 0);
    }
    for (const auto& [path, content] : deviceBefore)
        Check(deviceAfter.count(path) != 0);

    bool deleted = DeleteTree(L"SDHC\\src");
    Check(deleted == !tree.blocksDeletion);
    Check(!deleted || !fs::exists(fs::symlink_status(g_sim->HostPath(L"SDHC\\src"))));
    outsideAfter.clear();
    Snapshot(g_outside, "", outsideAfter);
    Check(outsideAfter == outsideBefore);
    Check(g_sim->FileBytes(L"ResidentFlash2\\RawData") == "record");
    return 0;
}
