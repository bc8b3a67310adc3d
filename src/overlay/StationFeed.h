// The station feed on the publishing host and the two texts cut out of it.
// The feed is not parsed as JSON; the texts are found by plain substring
// search, so the delimiters below are the whole contract with the feed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace overlay {

inline constexpr const char* kStationFeedPath = "/ses/sysinfo.json";
// The copy of the last non-empty feed is kept in the working directory
// under site::kStationFeedFile.

inline constexpr const char* kTemperatureStart = "\"currentTemp\":\"";
inline constexpr const char* kWindStart = "\"currentWind\":\"";
// Closes a value that another member follows; the value's closing quote is
// the delimiter's first character and so stays out of the text.
inline constexpr const char* kValueEnd = "\",";

// The longest text kept of a value: far more than a line of the overlay
// shows, so what is drawn does not change, while a feed of any size is never
// copied whole.
inline constexpr std::size_t kMaxStationTextBytes = 4096;

struct StationInfo {
  std::string temperature;  // empty when the feed lacks the member
  std::string wind;
};

// The texts of the first "currentTemp" and "currentWind" members, byte for
// byte as the feed has them (escape sequences included). A value not
// followed by `",` runs to the end of the feed; each text is cut after
// kMaxStationTextBytes.
StationInfo CutStationInfo(const std::string& response_text);

}  // namespace overlay
