#include "http/TargetPolicy.h"

#include "platform/AsciiText.h"
#include "zub32/PrintableText.h"

namespace http {
namespace {

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;

bool SameHost(const std::string& a, const std::string& b) {
  return platform::EqualsIgnoringAsciiCase(a, b);
}

bool ListedHost(const TargetPolicy& policy, const std::string& scheme, const std::string& host,
                int port) {
  const int default_port = scheme == "https" ? kHttpsPort : kHttpPort;
  for (const zub32::Endpoint& allowed : policy.other_hosts) {
    const int allowed_port = allowed.port == 0 ? default_port : allowed.port;
    if (SameHost(allowed.host, host) && allowed_port == port) return true;
  }
  return false;
}

}  // namespace

std::string TargetRefusal(const TargetPolicy& policy, const std::string& address,
                          const std::string& scheme, const std::string& host, int port) {
  const std::string shown = zub32::PrintableBytes(address);
  const bool https = platform::EqualsIgnoringAsciiCase(scheme, "https");
  if (policy.https_only && !https) {
    return policy.subject + " over plain http after an https page refused: " + shown;
  }
  if (!policy.one_origin) return "";
  const bool own = platform::EqualsIgnoringAsciiCase(scheme, policy.scheme) &&
                   SameHost(host, policy.host) && port == policy.port;
  if (own || ListedHost(policy, https ? "https" : "http", host, port)) return "";
  std::string refusal = policy.subject + " on another host refused: " + shown;
  if (!policy.host_hint.empty()) refusal += "; " + policy.host_hint;
  return refusal;
}

}  // namespace http
