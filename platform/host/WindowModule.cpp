#include <cstdio>

#include "platform/host/ModuleBesideProgram.h"
#include "platform/host/WindowSink.h"

namespace quarrin::platform {

std::unique_ptr<WindowSink> OpenLiveWindow(int width, int height, const std::string& snapshotFile) {
    // The module stays loaded for the rest of the process: its window thread runs in it.
    std::string error;
    void* module = LoadModuleBesideProgram("quarrin-window.so", error);
    if (module == nullptr) {
        std::fprintf(stderr,
                     "quarrin: cannot load the window module (%s); running without a window\n",
                     error.c_str());
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
