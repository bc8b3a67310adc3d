// A synthetic map for the demo's overlay background: land with gentle relief,
// a coastline and sea to the east, rivers, roads and towns, all in light
// colours so that black text drawn on it stays readable. Generated, not taken
// from any real map.
#pragma once

#include <string>

#include "platform/Bitmap.h"

namespace sim {

inline constexpr int kBackgroundSize = 512;

// The map as a 24-bit picture of kBackgroundSize square.
platform::Bitmap RenderBackground();

// Saves the map as a BMP file; throws the codec's errors.
void WriteBackground(const std::string& path);

}  // namespace sim
