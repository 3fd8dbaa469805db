// The drawing stack's functions for a program that loads it as a module on first use.
#include "platform/host/DrawingModule.h"

#include <cstdio>

#include "platform/host/ModuleBesideProgram.h"
#include "platform/host/PngFile.h"

namespace quarrin::platform {

namespace {

// Null when the module cannot be loaded: then no text is drawn and no picture is saved, and
// standard error says why, once.
const DrawingEntryPoints* Drawing() {
    static const DrawingEntryPoints* const entryPoints = []() -> const DrawingEntryPoints* {
        std::string error;
        void* module = LoadModuleBesideProgram("quarrin-drawing.so", error);
        auto entry = module == nullptr ? nullptr
                                       : reinterpret_cast<decltype(&QuarrinDrawingEntryPoints)>(
                                             dlsym(module, "QuarrinDrawingEntryPoints"));
        if (entry == nullptr) {
            std::fprintf(stderr,
                         "quarrin: cannot load the drawing module (%s): no text or pictures\n",
                         module == nullptr ? error.c_str() : "no entry point");
            return nullptr;
        }
        return entry();
    }();
    return entryPoints;
}

}  // namespace

bool WritePngFile(const std::string& path, int width, int height,
                  const std::vector<std::uint32_t>& pixels) {
    const DrawingEntryPoints* drawing = Drawing();
    return drawing != nullptr && drawing->writePng(path, width, height, pixels);
}

bool ReadPngFile(const std::string& path, int& width, int& height,
                 std::vector<std::uint32_t>& pixels) {
    const DrawingEntryPoints* drawing = Drawing();
    return drawing != nullptr && drawing->readPng(path, width, height, pixels);
}

}  // namespace quarrin::platform

namespace quarrin::gdi {

std::shared_ptr<FontInstance> ResolveFont(const LOGFONTW& logFont) {
    const platform::DrawingEntryPoints* drawing = platform::Drawing();
    return drawing != nullptr ? drawing->resolveFont(logFont) : nullptr;
}

}  // namespace quarrin::gdi
