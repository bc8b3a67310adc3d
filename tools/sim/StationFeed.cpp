#include "StationFeed.h"

#include <array>
#include <cstdio>
#include <string_view>

namespace sim {
namespace {

constexpr std::array<std::string_view, 16> kCompass = {
    "N", "NNE", "NE", "ENE", "E", "ESE", "SE", "SSE",
    "S", "SSW", "SW", "WSW", "W", "WNW", "NW", "NNW",
};

}  // namespace

std::string FeedTemperature(std::uint64_t sequence) {
  // Steps of 37 modulo 61 never repeat on consecutive entries; the values
  // lie between 15.4 and 21.4 degrees.
  const int tenths = 154 + static_cast<int>((sequence * 37 + 60) % 61);
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

std::string FeedWind(std::uint64_t sequence) {
  // The direction turns by three points each time, so it always changes.
  const std::string_view direction = kCompass[(sequence * 3 + 10) % kCompass.size()];
  const int speed = 4 + static_cast<int>((sequence * 7 + 7) % 23);
  return std::string(direction) + " " + std::to_string(speed) + " km/h";
}

std::string BuildStationFeed(std::uint64_t sequence, std::time_t now) {
  std::tm parts{};
  gmtime_r(&now, &parts);
  char updated[32];
  std::strftime(updated, sizeof updated, "%Y-%m-%dT%H:%M:%SZ", &parts);
  const int humidity = 45 + static_cast<int>((sequence * 11) % 40);
  const int pressure_tenths = 10080 + static_cast<int>((sequence * 13) % 120);
  return "{\"going\":\"Good\",\"currentTemp\":\"" + FeedTemperature(sequence) +
         "\",\"currentWind\":\"" + FeedWind(sequence) + "\",\"currentHumidity\":\"" +
         std::to_string(humidity) + "\",\"currentPressure\":\"" +
         std::to_string(pressure_tenths / 10) + "." + std::to_string(pressure_tenths % 10) +
         "\",\"station\":\"Synthetic station\",\"updated\":\"" + updated + "\"}\n";
}

}  // namespace sim
