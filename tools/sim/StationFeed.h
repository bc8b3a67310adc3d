// The publishing host's station feed: a small JSON document whose
// temperature and wind change from one request to the next in a fixed
// sequence, so that every drawn overlay differs from the previous one.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace sim {

inline constexpr const char* kStationFeedPath = "/ses/sysinfo.json";

// The temperature, e.g. "21.4", and the wind, e.g. "SW 11 km/h", of the
// sequence's entry; consecutive entries differ in both.
std::string FeedTemperature(std::uint64_t sequence);
std::string FeedWind(std::uint64_t sequence);

// The document for the sequence's entry. "currentTemp" and "currentWind" are
// followed by further members, so each value is closed by a quote and a comma.
std::string BuildStationFeed(std::uint64_t sequence, std::time_t now);

}  // namespace sim
