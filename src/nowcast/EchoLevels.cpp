#include "nowcast/EchoLevels.h"

#include <cstddef>
#include <cstring>

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
  // Frames hold few colours, in runs: the last colour's level is kept.
  std::uint8_t last_colour[3] = {0, 0, 0};
  std::uint8_t last_level = NearestLevel(last_colour, legend);
  for (std::uint8_t& level : field.levels) {
    if (pixel[3] == 255) {
      if (std::memcmp(pixel, last_colour, 3) != 0) {
        std::memcpy(last_colour, pixel, 3);
        last_level = NearestLevel(pixel, legend);
      }
      level = last_level;
    }
    pixel += 4;
  }
  return field;
}

picture::RgbaImage RenderLevels(const LevelField& field, const Legend& legend) {
  picture::RgbaImage image = picture::RgbaImage::Transparent(field.width, field.height);
  std::uint8_t* out = image.pixels.data();
  for (const std::uint8_t level : field.levels) {
    if (level > 0 && level <= legend.size()) {
      const Colour& colour = legend[level - 1];
      out[0] = colour.red;
      out[1] = colour.green;
      out[2] = colour.blue;
      out[3] = 255;
    }
    out += 4;
  }
  return image;
}

}  // namespace nowcast
