// Folders nested deeper than one host path can name, for tests of walks that cannot list them.
// They are made and removed one name at a time relative to their folder, since no whole path
// reaches the deepest.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <vector>

namespace deeptree {

// Writes `leaf` below `depth` nested folders of 51 or more characters ("ddd...d1/ddd...d2/...")
// made in the existing folder `base` (a host path); 80 levels pass the host's 4096 bytes.
inline void PutDeepFile(const std::string& base, int depth, const std::string& leaf,
                        const std::string& bytes) {
    int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 1; level <= depth && fd >= 0; ++level) {
        std::string name = std::string(50, 'd') + std::to_string(level);
        mkdirat(fd, name.c_str(), 0755);
        int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = next;
    }
    int file =
        fd >= 0 ? openat(fd, leaf.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
    if (fd >= 0)
        close(fd);
    bool written =
        file >= 0 && write(file, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    if (file >= 0)
        close(file);
    if (!written)
        throw std::runtime_error("cannot write " + leaf + " deep below " + base);
}

// Removes the entry `name` of the folder `parent` (a descriptor, or AT_FDCWD) and all below it.
inline void RemoveTreeAt(int parent, const char* name) {
    if (unlinkat(parent, name, 0) == 0 || errno != EISDIR)
        return;
    int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr) {
        std::vector<std::string> names;
        while (dirent* entry = readdir(dir)) {
            std::string child = entry->d_name;
            if (child != "." && child != "..")
                names.push_back(child);
        }
        for (const std::string& child : names)
            RemoveTreeAt(dirfd(dir), child.c_str());
        closedir(dir);
    }
    unlinkat(parent, name, AT_REMOVEDIR);
}

// A deep tree below `top` (made if missing) that is removed with this object.
class DeepFolder {
public:
    DeepFolder(const std::string& top, int depth) : m_top(top) {
        mkdir(top.c_str(), 0755);
        PutDeepFile(top, depth, "leaf.dat", "leaf");
    }
    ~DeepFolder() { RemoveTreeAt(AT_FDCWD, m_top.c_str()); }
    DeepFolder(const DeepFolder&) = delete;
    DeepFolder& operator=(const DeepFolder&) = delete;

private:
    std::string m_top;
};

}  // namespace deeptree
