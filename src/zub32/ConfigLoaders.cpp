#include "zub32/ConfigLoaders.h"

#include <utility>

namespace zub32 {
namespace {

constexpr const char* kDefaultHost = "localhost";

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

// The address the pages use when SiteAddress is not set, as --help and
// --check show it.
std::string ListedSiteAddress(const Configuration& config) {
  return "https://" + config.publish_host.text + "/vesk";
}

}  // namespace

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

void LoadCount(const std::optional<RawValue>& raw, int default_value, int max,
               const std::string& unit, int& value, Configuration& config, ConfigEntry& entry,
               int min) {
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

void LoadNowcast(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry) {
  config.nowcast = true;
  entry.value = "on";
  if (!raw) return;
  if (const std::optional<bool> parsed = ParseOnOff(raw->text)) {
    config.nowcast = *parsed;
    entry.value = *parsed ? "on" : "off";
    entry.source = raw->source;
  } else {
    config.warnings.push_back(Malformed(*raw, "on or off", "the default on"));
  }
}

void LoadStationPixel(const std::optional<RawValue>& raw, Configuration& config,
                      ConfigEntry& entry) {
  config.station_pixel.reset();
  entry.value = "none";
  if (!raw) return;
  if (const std::optional<PixelPosition> parsed = ParsePixelPosition(raw->text)) {
    config.station_pixel = *parsed;
    entry.value = std::to_string(parsed->x) + "," + std::to_string(parsed->y);
    entry.source = raw->source;
  } else {
    config.warnings.push_back(
        Malformed(*raw, "x,y, two whole numbers from 0 to " + std::to_string(kMaxStationCoordinate),
                  "none (no rain warning)"));
  }
}

void LoadAlertLevel(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry) {
  const int levels = static_cast<int>(config.legend.size());
  LoadCount(raw, (levels + 1) / 2, levels, "legend levels", config.alert_level, config, entry);
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

}  // namespace zub32
