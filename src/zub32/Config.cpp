#include "zub32/Config.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "platform/AsciiText.h"
#include "platform/FileSystem.h"

namespace zub32 {
namespace {

constexpr int kDefaultHttpPort = 80;
constexpr int kDefaultHttpsPort = 443;
constexpr int kDefaultSyslogPort = 514;
constexpr int kMaxPort = 65535;
constexpr const char* kDefaultHost = "localhost";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

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

// A value as found, with where it came from.
struct RawValue {
  std::string text;
  ValueSource source = ValueSource::kDefault;
  std::string origin;  // "VESK_RADAR_HOST" or "vesk.ini: RadarHost"
};

class ValueFinder {
 public:
  ValueFinder(std::map<std::string, std::string> file_values,
              std::function<std::optional<std::string>(const std::string&)> getenv_fn)
      : file_values_(std::move(file_values)), getenv_fn_(std::move(getenv_fn)) {}

  std::optional<RawValue> Find(const std::string& key, const std::string& environment) const {
    const std::optional<std::string> from_environment = getenv_fn_(environment);
    if (from_environment && !from_environment->empty()) {
      return RawValue{std::string(Trim(*from_environment)), ValueSource::kEnvironment, environment};
    }
    const auto found = file_values_.find(platform::AsciiLower(key));
    if (found != file_values_.end()) {
      return RawValue{found->second, ValueSource::kFile, std::string(kConfigFileName) + ": " + key};
    }
    return std::nullopt;
  }

 private:
  std::map<std::string, std::string> file_values_;
  std::function<std::optional<std::string>(const std::string&)> getenv_fn_;
};

std::string Malformed(const RawValue& raw, const std::string& expected,
                      const std::string& fallback) {
  return raw.origin + ": \"" + raw.text + "\" is not " + expected + "; using " + fallback;
}

std::string SyslogText(const SyslogSetting& setting) {
  switch (setting.mode) {
    case SyslogMode::kBroadcast:
      return "broadcast";
    case SyslogMode::kOff:
      return "off";
    case SyslogMode::kUnicast:
      break;
  }
  const bool v6 = setting.host.find(':') != std::string::npos;
  return (v6 ? "[" + setting.host + "]" : setting.host) + ":" + std::to_string(setting.port);
}

// Puts the value of a key into the configuration and fills its entry; a
// malformed value keeps the default and adds a warning.
using LoadValue = void (*)(const std::optional<RawValue>& raw, Configuration& config,
                           ConfigEntry& entry);

void LoadEndpoint(const std::optional<RawValue>& raw, Endpoint& endpoint, Configuration& config,
                  ConfigEntry& entry) {
  endpoint = Endpoint{kDefaultHost, kDefaultHttpPort, kDefaultHost, "http"};
  entry.value = endpoint.text;
  if (!raw) return;
  if (const std::optional<Endpoint> parsed = ParseWebHost(raw->text)) {
    endpoint = *parsed;
    entry.value = endpoint.scheme == "https" ? "https://" + endpoint.text : endpoint.text;
    entry.source = raw->source;
  } else {
    config.warnings.push_back(Malformed(*raw, "a valid [http:// or https://]host[:port]",
                                        std::string("the default ") + kDefaultHost));
  }
}

// A key holding a whole number from min to max.
void LoadCount(const std::optional<RawValue>& raw, int default_value, int max,
               const std::string& unit, int& value, Configuration& config, ConfigEntry& entry,
               int min = 1) {
  value = default_value;
  entry.value = std::to_string(default_value);
  if (!raw) return;
  if (const std::optional<int> parsed = ParseBoundedCount(raw->text, max, min)) {
    value = *parsed;
    entry.value = std::to_string(value);
    entry.source = raw->source;
  } else {
    config.warnings.push_back(Malformed(
        *raw,
        "a whole number of " + unit + " from " + std::to_string(min) + " to " + std::to_string(max),
        "the default " + std::to_string(default_value)));
  }
}

void LoadSyslog(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry) {
  // A run broadcasts its syslog lines unless told otherwise.
  config.syslog = SyslogSetting{SyslogMode::kBroadcast, "", kDefaultSyslogPort};
  if (raw) {
    entry.source = raw->source;
    if (const std::optional<SyslogSetting> parsed = ParseSyslog(raw->text)) {
      config.syslog = *parsed;
    } else {
      // A mistyped unicast destination must not turn into a broadcast of the
      // run's reports to every network the machine is on.
      config.syslog.mode = SyslogMode::kOff;
      config.warnings.push_back(
          Malformed(*raw, "broadcast, off or a valid host[:port]", "off for this run"));
    }
  }
  entry.value = SyslogText(config.syslog);
}

void LoadFont(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry) {
  if (!raw) return;
  if (raw->text.empty()) {
    config.warnings.push_back(Malformed(*raw, "a font file", "the face lookup"));
    return;
  }
  config.font = raw->text;
  entry.value = raw->text;
  entry.source = raw->source;
}

void LoadMetricsFile(const std::optional<RawValue>& raw, Configuration& config,
                     ConfigEntry& entry) {
  if (!raw || raw->text.empty()) return;
  config.metrics_file = raw->text;
  entry.value = raw->text;
  entry.source = raw->source;
}

void LoadTlsCaFile(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry) {
  entry.value = "system store";
  if (!raw) return;
  if (raw->text.empty()) {
    config.warnings.push_back(Malformed(*raw, "a PEM file", "the system store"));
    return;
  }
  config.tls_ca_file = raw->text;
  entry.value = raw->text;
  entry.source = raw->source;
}

void LoadFrameHosts(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry) {
  entry.value = "none";
  if (!raw) return;
  if (std::optional<std::vector<Endpoint>> parsed = ParseHostList(raw->text)) {
    config.frame_hosts = std::move(*parsed);
    if (!config.frame_hosts.empty()) entry.value = raw->text;
    entry.source = raw->source;
  } else {
    config.warnings.push_back(
        Malformed(*raw, "a comma-separated list of host[:port]", "none: the radar host only"));
  }
}

// The address the pages use when SiteAddress is not set, as --help and
// --check show it.
std::string ListedSiteAddress(const Configuration& config) {
  return "https://" + config.publish_host.text + "/vesk";
}

void LoadSiteAddress(const std::optional<RawValue>& raw, Configuration& config,
                     ConfigEntry& entry) {
  entry.value = ListedSiteAddress(config);
  if (!raw) return;
  if (const std::optional<std::string> parsed = ParseSiteAddress(raw->text)) {
    config.site_address = *parsed;
    entry.value = *parsed;
    entry.source = raw->source;
  } else {
    config.warnings.push_back(Malformed(*raw, "an http:// or https:// address with a host",
                                        "the default " + ListedSiteAddress(config)));
  }
}

// A key holding a text that parse accepts or refuses.
void LoadText(const std::optional<RawValue>& raw, const char* default_value,
              std::optional<std::string> (*parse)(std::string_view), const std::string& expected,
              std::string& value, Configuration& config, ConfigEntry& entry) {
  value = default_value;
  entry.value = value;
  if (!raw) return;
  if (std::optional<std::string> parsed = parse(raw->text)) {
    value = std::move(*parsed);
    entry.value = value;
    entry.source = raw->source;
  } else {
    config.warnings.push_back(
        Malformed(*raw, expected, std::string("the default ") + default_value));
  }
}

void LoadArchiveLines(const std::optional<RawValue>& raw, Configuration& config,
                      ConfigEntry& entry) {
  config.archive_lines = ArchiveLines::kEach;
  entry.value = "each";
  if (!raw) return;
  if (const std::optional<ArchiveLines> parsed = ParseArchiveLines(raw->text)) {
    config.archive_lines = *parsed;
    entry.value = *parsed == ArchiveLines::kSummary ? "summary" : "each";
    entry.source = raw->source;
  } else {
    config.warnings.push_back(Malformed(*raw, "each or summary", "the default each"));
  }
}

void LoadLoopExport(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry) {
  config.loop_export = LoopExport::kWebp;
  entry.value = "webp";
  if (!raw) return;
  if (const std::optional<LoopExport> parsed = ParseLoopExport(raw->text)) {
    config.loop_export = *parsed;
    entry.value = *parsed == LoopExport::kOff ? "off" : "webp";
    entry.source = raw->source;
  } else {
    config.warnings.push_back(Malformed(*raw, "webp or off", "the default webp"));
  }
}

void LoadLegend(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry) {
  config.legend = DefaultLegend();
  entry.value = kDefaultLegend;
  if (!raw) return;
  if (std::optional<std::vector<LegendEntry>> parsed = ParseLegend(raw->text)) {
    config.legend = std::move(*parsed);
    entry.value = LegendText(config.legend);
    entry.source = raw->source;
  } else {
    config.warnings.push_back(Malformed(*raw,
                                        "a comma-separated list of up to " +
                                            std::to_string(kMaxLegendEntries) +
                                            " colours #rrggbb, each with an optional =label",
                                        "the default"));
  }
}

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

// The optimal string alignment distance of a and b without regard to ASCII
// case: insertions, deletions, substitutions and swaps of neighbours.
std::size_t EditDistance(std::string_view a, std::string_view b) {
  const std::string x = platform::AsciiLower(a);
  const std::string y = platform::AsciiLower(b);
  std::vector<std::vector<std::size_t>> d(x.size() + 1, std::vector<std::size_t>(y.size() + 1));
  for (std::size_t i = 0; i <= x.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= y.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= x.size(); ++i) {
    for (std::size_t j = 1; j <= y.size(); ++j) {
      const std::size_t cost = x[i - 1] == y[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[x.size()][y.size()];
}

// A name further from every known one is no typo of any of them.
constexpr std::size_t kMaxTypoEdits = 2;

struct KeyRow {
  ConfigKey key;
  LoadValue load;
};

// Every key of the configuration, in the order --help and --check show them.
const KeyRow kKeyRows[] = {
    {{"RadarHost", "VESK_RADAR_HOST",
      "radar source host: [http:// or https://]host[:port] (http when no scheme,\n"
      "      port 80 or 443 when absent)"},
     [](const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry) {
       LoadEndpoint(raw, config.radar_host, config, entry);
     }},
    {{"PublishHost", "VESK_PUBLISH_HOST",
      "publishing host, the same form; the pages name its host[:port] as given"},
     [](const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry) {
       LoadEndpoint(raw, config.publish_host, config, entry);
     }},
    // After PublishHost: its default is formed from the publishing host.
    {{"SiteAddress", "VESK_SITE_ADDRESS",
      "address readers reach the pages under: http:// or https://, host[:port] and\n"
      "      a path (/vesk when absent); unset: https:// + the publishing host + /vesk"},
     LoadSiteAddress},
    {{"Product", "VESK_PRODUCT",
      "radar product: 3 to 16 letters and digits; names the loop page, the\n"
      "      background bitmap and the map layers"},
     [](const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry) {
       LoadText(raw, kDefaultProduct, ParseProduct, "3 to 16 letters and digits", config.product,
                config, entry);
     }},
    {{"LayerPath", "VESK_LAYER_PATH",
      "path on the radar host the map layers are fetched under, or off (no layer\n"
      "      is fetched; put them into the program directory yourself)"},
     [](const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry) {
       config.fetch_layers = true;
       if (raw && platform::AsciiLower(Trim(raw->text)) == "off") {
         config.layer_path = kDefaultLayerPath;
         config.fetch_layers = false;
         entry.value = "off";
         entry.source = raw->source;
         return;
       }
       LoadText(raw, kDefaultLayerPath, ParseLayerPath,
                "an absolute path of URL path segments or off", config.layer_path, config, entry);
     }},
    {{"FrameHosts", "VESK_FRAME_HOSTS",
      "comma-separated host[:port] the loop page may name frames on besides the\n"
      "      radar host (none: frames only from the host that served the page)"},
     LoadFrameHosts},
    {{"Syslog", "VESK_SYSLOG",
      "broadcast (UDP port 514 from every local IPv4 address), off,\n"
      "      or host[:port] (unicast, port 514 when absent)"},
     LoadSyslog},
    {{"TlsCaFile", "VESK_TLS_CA_FILE",
      "PEM bundle of the CAs https hosts are verified against (none: the system's store)"},
     LoadTlsCaFile},
    {{"Font", "VESK_FONT", "font file for the overlay text (none: looked up by face name)"},
     LoadFont},
    {{"ReadTimeout", "VESK_READ_TIMEOUT",
      "milliseconds to wait for data in one read and for a connect, 1 to 3600000"},
     [](const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry) {
       LoadCount(raw, kDefaultReadTimeoutMs, kMaxReadTimeoutMs, "milliseconds",
                 config.read_timeout_ms, config, entry);
     }},
    {{"RequestDeadline", "VESK_REQUEST_DEADLINE",
      "seconds one request may take as a whole, redirects included, 1 to 86400"},
     [](const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry) {
       LoadCount(raw, kDefaultRequestDeadlineSeconds, kMaxRequestDeadlineSeconds, "seconds",
                 config.request_deadline_seconds, config, entry);
     }},
    {{"RunDeadline", "VESK_RUN_DEADLINE",
      "seconds all requests of a run may take together, from its start, 1 to 86400"},
     [](const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry) {
       LoadCount(raw, kDefaultRunDeadlineSeconds, kMaxRunDeadlineSeconds, "seconds",
                 config.run_deadline_seconds, config, entry);
     }},
    {{"MaxFrameBytes", "VESK_MAX_FRAME_BYTES",
      "bytes a frame may have, 1024 to 268435456; a map layer takes at most\n"
      "      8388608 whatever this says"},
     [](const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry) {
       LoadCount(raw, kDefaultMaxFrameBytes, kMaxMaxFrameBytes, "bytes", config.max_frame_bytes,
                 config, entry, kMinMaxFrameBytes);
     }},
    {{"ArchiveLines", "VESK_ARCHIVE_LINES",
      "console lines of the 24-hour page: each (a line per missing archived frame)\n"
      "      or summary (one line counting the frames and overlays it shows)"},
     LoadArchiveLines},
    {{"Export", "VESK_EXPORT",
      "webp (a run with a new frame writes the 30-minute loop as loop.webp) or off"},
     LoadLoopExport},
    {{"StaleAfter", "VESK_STALE_AFTER",
      "minutes after which an unchanged newest frame makes the source stale (a\n"
      "      console line and a syslog line), 0 to 10080; 0 turns the alert off"},
     [](const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry) {
       LoadCount(raw, kDefaultStaleAfterMinutes, kMaxStaleAfterMinutes, "minutes",
                 config.stale_after_minutes, config, entry, 0);
     }},
    {{"Legend", "VESK_LEGEND",
      "the viewer page's colour legend: comma-separated #rrggbb, weakest echo\n"
      "      first, each optionally =label (default: the simulator's ramp)"},
     LoadLegend},
    {{"MetricsFile", "VESK_METRICS_FILE",
      "file replaced by every run with its metrics in the Prometheus text format\n"
      "      (none: no metrics); relative to the program directory"},
     LoadMetricsFile},
};

}  // namespace

std::string ClosestName(std::string_view text, std::span<const std::string_view> names) {
  std::string closest;
  std::size_t best = kMaxTypoEdits + 1;
  for (const std::string_view name : names) {
    const std::size_t distance = EditDistance(text, name);
    if (distance < best && 2 * distance < text.size()) {
      best = distance;
      closest = name;
    }
  }
  return closest;
}

std::string ClosestKey(std::string_view key) {
  std::vector<std::string_view> keys;
  for (const KeyRow& row : kKeyRows) keys.emplace_back(row.key.key);
  return ClosestName(key, keys);
}

std::vector<ConfigKey> ConfigKeys() {
  std::vector<ConfigKey> keys;
  for (const KeyRow& row : kKeyRows) keys.push_back(row.key);
  return keys;
}

std::string SourceText(ValueSource source) {
  switch (source) {
    case ValueSource::kDefault:
      return "default";
    case ValueSource::kFile:
      return kConfigFileName;
    case ValueSource::kEnvironment:
      return "environment";
  }
  return "default";
}

std::map<std::string, std::string> ParseIni(std::string_view text,
                                            std::vector<std::string>& warnings,
                                            std::vector<std::string>* keys_as_written) {
  std::map<std::string, std::string> values;
  // A byte-order mark, as some editors write one, is not part of the first key.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  int line_number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view raw_line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++line_number;
    const std::string_view line = Trim(raw_line);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']') continue;
    const std::size_t equals = line.find('=');
    const std::string_view key =
        equals == std::string_view::npos ? std::string_view() : Trim(line.substr(0, equals));
    if (key.empty()) {
      warnings.push_back(std::string(kConfigFileName) + " line " + std::to_string(line_number) +
                         ": not a Key=Value line; skipped");
      continue;
    }
    std::string_view value = Trim(line.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    values[platform::AsciiLower(key)] = std::string(value);
    if (keys_as_written != nullptr) keys_as_written->emplace_back(key);
  }
  return values;
}

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

Configuration LoadConfiguration(
    const std::string& program_dir,
    const std::function<std::optional<std::string>(const std::string&)>& getenv_fn) {
  Configuration config;
  std::function<std::optional<std::string>(const std::string&)> lookup = getenv_fn;
  if (!lookup) {
    lookup = [](const std::string& name) -> std::optional<std::string> {
      const char* value = std::getenv(name.c_str());
      if (value == nullptr) return std::nullopt;
      return std::string(value);
    };
  }

  std::map<std::string, std::string> file_values;
  std::vector<std::string> file_keys;
  const std::string file = program_dir + kConfigFileName;
  if (platform::EntryExists(file)) {
    if (std::optional<std::string> text = platform::ReadWholeFile(file, kMaxConfigFileBytes)) {
      file_values = ParseIni(*text, config.warnings, &file_keys);
    } else {
      config.warnings.push_back(file + " cannot be read; using the defaults and the environment");
    }
  }
  const ValueFinder finder(std::move(file_values), lookup);

  for (const KeyRow& row : kKeyRows) {
    ConfigEntry entry{row.key.key, row.key.environment, "", ValueSource::kDefault,
                      row.key.description};
    row.load(finder.Find(row.key.key, row.key.environment), config, entry);
    config.entries.push_back(std::move(entry));
  }
  for (const std::string& key : file_keys) {
    const auto known = [&key](const KeyRow& row) {
      return platform::EqualsIgnoringAsciiCase(key, row.key.key);
    };
    const auto listed = [&key](const UnknownKey& unknown) {
      return platform::EqualsIgnoringAsciiCase(key, unknown.key);
    };
    if (std::any_of(std::begin(kKeyRows), std::end(kKeyRows), known) ||
        std::any_of(config.unknown_keys.begin(), config.unknown_keys.end(), listed)) {
      continue;
    }
    config.unknown_keys.push_back({key, ClosestKey(key)});
  }
  return config;
}

}  // namespace zub32
