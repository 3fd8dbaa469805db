// Fonts for DrawTextW: a LOGFONT resolved through fontconfig and rendered by FreeType,
// anti-aliased. Characters the chosen face lacks come from the first face of fontconfig's
// fallback list that has them (Chinese text from a CJK face). Nothing loads until the first
// text is drawn; resolved fonts and rendered glyphs are cached for the life of the process.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/api/GdiApi.h"

namespace quarrin::gdi {

// A rendered glyph: 8-bit coverage rows, placed relative to the pen position on the
// baseline (left to the right, top upwards).
struct GlyphImage {
    int left = 0;
    int top = 0;
    int width = 0;
    int rows = 0;
    int advance = 0;
    std::vector<std::uint8_t> coverage;
};

class FontInstance {
public:
    virtual ~FontInstance() = default;
    virtual int Ascent() const = 0;
    virtual int LineHeight() const = 0;
    // The reference stays valid for the life of the font.
    virtual const GlyphImage& Glyph(wchar_t character) = 0;
};

// Null when no face at all can be found.
std::shared_ptr<FontInstance> ResolveFont(const LOGFONTW& logFont);

}  // namespace quarrin::gdi
