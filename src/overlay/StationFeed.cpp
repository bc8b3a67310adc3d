#include "overlay/StationFeed.h"

#include "zub32/TextFiles.h"

namespace overlay {

namespace {

// A value without its end runs to the end of the feed. Only its start can
// show on the picture, so only that is kept: a large feed is not copied.
std::string CutValue(const std::string& response_text, std::string_view start) {
  return std::string(
      zub32::BetweenView(response_text, start, kValueEnd).substr(0, kMaxStationTextBytes));
}

}  // namespace

StationInfo CutStationInfo(const std::string& response_text) {
  StationInfo info;
  info.temperature = CutValue(response_text, kTemperatureStart);
  info.wind = CutValue(response_text, kWindStart);
  return info;
}

}  // namespace overlay
