#include "tests/check/CheckTestSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace checktest {

namespace {

long long Nanoseconds(const struct timespec& time) {
    return static_cast<long long>(time.tv_sec) * 1000000000LL + time.tv_nsec;
}

// NOTE: the host moves a link's access time whenever it follows the link, and the device file
// system follows a volume folder that is a link; links exist only in host folders, never on a
// device's FAT volume, so their access time is left out.
std::string Describe(const struct stat& info) {
    std::string times = " m" + std::to_string(Nanoseconds(info.st_mtim)) + " c" +
                        std::to_string(Nanoseconds(info.st_ctim));
    if (!S_ISLNK(info.st_mode))
        times += " a" + std::to_string(Nanoseconds(info.st_atim));
    return std::to_string(info.st_mode) + " " + std::to_string(info.st_size) + times;
}

// Reads a file without moving its access time (the tests own their files).
std::string QuietBytes(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_NOATIME | O_CLOEXEC);
    if (fd < 0)
        return "<unreadable>";
    std::string bytes;
    char buffer[65536];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    return bytes;
}

template <typename Visit>
void Walk(const std::string& folder, Visit visit) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOATIME | O_CLOEXEC);
    DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
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
        std::string path = folder + "/" + name;
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0)
            continue;
        visit(path, info);
        if (S_ISDIR(info.st_mode))
            Walk(path, visit);
    }
}

}  // namespace

std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> entries;
    struct stat info {};
    lstat(root.c_str(), &info);
    entries["."] = Describe(info);
    Walk(root.string(), [&](const std::string& path, const struct stat& entry) {
        std::string description = Describe(entry);
        if (S_ISREG(entry.st_mode))
            description += " " + QuietBytes(path);
        entries[path.substr(root.string().size())] = description;
    });
    return entries;
}

void AgeAccessTimes(const fs::path& root) {
    const struct timespec times[2] = {{1000000000, 0}, {0, UTIME_OMIT}};
    Walk(root.string(), [&](const std::string& path, const struct stat&) {
        utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
    });
    utimensat(AT_FDCWD, root.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

void LayOutUnit(e2e::DeviceRoot& root) {
    for (const char* volume : {"ResidentFlash", "ResidentFlash2", "ResidentFlash4", "Windows",
                               "Storage Card", "SDHC", "硬盘"}) {
        fs::create_directories(root.Path() / fs::u8path(volume));
    }
    root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", root.Path() / "app-started");
    root.PutProgram("Windows/explorer.exe", root.Path() / "shell-started");
    for (const char* library : {"zCompress.dll", "fatutil.dll"}) {
        fs::copy_file(fs::path(QUARRIN_TOOLS) / library, root.Path() / "Windows" / library,
                      fs::copy_options::overwrite_existing);
    }
}

PackageEntry File(const std::string& path, const std::string& data) {
    return {path, PackageEntry::Kind::File, data, "", ""};
}

PackageEntry Folder(const std::string& path) {
    return {path, PackageEntry::Kind::Directory, "", "", ""};
}

std::vector<PackageEntry> GoodPackage() {
    return {Folder("ZEL"), File("ZEL/Velmoran.exe", "#!/bin/sh\necho new > \"$0.started\"\n"),
            File("ZEL/maps.dat", std::string(200000, 'm'))};
}

void PutPackage(e2e::DeviceRoot& root, const std::string& relative,
                const std::vector<PackageEntry>& entries, const std::string& marker) {
    fs::path path = root.Put(relative, "");
    std::string error;
    if (!quarrin::package::WritePackage(path.string(), {marker, "V7.1-check"}, entries, error))
        throw std::runtime_error(error);
}

void PutRequest(e2e::DeviceRoot& root, unsigned word) {
    root.Put("ResidentFlash2/UpdateInfo.dat", std::string{static_cast<char>(word), 0, 0, 0});
}

std::string AsTraced(const std::string& text) {
    std::string traced;
    for (char c : text) {
        if (c == '\r') {
            traced += "\\r";
        } else if (c == '\n') {
            traced += "\\n";
        } else if (c == '\\') {
            traced += "\\\\";
        } else {
            traced.push_back(c);
        }
    }
    return traced;
}

std::vector<std::string> ResultScreens(const fs::path& trace) {
    std::ifstream in(trace);
    std::vector<std::string> screens;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("TEXT ", 0) != 0)
            continue;
        std::string text = line.substr(line.find(' ', 5) + 1);
        bool result = text.find("成功！") != std::string::npos ||
                      text.find("失败！错误码") != std::string::npos;
        if (result && (screens.empty() || screens.back() != text))
            screens.push_back(text);
    }
    return screens;
}

CheckRun RunCheck(const std::vector<std::string>& arguments) {
    std::vector<std::string> all{"check"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    all.push_back("--json");
    CheckRun result;
    result.run = e2e::RunQuarrin(all);
    result.report = minijson::Parse(result.run.out);
    return result;
}

}  // namespace checktest
