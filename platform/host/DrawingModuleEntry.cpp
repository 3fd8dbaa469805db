// quarrin-drawing.so: hands out the drawing stack linked into it. Built with hidden
// visibility, so the functions named here are the module's own, not the program's loaders of
// the same names.
#include "platform/host/DrawingModule.h"
#include "platform/host/PngFile.h"

extern "C" __attribute__((visibility("default"))) const quarrin::platform::DrawingEntryPoints*
QuarrinDrawingEntryPoints() {
    static const quarrin::platform::DrawingEntryPoints entryPoints{
        quarrin::gdi::ResolveFont,
        quarrin::platform::WritePngFile,
        quarrin::platform::ReadPngFile,
    };
    return &entryPoints;
}
