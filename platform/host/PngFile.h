// PNG files of screen frames (8-bit RGB), written and read back with libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarrin::platform {

// Writes width x height pixels 0x00RRGGBB; false if the file cannot be written.
bool WritePngFile(const std::string& path, int width, int height,
                  const std::vector<std::uint32_t>& pixels);

// Reads a PNG file back as 0x00RRGGBB pixels; false if it is not a readable PNG.
bool ReadPngFile(const std::string& path, int& width, int& height,
                 std::vector<std::uint32_t>& pixels);

}  // namespace quarrin::platform
