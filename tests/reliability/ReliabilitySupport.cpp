#include "tests/reliability/ReliabilitySupport.h"

#include <archive.h>
#include <archive_entry.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace reliability {

namespace {

void AppendUtf16(std::string& out, const std::string& ascii, std::size_t units) {
    for (std::size_t i = 0; i < units; ++i) {
        out.push_back(i < ascii.size() ? ascii[i] : '\0');
        out.push_back('\0');
    }
}

std::string Archive(const std::vector<Entry>& entries) {
    std::vector<char> buffer(8 << 20);
    std::size_t used = 0;
    archive* writer = archive_write_new();
    archive_write_add_filter_zstd(writer);
    archive_write_set_format_pax_restricted(writer);
    if (archive_write_open_memory(writer, buffer.data(), buffer.size(), &used) != ARCHIVE_OK) {
        const char* text = archive_error_string(writer);
        throw std::runtime_error(text != nullptr ? text : "cannot open the archive in memory");
    }
    for (const Entry& item : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, item.name.c_str());
        archive_entry_set_perm(entry, 0644);
        if (item.kind == Entry::File) {
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, static_cast<la_int64_t>(item.data.size()));
        } else if (item.kind == Entry::Folder) {
            archive_entry_set_filetype(entry, AE_IFDIR);
            archive_entry_set_perm(entry, 0755);
        } else {
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, item.data.c_str());
        }
        archive_write_header(writer, entry);
        if (item.kind == Entry::File)
            archive_write_data(writer, item.data.data(), item.data.size());
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    return std::string(buffer.data(), used);
}

// Files larger than this are compared by size and modification time, not read.
constexpr std::uintmax_t kLargestReadFile = 16 << 20;

std::string LargeFileStamp(const fs::directory_entry& entry) {
    auto modified = entry.last_write_time().time_since_epoch().count();
    return "<" + std::to_string(entry.file_size()) + " bytes, modified " +
           std::to_string(modified) + ">";
}

void Collect(const fs::path& base, std::map<std::string, std::string>& out) {
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(base, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        // Lexically: fs::relative would follow links and give a link its target's name.
        std::string relative = it->path().lexically_relative(base).string();
        if (it->is_symlink()) {
            out[relative] = "-> " + fs::read_symlink(it->path()).string();
        } else if (it->is_regular_file() && it->file_size() > kLargestReadFile) {
            out[relative] = LargeFileStamp(*it);
        } else if (it->is_regular_file()) {
            std::ifstream in(it->path(), std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            out[relative] = text.str();
        } else {
            out[relative + "/"] = "";
        }
    }
}

}  // namespace

std::string PackageHeader(const std::string& marker, std::size_t versionUnits) {
    std::string header;
    AppendUtf16(header, marker, 10);
    AppendUtf16(header, std::string(versionUnits, 'V'), versionUnits);
    return header;
}

std::string BuildPackage(const std::vector<Entry>& entries, const std::string& version) {
    std::string package;
    AppendUtf16(package, "ZEL-OKUN-1", 10);
    AppendUtf16(package, version, 22);
    return package + Archive(entries);
}

std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    Collect(folder, files);
    return files;
}

std::vector<std::string> Changes(const std::map<std::string, std::string>& before,
                                 const std::map<std::string, std::string>& after) {
    std::vector<std::string> changed;
    for (const auto& [path, content] : before) {
        auto now = after.find(path);
        if (now == after.end() || now->second != content)
            changed.push_back(path);
    }
    for (const auto& [path, content] : after) {
        if (before.count(path) == 0)
            changed.push_back(path);
    }
    return changed;
}

void LayOutDevice(e2e::DeviceRoot& root) {
    for (const char* volume : {"Windows", "ResidentFlash", "ResidentFlash2", "ResidentFlash3",
                               "Storage Card", "SDHC", "硬盘"}) {
        fs::create_directories(root.Path() / fs::u8path(volume));
    }
    fs::copy_file(QUARRIN_TOOLS "/zCompress.dll", root.Path() / "Windows" / "zCompress.dll");
    fs::copy_file(QUARRIN_TOOLS "/fatutil.dll", root.Path() / "Windows" / "fatutil.dll");
    root.PutProgram("ResidentFlash3/ZEL/Velmoran.exe", root.Path() / "app-started");
    root.PutProgram("Windows/explorer.exe", root.Path() / "shell-started");
}

bool Boot::Shown(const std::string& start) const {
    for (const auto& text : screenTexts) {
        if (text.rfind(start, 0) == 0)
            return true;
    }
    return false;
}

bool Boot::Logged(const std::string& line) const {
    for (const auto& logged : e2e::SplitCrLfLines(run.err)) {
        if (logged == line)
            return true;
    }
    return false;
}

Boot BootWith(e2e::DeviceRoot& root, unsigned requestWord, std::chrono::seconds limit,
              std::size_t memoryLimitKiB) {
    std::string word(4, '\0');
    for (int i = 0; i < 4; ++i)
        word[i] = static_cast<char>(requestWord >> (8 * i));
    root.Put("ResidentFlash2/UpdateInfo.dat", word);
    fs::path trace = root.Path().parent_path() / (root.Path().filename().string() + "-trace");
    Boot boot;
    std::vector<std::string> arguments = {"--root",       root.Path().string(), "--screen-trace",
                                          trace.string(), "--clock-rate",       "200",
                                          "--progress"};
    if (memoryLimitKiB == 0) {
        boot.run = e2e::RunProgram(QUARRIN_BINARY, arguments, limit);
    } else {
        std::string limitText = std::to_string(memoryLimitKiB);
        arguments.insert(
            arguments.begin(),
            {"-c", "ulimit -v " + limitText + " && exec \"$0\" \"$@\"", QUARRIN_BINARY});
        boot.run = e2e::RunProgram("/bin/sh", arguments, limit);
    }
    std::ifstream in(trace);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("TEXT ", 0) == 0)
            boot.screenTexts.push_back(line.substr(line.find(' ', 5) + 1));
    }
    in.close();
    fs::remove(trace);
    return boot;
}

}  // namespace reliability
