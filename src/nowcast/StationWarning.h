// The warning for a station: the first lead time at which the forecast has
// echoes of at least the alert level close to the station's pixel.
#pragma once

#include <optional>

#include "nowcast/Nowcast.h"

namespace nowcast {

// Echoes this many pixels from the station or closer count.
inline constexpr int kStationRadius = 5;

struct StationPixel {
  int x = 0;
  int y = 0;
};

// The minutes after the newest frame of the first forecast with a pixel of
// at least alert_level within kStationRadius of the station; nullopt when
// there is none or no forecast was made. A station off the frame sees only
// the pixels of the disc that lie on it.
std::optional<int> FirstRainLead(const Forecast& forecast, StationPixel station, int alert_level);

}  // namespace nowcast
