#include "overlay/StationFeed.h"

#include "zub32/TextFiles.h"

namespace overlay {

void ConfigureStationClient(http::TIdHTTP& client, const zub32::Configuration& config) {
  client.SetHost(config.publish_host.host);
  client.SetPort(config.publish_host.port);
  client.SetReadTimeout(config.read_timeout_ms);
  client.SetRequestDeadline(config.request_deadline_seconds * 1000);
  client.SetHandleRedirects(true);
  client.SetAllowCookies(true);
  client.Request().UserAgent = std::string(kUserAgent);
  client.Request().Connection = "Keep-Alive";
  client.Request().CacheControl = "no-cache";
}

StationInfo CutStationInfo(const std::string& response_text) {
  StationInfo info;
  info.temperature = zub32::Between(response_text, kTemperatureStart, kValueEnd);
  info.wind = zub32::Between(response_text, kWindStart, kValueEnd);
  return info;
}

}  // namespace overlay
