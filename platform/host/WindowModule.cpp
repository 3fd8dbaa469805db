#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

#include "platform/host/WindowSink.h"

namespace quarrin::platform {

namespace {

std::string ExecutableFolder() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    std::string text(path, static_cast<std::size_t>(length));
    return text.substr(0, text.rfind('/'));
}

}  // namespace

std::unique_ptr<WindowSink> OpenLiveWindow(int width, int height, const std::string& snapshotFile) {
    std::string modulePath = ExecutableFolder() + "/quarrin-window.so";
    // The module stays loaded for the rest of the process: its window thread runs in it.
    void* module = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr,
                     "quarrin: cannot load the window module (%s); running without a window\n",
                     dlerror());
        return nullptr;
    }
    using OpenFunction = WindowSink* (*)(int, int, const char*);
    auto open = reinterpret_cast<OpenFunction>(dlsym(module, "QuarrinOpenLiveWindow"));
    if (open == nullptr) {
        std::fprintf(stderr,
                     "quarrin: the window module has no entry point; running without a window\n");
        return nullptr;
    }
    return std::unique_ptr<WindowSink>(open(width, height, snapshotFile.c_str()));
}

}  // namespace quarrin::platform
