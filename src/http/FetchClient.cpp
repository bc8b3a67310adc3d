#include "http/FetchClient.h"

#include <chrono>
#include <string>

namespace http {

void ConfigureFetchClient(TIdHTTP& client, const zub32::Endpoint& host,
                          const zub32::Configuration& config) {
  client.SetScheme(host.scheme);
  client.SetHost(host.host);
  client.SetPort(host.port);
  client.SetTlsCaFile(config.tls_ca_file);
  client.SetReadTimeout(config.read_timeout_ms);
  client.SetRequestDeadline(config.request_deadline_seconds * 1000);
  if (config.run_started)
    client.SetRunDeadline(*config.run_started + std::chrono::seconds(config.run_deadline_seconds));
  client.SetHandleRedirects(true);
  client.SetAllowCookies(true);
  client.Request().UserAgent = std::string(kBrowserUserAgent);
  client.Request().Connection = "Keep-Alive";
  client.Request().CacheControl = "no-cache";
}

std::string OpeningAddress(const TIdHTTP& client, std::string_view path) {
  const std::string& host = client.Host();
  const bool https = client.Scheme() == "https";
  std::string address =
      client.Scheme() + "://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host);
  if (client.Port() != (https ? 443 : 80)) address += ":" + std::to_string(client.Port());
  return address + std::string(path);
}

}  // namespace http
