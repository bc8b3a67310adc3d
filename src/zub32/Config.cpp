#include "zub32/Config.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/AsciiText.h"
#include "platform/FileSystem.h"
#include "zub32/ConfigLoaders.h"

namespace zub32 {
namespace {

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
    {{"Nowcast", "VESK_NOWCAST",
      "on (a run with a new frame forecasts the next 30 minutes as Nowcast1.png\n"
      "      ... Nowcast6.png) or off"},
     LoadNowcast},
    {{"StationPixel", "VESK_STATION_PIXEL",
      "x,y: the station's pixel on the frame; forecast echoes of AlertLevel within\n"
      "      5 pixels of it give the rain warning (default: none, no warning)"},
     LoadStationPixel},
    {{"AlertLevel", "VESK_ALERT_LEVEL",
      "the legend level (1 the weakest) of the rain warning (default: the\n"
      "      middle of Legend)"},
     LoadAlertLevel},
    {{"MetricsFile", "VESK_METRICS_FILE",
      "file replaced by every run with its metrics in the Prometheus text format\n"
      "      (none: no metrics); relative to the program directory"},
     LoadMetricsFile},
};

}  // namespace

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
