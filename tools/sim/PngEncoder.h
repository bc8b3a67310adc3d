// Writes indexed-colour PNG images: signature, IHDR, PLTE, optional tRNS,
// one zlib-compressed IDAT and IEND, each chunk with its CRC.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct PaletteEntry {
  std::uint8_t red = 0, green = 0, blue = 0, alpha = 255;
};

struct IndexedImage {
  int width = 0;
  int height = 0;
  std::vector<PaletteEntry> palette;  // 1 to 256 entries
  std::vector<std::uint8_t> pixels;   // width * height indices, rows top to bottom
};

// The PNG file of an 8-bit indexed image. A tRNS chunk is written when any
// palette entry is not fully opaque. Throws std::invalid_argument for an
// image whose sizes, palette or indices do not agree.
std::string EncodePng(const IndexedImage& image);

}  // namespace sim
