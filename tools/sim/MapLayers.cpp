#include "MapLayers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <vector>

#include "Background.h"
#include "PngEncoder.h"

namespace sim {
namespace {

constexpr std::size_t kPixelCount = static_cast<std::size_t>(kBackgroundSize) * kBackgroundSize;
constexpr double kCentre = kBackgroundSize / 2.0;

IndexedImage Blank(std::vector<PaletteEntry> palette) {
  IndexedImage image;
  image.width = kBackgroundSize;
  image.height = kBackgroundSize;
  image.palette = std::move(palette);
  image.pixels.assign(kPixelCount, 0);
  return image;
}

void Set(IndexedImage& image, int x, int y, std::uint8_t index) {
  if (x < 0 || y < 0 || x >= image.width || y >= image.height) return;
  image.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) +
               static_cast<std::size_t>(x)] = index;
}

// Hill shading lit from the north-west: slopes facing the light brighten,
// slopes facing away darken, flat land and the sea stay clear.
IndexedImage RenderTopography() {
  constexpr int kShades = 4;      // levels each of light and shadow
  constexpr double kGain = 60.0;  // relief gradient per pixel to shade level
  constexpr double kFlat = 1.0;   // shade levels below this are left clear
  std::vector<PaletteEntry> palette = {{0, 0, 0, 0}};
  // Shadow first, then light, each from faint to strong.
  for (int level = 1; level <= kShades; ++level) {
    palette.push_back({60, 50, 40, static_cast<std::uint8_t>(24 * level)});
  }
  for (int level = 1; level <= kShades; ++level) {
    palette.push_back({255, 255, 240, static_cast<std::uint8_t>(20 * level)});
  }
  IndexedImage image = Blank(std::move(palette));
  for (int y = 0; y < kBackgroundSize; ++y) {
    const double coast = CoastX(y);
    for (int x = 0; x < kBackgroundSize && x <= coast; ++x) {
      const double east = Relief(x + 1, y) - Relief(x - 1, y);
      const double south = Relief(x, y + 1) - Relief(x, y - 1);
      // Land rising to the south-east faces the light from the north-west.
      const double shade = kGain * (east + south);
      if (std::abs(shade) < kFlat) continue;
      const int level = std::min(kShades, static_cast<int>(std::abs(shade) + 1 - kFlat));
      Set(image, x, y, static_cast<std::uint8_t>(shade > 0 ? kShades + level : level));
    }
  }
  return image;
}

// A 3 by 5 pixel capital letter, rows top to bottom, three bits a row.
constexpr std::array<std::uint16_t, 26> kLetters = {
    0b010'101'111'101'101, 0b110'101'110'101'110, 0b011'100'100'100'011, 0b110'101'101'101'110,
    0b111'100'110'100'111, 0b111'100'110'100'100, 0b011'100'101'101'011, 0b101'101'111'101'101,
    0b111'010'010'010'111, 0b001'001'001'101'010, 0b101'101'110'101'101, 0b100'100'100'100'111,
    0b101'111'111'101'101, 0b110'101'101'101'101, 0b010'101'101'101'010, 0b110'101'110'100'100,
    0b010'101'101'110'011, 0b110'101'110'101'101, 0b011'100'010'001'110, 0b111'010'010'010'010,
    0b101'101'101'101'111, 0b101'101'101'101'010, 0b101'101'111'111'101, 0b101'101'010'101'101,
    0b101'101'010'010'010, 0b111'001'010'100'111,
};
constexpr int kLetterScale = 2;  // screen pixels per font pixel
constexpr int kLetterAdvance = 4 * kLetterScale;

// Capital letters with a one-pixel halo, so names stay readable over any
// part of the map; other characters leave a gap.
void DrawName(IndexedImage& image, int left, int top, std::string_view name, std::uint8_t ink,
              std::uint8_t halo) {
  for (int pass = 0; pass < 2; ++pass) {
    for (std::size_t i = 0; i < name.size(); ++i) {
      if (name[i] < 'A' || name[i] > 'Z') continue;
      const std::uint16_t bits = kLetters[static_cast<std::size_t>(name[i] - 'A')];
      const int x0 = left + static_cast<int>(i) * kLetterAdvance;
      for (int row = 0; row < 5; ++row) {
        for (int column = 0; column < 3; ++column) {
          if ((bits >> (14 - row * 3 - column) & 1) == 0) continue;
          const int x = x0 + column * kLetterScale, y = top + row * kLetterScale;
          // The halo pass paints each stroke grown by a pixel, the ink pass
          // the stroke itself over it.
          const int grow = pass == 0 ? 1 : 0;
          for (int dy = -grow; dy < kLetterScale + grow; ++dy) {
            for (int dx = -grow; dx < kLetterScale + grow; ++dx) {
              Set(image, x + dx, y + dy, pass == 0 ? halo : ink);
            }
          }
        }
      }
    }
  }
}

// A marker on each town with its name to the right.
IndexedImage RenderLocations() {
  constexpr std::uint8_t kInk = 1, kHalo = 2, kMarker = 3;
  IndexedImage image =
      Blank({{0, 0, 0, 0}, {30, 30, 30, 255}, {255, 255, 255, 190}, {200, 30, 30, 255}});
  for (const Town& town : Towns()) {
    for (int dy = -3; dy <= 3; ++dy) {
      for (int dx = -3; dx <= 3; ++dx) {
        if (dx * dx + dy * dy <= 9) Set(image, town.x + dx, town.y + dy, kMarker);
      }
    }
    DrawName(image, town.x + 6, town.y - 4, town.name, kInk, kHalo);
  }
  return image;
}

// Rings every kRingStep pixels around the radar at the centre, out to its
// reach, and a small cross on the radar itself.
IndexedImage RenderRange() {
  constexpr double kRingStep = 64.0;
  constexpr double kReach = kCentre - 6;
  constexpr double kHalfWidth = 0.6;
  constexpr int kCross = 5;
  IndexedImage image = Blank({{0, 0, 0, 0}, {70, 70, 70, 200}});
  for (int y = 0; y < kBackgroundSize; ++y) {
    for (int x = 0; x < kBackgroundSize; ++x) {
      const double distance = std::hypot(x + 0.5 - kCentre, y + 0.5 - kCentre);
      if (distance > kReach + kHalfWidth) continue;
      const double nearest = std::max(1.0, std::round(distance / kRingStep)) * kRingStep;
      if (std::abs(distance - std::min(nearest, kReach)) < kHalfWidth) Set(image, x, y, 1);
    }
  }
  const int centre = kBackgroundSize / 2;
  for (int d = -kCross; d <= kCross; ++d) {
    Set(image, centre + d, centre, 1);
    Set(image, centre, centre + d, 1);
  }
  return image;
}

// The picture as an indexed image with one palette entry per colour it
// uses; the map uses well under 256.
IndexedImage IndexColours(const picture::Bitmap& picture) {
  IndexedImage image;
  image.width = picture.Width();
  image.height = picture.Height();
  std::map<std::uint32_t, std::uint8_t> index_of;
  image.pixels.reserve(static_cast<std::size_t>(image.width) *
                       static_cast<std::size_t>(image.height));
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const picture::Rgb colour = picture.PixelColor(x, y);
      const std::uint32_t key =
          (std::uint32_t{colour.red} << 16) | (std::uint32_t{colour.green} << 8) | colour.blue;
      auto found = index_of.find(key);
      if (found == index_of.end()) {
        if (image.palette.size() == 256) throw std::invalid_argument("more than 256 colours");
        found = index_of.emplace(key, static_cast<std::uint8_t>(image.palette.size())).first;
        image.palette.push_back({colour.red, colour.green, colour.blue, 255});
      }
      image.pixels.push_back(found->second);
    }
  }
  return image;
}

// The named layer's picture; the name is one of kLayerNames.
IndexedImage RenderLayer(std::string_view name) {
  if (name == kBackgroundLayer) return IndexColours(RenderBackground());
  if (name == kTopographyLayer) return RenderTopography();
  if (name == kLocationsLayer) return RenderLocations();
  if (name == kRangeLayer) return RenderRange();
  throw std::invalid_argument("no such layer: " + std::string(name));
}

}  // namespace

const std::string* MapLayers::Find(std::string_view name) {
  if (std::find(kLayerNames.begin(), kLayerNames.end(), name) == kLayerNames.end()) return nullptr;
  auto found = encoded_.find(name);
  if (found == encoded_.end()) {
    found = encoded_.emplace(std::string(name), EncodePng(RenderLayer(name))).first;
  }
  return &found->second;
}

}  // namespace sim
