#include "nowcast/EchoLevels.h"

#include "picture/PngEncoder.h"

#include <cstddef>

namespace nowcast {

LevelField LevelField::Empty(int width, int height) {
  LevelField field;
  field.width = width;
  field.height = height;
  field.levels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
  return field;
}

namespace {

std::uint8_t NearestLevel(const std::uint8_t* pixel, const Legend& legend) {
  int best_distance = kMaxColourDistanceSquared + 1;
  std::size_t best = 0;
  for (std::size_t i = 0; i < legend.size() && i < kMaxLevels; ++i) {
    const int red = pixel[0] - legend[i].red;
    const int green = pixel[1] - legend[i].green;
    const int blue = pixel[2] - legend[i].blue;
    const int distance = red * red + green * green + blue * blue;
    if (distance < best_distance) {
      best_distance = distance;
      best = i + 1;
    }
  }
  return static_cast<std::uint8_t>(best);
}

}  // namespace

LevelField EchoLevels(const picture::RgbaImage& frame, const Legend& legend) {
  LevelField field = LevelField::Empty(frame.width, frame.height);
  const std::uint8_t* pixel = frame.pixels.data();
  // Frames hold few colours: a small cache of colours seen, indexed by a
  // hash of the colour, keeps the search through the legend rare.
  constexpr std::size_t kCacheSize = 256;
  std::uint32_t cached_colour[kCacheSize];
  std::uint8_t cached_level[kCacheSize];
  for (std::size_t i = 0; i < kCacheSize; ++i) cached_colour[i] = 0xffffffffu;
  for (std::uint8_t& level : field.levels) {
    if (pixel[3] == 255) {
      const std::uint32_t colour = static_cast<std::uint32_t>(pixel[0]) << 16 |
                                   static_cast<std::uint32_t>(pixel[1]) << 8 | pixel[2];
      const std::size_t slot = (colour * 2654435761u) >> 24;
      if (cached_colour[slot] != colour) {
        cached_colour[slot] = colour;
        cached_level[slot] = NearestLevel(pixel, legend);
      }
      level = cached_level[slot];
    }
    pixel += 4;
  }
  return field;
}

std::string EncodeLevelsPng(const LevelField& field, const Legend& legend) {
  std::vector<picture::PaletteColour> palette = {{0, 0, 0, 0}};
  for (std::size_t i = 0; i < legend.size() && i < kMaxLevels; ++i) {
    palette.push_back({legend[i].red, legend[i].green, legend[i].blue, 255});
  }
  return picture::EncodePalettePng(field.width, field.height, palette, field.levels);
}

}  // namespace nowcast
