#include "platform/host/PngFile.h"

#include <png.h>

#include <cstdio>
#include <memory>

namespace quarrin::platform {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

// Writes the picture beside its place and renames it there, so that a reader, or a
// process stopped halfway, never leaves a half-written picture under the final name.
bool WritePngFile(const std::string& path, int width, int height,
                  const std::vector<std::uint32_t>& pixels) {
    const std::string partial = path + ".partial";
    FilePtr file(std::fopen(partial.c_str(), "wb"));
    if (!file)
        return false;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    // 0x00RRGGBB in a little-endian word is the byte order B, G, R, unused.
    image.format = PNG_FORMAT_BGRA;
    std::vector<std::uint32_t> opaque(pixels.size());
    for (std::size_t i = 0; i < pixels.size(); ++i)
        opaque[i] = pixels[i] | 0xFF000000u;
    int ok = png_image_write_to_stdio(&image, file.get(), 0, opaque.data(),
                                      width * static_cast<int>(sizeof(std::uint32_t)), nullptr);
    png_image_free(&image);
    const bool written = ok != 0 && std::fclose(file.release()) == 0;
    if (!written || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

bool ReadPngFile(const std::string& path, int& width, int& height,
                 std::vector<std::uint32_t>& pixels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_BGRA;
    width = static_cast<int>(image.width);
    height = static_cast<int>(image.height);
    pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    for (std::uint32_t& pixel : pixels)
        pixel &= 0xFFFFFF;
    return true;
}

}  // namespace quarrin::platform
