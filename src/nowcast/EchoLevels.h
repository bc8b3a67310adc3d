// Echo levels of a radar frame: the picture's colours mapped back to the
// ordered levels of the product's legend, and levels drawn in its colours.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture/RgbaImage.h"

namespace nowcast {

struct Colour {
  std::uint8_t red = 0, green = 0, blue = 0;
};

// The legend's colours, weakest echo first: level 1 is the first colour.
using Legend = std::vector<Colour>;

// The most legend entries a level field can tell apart.
inline constexpr std::size_t kMaxLevels = 254;

// An opaque pixel takes the level of the nearest legend colour when the
// squared distance between the two colours is at most this (a few units a
// channel, as lossy processing leaves); any other colour is no echo.
inline constexpr int kMaxColourDistanceSquared = 3 * 12 * 12;

// One level a pixel, rows top to bottom: 0 no echo, 1 to the legend's size.
struct LevelField {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> levels;

  static LevelField Empty(int width, int height);
  std::uint8_t At(int x, int y) const {
    return levels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
};

// The levels of a frame: a pixel that is not fully opaque is no echo.
LevelField EchoLevels(const picture::RgbaImage& frame, const Legend& legend);

// The levels drawn in the legend's colours, opaque, on transparency: a
// palette PNG picture whose colour 0 is transparent and colour k level k's.
std::string EncodeLevelsPng(const LevelField& field, const Legend& legend);

}  // namespace nowcast
