// The run's configuration: environment variables win over vesk.ini in the
// program directory, which wins over the defaults. A malformed value is not
// fatal: the default is used and a warning line names the key.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zub32/ClosestName.h"
#include "zub32/ConfigValues.h"
#include "zub32/IniFile.h"

namespace zub32 {

enum class ValueSource { kDefault, kFile, kEnvironment };

// "default", "vesk.ini" or "environment", as --help shows the source.
std::string SourceText(ValueSource source);

// One key of the configuration: its name in vesk.ini, its environment
// variable, and what it means, as --help says it.
struct ConfigKey {
  const char* key;          // "RadarHost"
  const char* environment;  // "VESK_RADAR_HOST"
  const char* description;
};

// Every key, in the order --help and --check show them.
std::vector<ConfigKey> ConfigKeys();

// One key as --help shows it.
struct ConfigEntry {
  std::string key;          // "RadarHost"
  std::string environment;  // "VESK_RADAR_HOST"
  std::string value;        // the value in force
  ValueSource source = ValueSource::kDefault;
  std::string description;  // what the key means
};

// A key of vesk.ini that names no setting, as written there, with the
// known key it most likely means; closest is empty when none is near.
struct UnknownKey {
  std::string key;
  std::string closest;
};

// Time limits of the HTTP clients of both stages.
inline constexpr int kDefaultReadTimeoutMs = 30000;
inline constexpr int kMaxReadTimeoutMs = 3600000;
inline constexpr int kDefaultRequestDeadlineSeconds = 120;
inline constexpr int kMaxRequestDeadlineSeconds = 86400;
inline constexpr int kDefaultRunDeadlineSeconds = 240;
inline constexpr int kMaxRunDeadlineSeconds = 86400;
// The largest frame or map layer body a run takes, in bytes.
inline constexpr int kDefaultMaxFrameBytes = 16 * 1024 * 1024;
inline constexpr int kMinMaxFrameBytes = 1024;
inline constexpr int kMaxMaxFrameBytes = 256 * 1024 * 1024;
// Minutes after which a newest frame that has not changed makes the source
// stale; 0 turns the alert off. At most a week.
inline constexpr int kDefaultStaleAfterMinutes = 30;
inline constexpr int kMaxStaleAfterMinutes = 10080;

struct Configuration {
  Endpoint radar_host{"localhost", 80, "localhost", "http"};
  Endpoint publish_host{"localhost", 80, "localhost", "http"};
  // The address readers reach the published files under, without a
  // trailing '/' ("https://www.example.org/vesk"). Empty when not set: the
  // pages then name the publishing host as they always have.
  std::string site_address;
  // The radar product: its loop page, background bitmap and map layers are
  // named after it.
  std::string product = kDefaultProduct;
  // The path on the radar host the map layers are fetched under, with a
  // leading and a trailing '/'.
  std::string layer_path = kDefaultLayerPath;
  // Whether a run with a new frame fetches the map layers: unless LayerPath
  // is off, for an installation that publishes them by other means.
  bool fetch_layers = true;
  // Hosts besides the radar host the loop page may name frames on; a port
  // of 0 stands for the default port of the frame's scheme.
  std::vector<Endpoint> frame_hosts;
  SyslogSetting syslog;
  std::string font;  // a font file; empty: look the face up with fontconfig
  // A PEM bundle of the CAs that https hosts are verified against; empty:
  // the system's store.
  std::string tls_ca_file;
  // The longest wait for data in one read, and for a connect.
  int read_timeout_ms = kDefaultReadTimeoutMs;
  // The longest one GET may take as a whole, redirects included, however
  // the server paces its bytes.
  int request_deadline_seconds = kDefaultRequestDeadlineSeconds;
  // The longest all GETs of one run may take together, counted from the
  // start of the run: a run of many requests, each just inside its own
  // deadline, still ends before the next scheduled one.
  int run_deadline_seconds = kDefaultRunDeadlineSeconds;
  // The longest body a frame or map layer may have: a host that sends more
  // fails that request before it fills the memory and the disk.
  int max_frame_bytes = kDefaultMaxFrameBytes;
  ArchiveLines archive_lines = ArchiveLines::kEach;
  LoopExport loop_export = LoopExport::kWebp;
  // The age of the newest frame past which the source counts as stale; 0:
  // never.
  int stale_after_minutes = kDefaultStaleAfterMinutes;
  // The viewer page's colour legend, weakest echo first.
  std::vector<LegendEntry> legend = DefaultLegend();
  // Whether a run with a new frame forecasts the next 30 minutes.
  bool nowcast = true;
  // The station's pixel on the frame, for the rain warning; none: no
  // warning.
  std::optional<PixelPosition> station_pixel;
  // The legend level (1 the weakest) from which a forecast echo near the
  // station counts as rain; the Legend key's middle unless set.
  int alert_level = 1;
  // A file the run replaces with its metrics in the Prometheus text format;
  // empty: none.
  std::string metrics_file;
  // When the run began; the run driver sets it. Unset outside a run: then
  // only each request's own deadline applies.
  std::optional<std::chrono::steady_clock::time_point> run_started;
  std::vector<ConfigEntry> entries;
  std::vector<std::string> warnings;  // one line per malformed value
  // The keys of vesk.ini that name no setting, in file order, each once. A
  // run ignores them; --check names them.
  std::vector<UnknownKey> unknown_keys;
};

// The known key nearest to key, as ClosestName finds it among the keys.
std::string ClosestKey(std::string_view key);

// Reads vesk.ini from program_dir (with trailing '/') and the environment
// through getenv_fn (std::getenv when empty). An environment variable that is
// set but empty counts as not set.
Configuration LoadConfiguration(
    const std::string& program_dir,
    const std::function<std::optional<std::string>(const std::string&)>& getenv_fn = {});

}  // namespace zub32
