#include "zub32/ConfigValues.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <utility>

#include "platform/AsciiText.h"
#include "zub32/IniFile.h"

namespace zub32 {
namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The characters a legend label may hold: none needs escaping in a page or
// a JSON text.
bool IsLabelCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
         c == '.' || c == '-' || c == '+' || c == '/' || c == '(' || c == ')';
}

std::optional<LegendEntry> ParseLegendEntry(std::string_view item) {
  const std::size_t equals = item.find('=');
  const std::string_view colour = Trim(item.substr(0, equals));
  constexpr std::size_t kColourLength = 7;
  if (colour.size() != kColourLength || colour.front() != '#' ||
      !std::all_of(colour.begin() + 1, colour.end(), IsHexDigit)) {
    return std::nullopt;
  }
  LegendEntry entry{platform::AsciiLower(colour), ""};
  if (equals == std::string_view::npos) return entry;
  const std::string_view label = Trim(item.substr(equals + 1));
  if (label.empty() || label.size() > kMaxLegendLabelLength ||
      !std::all_of(label.begin(), label.end(), IsLabelCharacter)) {
    return std::nullopt;
  }
  entry.label = std::string(label);
  return entry;
}

constexpr int kMaxPort = 65535;

bool IsHostNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

bool IsIPv6Character(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
         c == '.';
}

// A port of one to five decimal digits, 1 to 65535, the whole field.
std::optional<int> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  int port = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), port);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  if (port < 1 || port > kMaxPort) return std::nullopt;
  return port;
}

}  // namespace

std::optional<std::vector<Endpoint>> ParseHostList(std::string_view text) {
  std::vector<Endpoint> hosts;
  if (Trim(text).empty()) return hosts;
  for (;;) {
    const std::size_t comma = text.find(',');
    const std::string_view item = Trim(text.substr(0, comma));
    std::optional<Endpoint> host = item.empty() ? std::nullopt : ParseEndpoint(item, 0);
    if (!host) return std::nullopt;
    hosts.push_back(std::move(*host));
    if (comma == std::string_view::npos) return hosts;
    text.remove_prefix(comma + 1);
  }
}

std::optional<Endpoint> ParseEndpoint(std::string_view text, int default_port) {
  text = Trim(text);
  Endpoint endpoint;
  endpoint.text = std::string(text);
  endpoint.port = default_port;
  std::string_view port_text;
  bool has_port = false;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view address = text.substr(1, close - 1);
    if (address.empty() || address.find(':') == std::string_view::npos) return std::nullopt;
    for (char c : address) {
      if (!IsIPv6Character(c)) return std::nullopt;
    }
    endpoint.host = std::string(address);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      port_text = rest.substr(1);
      has_port = true;
    }
  } else {
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos) {
      // Two or more colons: an IPv6 address without brackets, so no port.
      for (char c : text) {
        if (!IsIPv6Character(c)) return std::nullopt;
      }
      endpoint.host = std::string(text);
    } else {
      const std::string_view host = text.substr(0, colon);
      if (host.empty()) return std::nullopt;
      for (char c : host) {
        if (!IsHostNameCharacter(c)) return std::nullopt;
      }
      endpoint.host = std::string(host);
      if (colon != std::string_view::npos) {
        port_text = text.substr(colon + 1);
        has_port = true;
      }
    }
  }
  if (has_port) {
    const std::optional<int> port = ParsePort(port_text);
    if (!port) return std::nullopt;
    endpoint.port = *port;
  }
  return endpoint;
}

std::optional<Endpoint> ParseWebHost(std::string_view text) {
  text = Trim(text);
  std::string scheme = "http";
  for (const char* prefix : {"http://", "https://"}) {
    const std::string_view given = prefix;
    if (text.size() > given.size() &&
        platform::EqualsIgnoringAsciiCase(text.substr(0, given.size()), given)) {
      scheme = std::string(given.substr(0, given.size() - 3));
      text.remove_prefix(given.size());
      if (text.ends_with('/')) text.remove_suffix(1);
      break;
    }
  }
  if (text != Trim(text)) return std::nullopt;
  std::optional<Endpoint> endpoint =
      ParseEndpoint(text, scheme == "https" ? kDefaultHttpsPort : kDefaultHttpPort);
  if (endpoint) endpoint->scheme = scheme;
  return endpoint;
}

std::optional<int> ParseBoundedCount(std::string_view text, int max, int min) {
  text = Trim(text);
  // At most ten digits keeps the number within 64 bits before the range check.
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < min || value > max) return std::nullopt;
  return static_cast<int>(value);
}

std::optional<std::string> ParseSiteAddress(std::string_view text) {
  text = Trim(text);
  std::string address;
  for (const char* scheme : {"http://", "https://"}) {
    const std::string_view prefix = scheme;
    if (text.size() > prefix.size() &&
        platform::EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix)) {
      address = prefix;
      text.remove_prefix(prefix.size());
      break;
    }
  }
  if (address.empty()) return std::nullopt;
  const std::size_t slash = text.find('/');
  const std::string_view authority = text.substr(0, slash);
  std::string_view path = slash == std::string_view::npos ? std::string_view() : text.substr(slash);
  // An IPv6 address needs its brackets in an address; ParseEndpoint would
  // take a bare one.
  if (authority.find(':') != authority.rfind(':') && !authority.starts_with('[')) {
    return std::nullopt;
  }
  if (!ParseEndpoint(authority, kDefaultHttpPort) || authority != Trim(authority)) {
    return std::nullopt;
  }
  while (path.ends_with('/')) path.remove_suffix(1);
  // The address goes into CSS url("...") and an HTML attribute: quotes,
  // brackets, blanks, backslashes, '?' and '#' have no place in it.
  for (char c : path) {
    const bool allowed = IsHostNameCharacter(c) || c == '/' || c == '~' || c == '%' || c == '+' ||
                         c == ',' || c == ';' || c == '=' || c == ':' || c == '@' || c == '!' ||
                         c == '$' || c == '*';
    if (!allowed) return std::nullopt;
  }
  address += authority;
  address += path.empty() ? std::string_view("/vesk") : path;
  return address;
}

std::optional<std::string> ParseProduct(std::string_view text) {
  text = Trim(text);
  if (text.size() < kMinProductLength || text.size() > kMaxProductLength) return std::nullopt;
  for (char c : text) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!allowed) return std::nullopt;
  }
  return std::string(text);
}

std::optional<std::string> ParseLayerPath(std::string_view text) {
  text = Trim(text);
  if (!text.starts_with('/') || text.size() > kMaxLayerPathLength) return std::nullopt;
  std::string path(text);
  if (!path.ends_with('/')) path += '/';
  // Each segment between two '/' is a plain name: the path is sent as it is
  // and must neither climb out of its directory nor carry a query or bytes
  // that need encoding.
  std::size_t start = 1;
  while (start < path.size()) {
    const std::size_t end = path.find('/', start);
    const std::string_view segment = std::string_view(path).substr(start, end - start);
    if (segment.empty() || segment == "." || segment == "..") return std::nullopt;
    for (char c : segment) {
      if (!IsHostNameCharacter(c) && c != '~') return std::nullopt;
    }
    start = end + 1;
  }
  return path;
}

std::optional<ArchiveLines> ParseArchiveLines(std::string_view text) {
  const std::string lower = platform::AsciiLower(Trim(text));
  if (lower == "each") return ArchiveLines::kEach;
  if (lower == "summary") return ArchiveLines::kSummary;
  return std::nullopt;
}

std::optional<LoopExport> ParseLoopExport(std::string_view text) {
  const std::string lower = platform::AsciiLower(Trim(text));
  if (lower == "webp") return LoopExport::kWebp;
  if (lower == "off") return LoopExport::kOff;
  return std::nullopt;
}

std::optional<bool> ParseOnOff(std::string_view text) {
  const std::string lower = platform::AsciiLower(Trim(text));
  if (lower == "on") return true;
  if (lower == "off") return false;
  return std::nullopt;
}

std::optional<PixelPosition> ParsePixelPosition(std::string_view text) {
  const std::size_t comma = text.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  const std::optional<int> x =
      ParseBoundedCount(Trim(text.substr(0, comma)), kMaxStationCoordinate, 0);
  const std::optional<int> y =
      ParseBoundedCount(Trim(text.substr(comma + 1)), kMaxStationCoordinate, 0);
  if (!x || !y) return std::nullopt;
  return PixelPosition{*x, *y};
}

std::vector<LegendEntry> DefaultLegend() { return ParseLegend(kDefaultLegend).value(); }

std::optional<std::vector<LegendEntry>> ParseLegend(std::string_view text) {
  std::vector<LegendEntry> legend;
  for (;;) {
    const std::size_t comma = text.find(',');
    std::optional<LegendEntry> entry = ParseLegendEntry(text.substr(0, comma));
    if (!entry || legend.size() == kMaxLegendEntries) return std::nullopt;
    legend.push_back(std::move(*entry));
    if (comma == std::string_view::npos) return legend;
    text.remove_prefix(comma + 1);
  }
}

std::string LegendText(const std::vector<LegendEntry>& legend) {
  std::string text;
  for (const LegendEntry& entry : legend) {
    if (!text.empty()) text += ",";
    text += entry.colour + (entry.label.empty() ? "" : "=" + entry.label);
  }
  return text;
}

std::optional<SyslogSetting> ParseSyslog(std::string_view text) {
  text = Trim(text);
  const std::string lower = platform::AsciiLower(text);
  SyslogSetting setting;
  if (lower == "broadcast") {
    setting.mode = SyslogMode::kBroadcast;
    return setting;
  }
  if (lower == "off") {
    setting.mode = SyslogMode::kOff;
    return setting;
  }
  const std::optional<Endpoint> endpoint = ParseEndpoint(text, kDefaultSyslogPort);
  if (!endpoint) return std::nullopt;
  setting.mode = SyslogMode::kUnicast;
  setting.host = endpoint->host;
  setting.port = endpoint->port;
  return setting;
}

}  // namespace zub32
