// The drawing stack as a module (quarrin-drawing.so beside the executable): the font engine
// and the PNG files, so that the loader maps FreeType, fontconfig and libpng only when a run
// draws text or saves a picture. A program that sets QUARRIN_LAZY_DRAWING in its build gets
// ResolveFont, WritePngFile and ReadPngFile as calls into this module, loaded on first use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gdi/FontEngine.h"

namespace quarrin::platform {

struct DrawingEntryPoints {
    std::shared_ptr<gdi::FontInstance> (*resolveFont)(const LOGFONTW& logFont);
    bool (*writePng)(const std::string& path, int width, int height,
                     const std::vector<std::uint32_t>& pixels);
    bool (*readPng)(const std::string& path, int& width, int& height,
                    std::vector<std::uint32_t>& pixels);
};

}  // namespace quarrin::platform

// The module's one entry point.
extern "C" const quarrin::platform::DrawingEntryPoints* QuarrinDrawingEntryPoints();
