#include "ContactSheet.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "ScreenTrace.h"
#include "platform/common/TextCodec.h"
#include "platform/host/PngFile.h"

namespace contact_sheet {

namespace {

constexpr int SHEET_MARGIN = 16;
constexpr int SHEET_GAP = 12;
constexpr int SHEET_CAPTION_GAP = 4;
constexpr int SHEET_CAPTION_PIXELS = 13;
constexpr int SHEET_TITLE_PIXELS = 18;
constexpr int SHEET_FALLBACK_WIDTH = 800;   // the size of a missing screenshot's placeholder
constexpr int SHEET_FALLBACK_HEIGHT = 480;  // when the run has no readable one at all
constexpr std::uint32_t SHEET_BACKGROUND = 0x2B2B2B;
constexpr std::uint32_t SHEET_FRAME = 0x707070;
constexpr std::uint32_t SHEET_MISSING = 0x5A2020;
constexpr std::uint32_t SHEET_CAPTION_COLOUR = 0xDADADA;
constexpr std::uint32_t SHEET_TITLE_COLOUR = 0xFFFFFF;

struct Tile {
    Picture picture;
    std::wstring caption;
};

struct RunTiles {
    std::wstring title;
    std::vector<Tile> tiles;
};

struct Placed {
    const Tile* tile;
    int x;
    int y;
};

struct PlacedTitle {
    const std::wstring* text;
    int x;
    int y;
};

struct Layout {
    std::vector<Placed> tiles;
    std::vector<PlacedTitle> titles;
    int width = 0;
    int height = 0;
};

std::string ScreenshotName(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "%05d.png", number);
    return name;
}

std::wstring CaptionText(const TracedPresent& present) {
    std::string caption = CaptionOf(present);
    std::string text = std::to_string(present.number) + (caption.empty() ? "" : " · " + caption);
    return quarrin::platform::Utf8ToWide(text);
}

bool ReadScreenshot(const std::filesystem::path& path, Picture& picture) {
    return quarrin::platform::ReadPngFile(path.string(), picture.width, picture.height,
                                          picture.pixels);
}

// The run's tiles; a screenshot that cannot be read becomes a dark red placeholder.
bool CollectTiles(const SheetRun& run, double scale, RunTiles& out, SheetResult& result) {
    std::ifstream trace(run.traceFile, std::ios::binary);
    if (!trace) {
        result.error = "cannot read screen trace '" + run.traceFile + "'";
        return false;
    }
    out.title = quarrin::platform::Utf8ToWide(run.title);
    Picture fallback(SHEET_FALLBACK_WIDTH, SHEET_FALLBACK_HEIGHT, SHEET_MISSING);
    for (const TracedPresent& present : PickDistinctScreens(ReadScreenTrace(trace))) {
        std::filesystem::path path =
            std::filesystem::path(run.shotsDir) / ScreenshotName(present.number);
        Picture shot;
        if (ReadScreenshot(path, shot)) {
            fallback = Picture(shot.width, shot.height, SHEET_MISSING);
        } else {
            result.warnings.push_back("missing screenshot '" + path.string() + "'");
            shot = fallback;
        }
        out.tiles.push_back({ScaleDown(shot, scale), CaptionText(present)});
    }
    return true;
}

Layout PlaceTiles(const std::vector<RunTiles>& runs, int columns, int titleHeight,
                  int captionHeight) {
    Layout layout;
    int y = SHEET_MARGIN;
    for (const RunTiles& run : runs) {
        if (!run.title.empty()) {
            layout.titles.push_back({&run.title, SHEET_MARGIN, y});
            y += titleHeight + SHEET_GAP / 2;
        }
        for (std::size_t first = 0; first < run.tiles.size(); first += columns) {
            std::size_t end = std::min(run.tiles.size(), first + columns);
            int x = SHEET_MARGIN;
            int rowHeight = 0;
            for (std::size_t i = first; i < end; ++i) {
                layout.tiles.push_back({&run.tiles[i], x, y});
                x += run.tiles[i].picture.width + SHEET_GAP;
                rowHeight = std::max(rowHeight, run.tiles[i].picture.height);
            }
            layout.width = std::max(layout.width, x - SHEET_GAP + SHEET_MARGIN);
            y += rowHeight + SHEET_CAPTION_GAP + captionHeight + SHEET_GAP;
        }
        y += SHEET_GAP;  // runs stand a little apart
    }
    layout.height = y - 2 * SHEET_GAP + SHEET_MARGIN;
    return layout;
}

void DrawLayout(const Layout& layout, const TextPainter& titles, const TextPainter& captions,
                Picture& sheet) {
    for (const PlacedTitle& title : layout.titles) {
        std::wstring text = titles.Fit(*title.text, sheet.width - 2 * SHEET_MARGIN);
        titles.Draw(sheet, title.x, title.y, text, SHEET_TITLE_COLOUR);
    }
    for (const Placed& placed : layout.tiles) {
        const Picture& picture = placed.tile->picture;
        FillBox(sheet, placed.x - 1, placed.y - 1, picture.width + 2, picture.height + 2,
                SHEET_FRAME);
        Paste(sheet, picture, placed.x, placed.y);
        std::wstring caption = captions.Fit(placed.tile->caption, picture.width);
        captions.Draw(sheet, placed.x, placed.y + picture.height + SHEET_CAPTION_GAP, caption,
                      SHEET_CAPTION_COLOUR);
    }
}

}  // namespace

SheetResult BuildContactSheet(const std::vector<SheetRun>& runs, const SheetOptions& options) {
    SheetResult result;
    TextPainter titles(SHEET_TITLE_PIXELS, 700);
    TextPainter captions(SHEET_CAPTION_PIXELS, 400);
    if (!titles.Ready() || !captions.Ready()) {
        result.error = "no font found for the captions";
        return result;
    }
    std::vector<RunTiles> tiles(runs.size());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (!CollectTiles(runs[i], options.scale, tiles[i], result))
            return result;
    }
    Layout layout =
        PlaceTiles(tiles, std::max(1, options.columns), titles.LineHeight(), captions.LineHeight());
    int widestTitle = 0;
    for (const RunTiles& run : tiles)
        widestTitle = std::max(widestTitle, titles.Width(run.title));
    int width = std::max({layout.width, widestTitle + 2 * SHEET_MARGIN, 2 * SHEET_MARGIN + 1});
    result.sheet = Picture(width, std::max(layout.height, 2 * SHEET_MARGIN + 1), SHEET_BACKGROUND);
    DrawLayout(layout, titles, captions, result.sheet);
    return result;
}

}  // namespace contact_sheet
