// A synthetic map for the demo's overlay background: land with gentle relief,
// a coastline and sea to the east, rivers, roads and towns, all in light
// colours so that black text drawn on it stays readable. Generated, not taken
// from any real map.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "picture/Bitmap.h"

namespace sim {

inline constexpr int kBackgroundSize = 512;

// The coast's column on row y: land lies west of it, sea east.
double CoastX(double y);

// The height of the land in [0, 1]: smooth hills, higher to the west.
double Relief(double x, double y);

struct Town {
  int x = 0, y = 0;
  std::string_view name;
};

// The map's towns, the radar's own at the centre first.
std::span<const Town> Towns();

// The map as a 24-bit picture of kBackgroundSize square.
picture::Bitmap RenderBackground();

// Saves the map as a BMP file; throws the codec's errors.
void WriteBackground(const std::string& path);

}  // namespace sim
