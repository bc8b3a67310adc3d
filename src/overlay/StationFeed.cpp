#include "overlay/StationFeed.h"

#include "zub32/TextFiles.h"

namespace overlay {

StationInfo CutStationInfo(const std::string& response_text) {
  StationInfo info;
  info.temperature = zub32::Between(response_text, kTemperatureStart, kValueEnd);
  info.wind = zub32::Between(response_text, kWindStart, kValueEnd);
  return info;
}

}  // namespace overlay
