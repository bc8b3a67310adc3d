#include "http/FetchClient.h"

#include <chrono>
#include <string>

namespace http {
namespace {

// The scheme, "://", the host (an IPv6 address in brackets), ":" port unless
// it is the scheme's default, and path.
std::string Address(const std::string& scheme, const std::string& host, int port,
                    std::string_view path) {
  const bool https = scheme == "https";
  std::string address =
      scheme + "://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host);
  if (port != (https ? 443 : 80)) address += ":" + std::to_string(port);
  return address + std::string(path);
}

}  // namespace

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
  return Address(client.Scheme(), client.Host(), client.Port(), path);
}

std::string EndpointAddress(const zub32::Endpoint& host, std::string_view path) {
  return Address(host.scheme, host.host, host.port, path);
}

}  // namespace http
