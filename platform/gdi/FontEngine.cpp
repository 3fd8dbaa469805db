#include "platform/gdi/FontEngine.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <cmath>
#include <cwctype>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <unordered_map>

namespace quarrin::gdi {

namespace {

constexpr int FONT_DEFAULT_PIXELS = 16;  // a LOGFONT height of 0 asks for the default size

// One entry of fontconfig's list for a LOGFONT: where the face is and what it covers.
struct FaceSource {
    std::string file;
    int index = 0;
    FcCharSet* charset = nullptr;  // owned
};

// FreeType and fontconfig are not safe to call from several threads at once: every font
// operation runs under this lock.
std::mutex& FontLock() {
    static std::mutex lock;
    return lock;
}

class FtFontInstance : public FontInstance {
public:
    FtFontInstance(FT_Library library, std::vector<FaceSource> sources)
        : m_library(library), m_sources(std::move(sources)), m_faces(m_sources.size()) {}
    ~FtFontInstance() override;

    // Opens the first usable face and derives the size from the LOGFONT height.
    bool Open(LONG height);

    int Ascent() const override { return m_ascent; }
    int LineHeight() const override { return m_lineHeight; }
    const GlyphImage& Glyph(wchar_t character) override;

private:
    FT_Face FaceAt(std::size_t index);
    FT_Face FaceFor(wchar_t character, FT_UInt& glyphIndex);
    GlyphImage Render(FT_Face face, FT_UInt glyphIndex);

    FT_Library m_library;
    std::vector<FaceSource> m_sources;
    std::vector<FT_Face> m_faces;  // null until opened
    std::vector<bool> m_broken;
    std::size_t m_primary = 0;
    double m_pixelsPerEm = FONT_DEFAULT_PIXELS;
    int m_ascent = 0;
    int m_lineHeight = 0;
    std::unordered_map<wchar_t, GlyphImage> m_glyphs;
};

FtFontInstance::~FtFontInstance() {
    for (FT_Face face : m_faces) {
        if (face != nullptr)
            FT_Done_Face(face);
    }
    for (FaceSource& source : m_sources)
        FcCharSetDestroy(source.charset);
}

FT_Face FtFontInstance::FaceAt(std::size_t index) {
    if (m_broken.size() < m_sources.size())
        m_broken.resize(m_sources.size(), false);
    if (m_faces[index] != nullptr || m_broken[index])
        return m_faces[index];
    FT_Face face = nullptr;
    const FaceSource& source = m_sources[index];
    if (FT_New_Face(m_library, source.file.c_str(), source.index, &face) != 0 ||
        FT_Set_Char_Size(face, 0, std::lround(m_pixelsPerEm * 64), 72, 72) != 0) {
        if (face != nullptr)
            FT_Done_Face(face);
        m_broken[index] = true;
        return nullptr;
    }
    m_faces[index] = face;
    return face;
}

bool FtFontInstance::Open(LONG height) {
    for (m_primary = 0; m_primary < m_sources.size(); ++m_primary) {
        if (FaceAt(m_primary) != nullptr)
            break;
    }
    if (m_primary == m_sources.size())
        return false;
    FT_Face face = m_faces[m_primary];
    // GDI's cell height is the face's Windows ascent plus descent.
    auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    bool hasWin = os2 != nullptr && os2->usWinAscent + os2->usWinDescent > 0;
    double ascent = hasWin ? os2->usWinAscent : face->ascender;
    double descent = hasWin ? os2->usWinDescent : -face->descender;
    double units = face->units_per_EM > 0 ? face->units_per_EM : ascent + descent;
    if (height > 0) {
        m_pixelsPerEm = height * units / (ascent + descent);
        m_lineHeight = height;
        m_ascent = static_cast<int>(std::lround(height * ascent / (ascent + descent)));
    } else {
        m_pixelsPerEm = height < 0 ? -static_cast<double>(height) : FONT_DEFAULT_PIXELS;
        m_ascent = static_cast<int>(std::lround(ascent * m_pixelsPerEm / units));
        m_lineHeight = m_ascent + static_cast<int>(std::lround(descent * m_pixelsPerEm / units));
    }
    FT_Set_Char_Size(face, 0, std::lround(m_pixelsPerEm * 64), 72, 72);
    return true;
}

// The primary face if it has the character, else the first face of the fallback list that
// has it (checked with the face's own character map); the primary's missing-glyph box else.
FT_Face FtFontInstance::FaceFor(wchar_t character, FT_UInt& glyphIndex) {
    FT_ULong code = static_cast<FT_ULong>(character);
    FT_Face primary = m_faces[m_primary];
    glyphIndex = FT_Get_Char_Index(primary, code);
    if (glyphIndex != 0)
        return primary;
    for (std::size_t i = 0; i < m_sources.size(); ++i) {
        if (i == m_primary || !FcCharSetHasChar(m_sources[i].charset, code))
            continue;
        FT_Face face = FaceAt(i);
        if (face == nullptr)
            continue;
        glyphIndex = FT_Get_Char_Index(face, code);
        if (glyphIndex != 0)
            return face;
    }
    glyphIndex = 0;
    return primary;
}

GlyphImage FtFontInstance::Render(FT_Face face, FT_UInt glyphIndex) {
    GlyphImage image;
    if (FT_Load_Glyph(face, glyphIndex, FT_LOAD_TARGET_LIGHT) != 0)
        return image;
    FT_GlyphSlot slot = face->glyph;
    image.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0)
        return image;
    const FT_Bitmap& bitmap = slot->bitmap;
    image.left = slot->bitmap_left;
    image.top = slot->bitmap_top;
    image.width = static_cast<int>(bitmap.width);
    image.rows = static_cast<int>(bitmap.rows);
    image.coverage.resize(static_cast<std::size_t>(image.width) * image.rows);
    for (int row = 0; row < image.rows; ++row) {
        const unsigned char* line = bitmap.buffer + static_cast<std::ptrdiff_t>(row) * bitmap.pitch;
        std::copy(line, line + image.width, image.coverage.begin() + row * image.width);
    }
    return image;
}

const GlyphImage& FtFontInstance::Glyph(wchar_t character) {
    std::lock_guard guard(FontLock());
    auto found = m_glyphs.find(character);
    if (found != m_glyphs.end())
        return found->second;
    FT_UInt glyphIndex = 0;
    FT_Face face = FaceFor(character, glyphIndex);
    return m_glyphs.emplace(character, Render(face, glyphIndex)).first->second;
}

// --- Resolving a LOGFONT ---------------------------------------------------------------------

// The face name in UTF-8, with fontconfig's own encoder: the font engine is also loaded as a
// module of its own and takes nothing from the rest of the platform.
std::string FamilyName(const LOGFONTW& logFont) {
    std::string family;
    FcChar8 bytes[FC_UTF8_MAX_LEN];
    for (std::size_t i = 0; i < LF_FACESIZE && logFont.lfFaceName[i] != L'\0'; ++i) {
        auto code = static_cast<FcChar32>(logFont.lfFaceName[i]);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            code = 0xFFFD;
        family.append(reinterpret_cast<const char*>(bytes),
                      static_cast<std::size_t>(FcUcs4ToUtf8(code, bytes)));
    }
    return family.empty() ? "sans-serif" : family;
}

FcPattern* PatternFor(const LOGFONTW& logFont) {
    std::string family = FamilyName(logFont);
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    int weight = logFont.lfWeight > 0 ? static_cast<int>(logFont.lfWeight) : FW_NORMAL;
    FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(weight));
    FcPatternAddInteger(pattern, FC_SLANT, logFont.lfItalic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    return pattern;
}

std::vector<FaceSource> SortedFaces(FcConfig* config, const LOGFONTW& logFont) {
    FcPattern* pattern = PatternFor(logFont);
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultMatch;
    FcFontSet* set = FcFontSort(config, pattern, FcTrue, nullptr, &result);
    std::vector<FaceSource> sources;
    for (int i = 0; set != nullptr && i < set->nfont; ++i) {
        FcChar8* file = nullptr;
        FcCharSet* charset = nullptr;
        FcBool scalable = FcFalse;
        int index = 0;
        if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch ||
            FcPatternGetCharSet(set->fonts[i], FC_CHARSET, 0, &charset) != FcResultMatch ||
            (FcPatternGetBool(set->fonts[i], FC_SCALABLE, 0, &scalable) == FcResultMatch &&
             !scalable)) {
            continue;
        }
        FcPatternGetInteger(set->fonts[i], FC_INDEX, 0, &index);
        sources.push_back({reinterpret_cast<const char*>(file), index, FcCharSetCopy(charset)});
    }
    if (set != nullptr)
        FcFontSetDestroy(set);
    FcPatternDestroy(pattern);
    return sources;
}

struct FontLibrary {
    FT_Library library = nullptr;
    FcConfig* config = nullptr;
    std::map<std::tuple<std::wstring, LONG, LONG, BYTE>, std::shared_ptr<FontInstance>> fonts;

    FontLibrary() {
        if (FT_Init_FreeType(&library) != 0)
            library = nullptr;
        config = FcInitLoadConfigAndFonts();
    }
};

FontLibrary& Library() {
    static FontLibrary library;  // first use only: the direct launch never draws text
    return library;
}

}  // namespace

std::shared_ptr<FontInstance> ResolveFont(const LOGFONTW& logFont) {
    std::lock_guard guard(FontLock());
    FontLibrary& library = Library();
    if (library.library == nullptr || library.config == nullptr)
        return nullptr;
    std::wstring face(logFont.lfFaceName, wcsnlen(logFont.lfFaceName, LF_FACESIZE));
    for (wchar_t& c : face)
        c = static_cast<wchar_t>(std::towlower(c));
    auto key = std::make_tuple(face, logFont.lfHeight, logFont.lfWeight, logFont.lfItalic);
    auto found = library.fonts.find(key);
    if (found != library.fonts.end())
        return found->second;
    auto font =
        std::make_shared<FtFontInstance>(library.library, SortedFaces(library.config, logFont));
    if (!font->Open(logFont.lfHeight))
        return nullptr;
    library.fonts.emplace(key, font);
    return font;
}

}  // namespace quarrin::gdi
