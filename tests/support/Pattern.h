// Image bytes for transfers that vary along the image, so that a block written to the wrong
// place or skipped shows in a comparison.
#pragma once

#include <cstddef>
#include <string>

namespace testsupport {

// Byte i is (i * step + seed + i / period) mod 256.
inline std::string Pattern(std::size_t size, unsigned seed, unsigned step, unsigned period) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * step + seed + i / period) & 0xFF);
    return bytes;
}

}  // namespace testsupport
