#include "Background.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "picture/BmpCodec.h"

namespace sim {
namespace {

using picture::Rgb;

constexpr Rgb kSea{198, 222, 240};
constexpr Rgb kShore{232, 226, 196};
constexpr Rgb kLowland{238, 236, 222};
constexpr Rgb kUpland{214, 228, 200};
constexpr Rgb kRiver{130, 170, 214};
constexpr Rgb kRoad{206, 170, 140};
constexpr Rgb kTown{110, 110, 110};
constexpr Rgb kGrid{200, 200, 200};

constexpr std::array<Town, 7> kTowns = {{
    {256, 256, "HOLM"},
    {330, 140, "ASHBY"},
    {150, 200, "CORRIN"},
    {300, 380, "DELLOW"},
    {120, 350, "ELMSTEAD"},
    {360, 470, "FARRO"},
    {200, 60, "GLENNA"},
}};

Rgb Mix(Rgb a, Rgb b, double t) {
  auto channel = [t](std::uint8_t from, std::uint8_t to) {
    return static_cast<std::uint8_t>(std::lround(from + (to - from) * t));
  };
  return Rgb{channel(a.red, b.red), channel(a.green, b.green), channel(a.blue, b.blue)};
}

void Paint(picture::Bitmap& map, int x, int y, Rgb colour) {
  if (x < 0 || y < 0 || x >= map.Width() || y >= map.Height()) return;
  map.SetPixelValue(
      x, y, (std::uint32_t{colour.red} << 16) | (std::uint32_t{colour.green} << 8) | colour.blue);
}

// A line of the given width from (x0, y0) to (x1, y1), stopping at the sea.
void DrawLine(picture::Bitmap& map, double x0, double y0, double x1, double y1, int width,
              Rgb colour) {
  const double length = std::hypot(x1 - x0, y1 - y0);
  const int steps = static_cast<int>(std::ceil(length * 2)) + 1;
  for (int i = 0; i <= steps; ++i) {
    const double t = static_cast<double>(i) / steps;
    const double x = x0 + (x1 - x0) * t, y = y0 + (y1 - y0) * t;
    if (x > CoastX(y)) continue;
    for (int dy = 0; dy < width; ++dy) {
      for (int dx = 0; dx < width; ++dx) {
        Paint(map, static_cast<int>(x) + dx, static_cast<int>(y) + dy, colour);
      }
    }
  }
}

// A river meanders eastwards from its source until it reaches the coast.
void DrawRiver(picture::Bitmap& map, double x, double y, double phase) {
  double previous_x = x, previous_y = y;
  while (x < CoastX(y) + 2 && x < kBackgroundSize) {
    x += 2.0;
    y += 1.5 * std::sin(x / 31.0 + phase) + 1.3 * std::sin(x / 11.0 + 2.0 * phase) + 0.35;
    DrawLine(map, previous_x, previous_y, x, y, x > 200 ? 3 : 2, kRiver);
    previous_x = x;
    previous_y = y;
  }
}

}  // namespace

// The coast runs north to south in the east of the map.
double CoastX(double y) {
  return 372.0 + 38.0 * std::sin(y / 57.0) + 16.0 * std::sin(y / 23.0 + 1.0);
}

double Relief(double x, double y) {
  const double hills = std::sin(x / 41.0) * std::cos(y / 37.0) + 0.5 * std::sin((x + y) / 19.0) +
                       0.3 * std::cos((x - 2 * y) / 13.0);
  const double slope = 1.0 - x / kBackgroundSize;
  return std::clamp(0.5 + 0.22 * hills + 0.35 * (slope - 0.5), 0.0, 1.0);
}

std::span<const Town> Towns() { return kTowns; }

picture::Bitmap RenderBackground() {
  picture::Bitmap map(kBackgroundSize, kBackgroundSize, 24);
  for (int y = 0; y < kBackgroundSize; ++y) {
    const double coast = CoastX(y);
    for (int x = 0; x < kBackgroundSize; ++x) {
      Rgb colour;
      if (x > coast + 4) {
        colour = kSea;
      } else if (x > coast - 3) {
        colour = kShore;
      } else {
        colour = Mix(kLowland, kUpland, Relief(x, y));
      }
      // A faint grid of meridians and parallels every 64 pixels.
      if (x % 64 == 0 || y % 64 == 0) colour = Mix(colour, kGrid, 0.5);
      Paint(map, x, y, colour);
    }
  }

  DrawRiver(map, 40, 120, 0.0);
  DrawRiver(map, 90, 300, 1.7);
  DrawRiver(map, 20, 440, 3.1);

  for (std::size_t i = 1; i < kTowns.size(); ++i) {
    DrawLine(map, kTowns[0].x, kTowns[0].y, kTowns[i].x, kTowns[i].y, 1, kRoad);
  }
  DrawLine(map, kTowns[1].x, kTowns[1].y, kTowns[6].x, kTowns[6].y, 1, kRoad);
  DrawLine(map, kTowns[4].x, kTowns[4].y, kTowns[5].x, kTowns[5].y, 1, kRoad);
  for (const Town& town : kTowns) {
    for (int dy = -2; dy <= 2; ++dy) {
      for (int dx = -2; dx <= 2; ++dx) {
        Paint(map, town.x + dx, town.y + dy, kTown);
      }
    }
  }
  return map;
}

void WriteBackground(const std::string& path) { picture::SaveBmpFile(RenderBackground(), path); }

}  // namespace sim
