// Modules that the loader loads only when a run needs them (the drawing stack, the live
// window) sit beside the quarrin executable.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <string>

namespace quarrin::platform {

// Loads FILE_NAME from the executable's folder for the rest of the process; null with the
// reason in `error` when it cannot be loaded.
inline void* LoadModuleBesideProgram(const char* fileName, std::string& error) {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string folder = ".";
    if (length > 0) {
        folder.assign(path, static_cast<std::size_t>(length));
        folder.erase(folder.rfind('/'));
    }
    void* module = dlopen((folder + "/" + fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* reason = dlerror();
        error = reason != nullptr ? reason : "unknown error";
    }
    return module;
}

}  // namespace quarrin::platform
