// Writing palette PNG pictures with libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace picture {

struct PaletteColour {
  std::uint8_t red = 0, green = 0, blue = 0, alpha = 255;
};

// The bytes of an 8-bit palette PNG picture: width x height indices, rows
// top to bottom, into 1 to 256 palette colours (a tRNS chunk carries the
// alpha of those that are not opaque). Throws EInvalidGraphic for sizes,
// a palette or indices that do not agree, and when libpng fails.
std::string EncodePalettePng(int width, int height, const std::vector<PaletteColour>& palette,
                             const std::vector<std::uint8_t>& indices);

}  // namespace picture
