// The station feed on the publishing host: the client that fetches it and
// the two texts cut out of it. The feed is not parsed as JSON; the texts are
// found by plain substring search, so the delimiters below are the whole
// contract with the feed.
#pragma once

#include <string>
#include <string_view>

#include "http/TIdHTTP.h"
#include "zub32/Config.h"

namespace overlay {

inline constexpr const char* kStationFeedPath = "/ses/sysinfo.json";
// The copy of the last non-empty feed, in the working directory.
inline constexpr const char* kStationFeedFile = "sysinfo.json";

// The browser identification both fetching stages send: 121 characters, the
// last of them a double quote, which is sent too.
inline constexpr std::string_view kUserAgent =
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_3) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/83.0.4103.97 Safari/537.36\"";

inline constexpr const char* kTemperatureStart = "\"currentTemp\":\"";
inline constexpr const char* kWindStart = "\"currentWind\":\"";
// Closes a value that another member follows; the value's closing quote is
// the delimiter's first character and so stays out of the text.
inline constexpr const char* kValueEnd = "\",";

// Applies the station client's settings, in this order: host and port of
// the publishing host, read time-out and request deadline of the
// configuration, redirects and cookies on, user agent, keep-alive, no
// caching.
void ConfigureStationClient(http::TIdHTTP& client, const zub32::Configuration& config);

struct StationInfo {
  std::string temperature;  // empty when the feed lacks the member
  std::string wind;
};

// The texts of the first "currentTemp" and "currentWind" members, byte for
// byte as the feed has them (escape sequences included). A value not
// followed by `",` runs to the end of the feed.
StationInfo CutStationInfo(const std::string& response_text);

}  // namespace overlay
