// Modules that the loader loads only when a run needs them (the drawing stack, the live
// window) and the programs of its subcommands sit beside the quarrin executable, so that a
// plain boot maps none of their libraries.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

namespace quarrin::platform {

// The folder of the running executable ("." when it cannot be told).
inline std::string ProgramFolder() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string folder = ".";
    if (length > 0) {
        folder.assign(path, static_cast<std::size_t>(length));
        folder.erase(folder.rfind('/'));
    }
    return folder;
}

// Loads FILE_NAME from the executable's folder for the rest of the process; null with the
// reason in `error` when it cannot be loaded.
inline void* LoadModuleBesideProgram(const char* fileName, std::string& error) {
    void* module = dlopen((ProgramFolder() + "/" + fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* reason = dlerror();
        error = reason != nullptr ? reason : "unknown error";
    }
    return module;
}

// Replaces this process with the program FILE_NAME from the executable's folder, run with
// `argv` (null-terminated; argv[0] is its name). Returns only when the program cannot be
// started, with the reason in `error`.
inline void ExecProgramBesideProgram(const char* fileName, char** argv, std::string& error) {
    std::string path = ProgramFolder() + "/" + fileName;
    execv(path.c_str(), argv);
    error = path + ": " + std::strerror(errno);
}

}  // namespace quarrin::platform
