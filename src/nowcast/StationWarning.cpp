#include "nowcast/StationWarning.h"

#include <algorithm>

namespace nowcast {

std::optional<int> FirstRainLead(const Forecast& forecast, StationPixel station, int alert_level) {
  if (!forecast.Made()) return std::nullopt;
  for (std::size_t k = 0; k < forecast.leads.size(); ++k) {
    const LevelField& lead = forecast.leads[k];
    const int top = std::max(station.y - kStationRadius, 0);
    const int bottom = std::min(station.y + kStationRadius, lead.height - 1);
    const int left = std::max(station.x - kStationRadius, 0);
    const int right = std::min(station.x + kStationRadius, lead.width - 1);
    for (int y = top; y <= bottom; ++y) {
      for (int x = left; x <= right; ++x) {
        const int dx = x - station.x, dy = y - station.y;
        if (dx * dx + dy * dy > kStationRadius * kStationRadius) continue;
        if (lead.At(x, y) >= alert_level && lead.At(x, y) > 0) return forecast.LeadMinutes(k);
      }
    }
  }
  return std::nullopt;
}

}  // namespace nowcast
