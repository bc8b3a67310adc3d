// The run's configuration: environment variables win over vesk.ini in the
// program directory, which wins over the defaults. A malformed value is not
// fatal: the default is used and a warning line names the key.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zub32 {

struct Endpoint {
  std::string host;  // bare host name or address (an IPv6 address without brackets)
  int port = 80;
  std::string text;             // as configured, without the scheme: "host" or "host:port"
  std::string scheme = "http";  // "http" or "https"
};

enum class SyslogMode { kBroadcast, kOff, kUnicast };

struct SyslogSetting {
  // Off until a configuration is loaded, so that code running outside a run
  // (tests, tools) never broadcasts; LoadConfiguration makes broadcast the
  // default of a run.
  SyslogMode mode = SyslogMode::kOff;
  std::string host;  // unicast only
  int port = 514;
};

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

// The radar product the run follows, when none is configured.
inline constexpr const char* kDefaultProduct = "IDR641";
// A product name is 3 to 16 ASCII letters and digits.
inline constexpr std::size_t kMinProductLength = 3;
inline constexpr std::size_t kMaxProductLength = 16;
// Where the radar host keeps the map layers of every product.
inline constexpr const char* kDefaultLayerPath = "/products/radar_transparencies/";
// The longest layer path taken.
inline constexpr std::size_t kMaxLayerPathLength = 256;

// The colour legend of the viewer page: the product's echo colours, weakest
// first, as "#rrggbb" each with an optional "=label". The default is the
// ramp the simulator draws in.
inline constexpr const char* kDefaultLegend =
    "#f5f5ff=light,#b4b4ff,#7878ff,#1414ff,#00d8c3,#009690,#006666,#ffff00,"
    "#ffc800,#ff9600,#ff6400,#ff0000,#c80000,#780000,#280000=heavy";
inline constexpr std::size_t kMaxLegendEntries = 32;
inline constexpr std::size_t kMaxLegendLabelLength = 24;

struct LegendEntry {
  std::string colour;  // "#f5f5ff", lower case
  std::string label;   // empty when none
};

// How the 24-hour page reports the archive on the console: a line for each
// missing archived frame, or one line counting what it shows.
enum class ArchiveLines { kEach, kSummary };

// Whether a run with a new frame writes the 30-minute loop as one animated
// picture, loop.webp.
enum class LoopExport { kWebp, kOff };

// The entries of kDefaultLegend.
std::vector<LegendEntry> DefaultLegend();

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

// The name of the configuration file in the program directory.
inline constexpr const char* kConfigFileName = "vesk.ini";
// A longer configuration file, or one that is not a regular file, is not
// read.
inline constexpr std::size_t kMaxConfigFileBytes = 64 * 1024;

// Parses the text of vesk.ini: Key=Value lines, keys without regard to case
// (the map's keys are lower-cased), blanks around keys and values trimmed,
// one pair of double quotes around a value removed; lines whose first
// non-blank character is '#' or ';' are comments, [section] lines and blank
// lines are skipped, a later line wins over an earlier one. A line of any
// other form adds a warning (with its line number) and is skipped. When
// keys_as_written is given, each key is appended to it as the file spells
// it, in file order.
std::map<std::string, std::string> ParseIni(std::string_view text,
                                            std::vector<std::string>& warnings,
                                            std::vector<std::string>* keys_as_written = nullptr);

// The one of names nearest to text by edit distance (letter case ignored, a
// swap of two neighbours counting as one edit), when at most two edits and
// fewer than half its letters apart; empty otherwise. The first of equally
// near names wins.
std::string ClosestName(std::string_view text, std::span<const std::string_view> names);

// The known key nearest to key, as ClosestName finds it among the keys.
std::string ClosestKey(std::string_view key);

// "host" or "host:port" ("[v6-address]" or "[v6-address]:port" for IPv6):
// a host of letters, digits, '.', '-' and '_', a port from 1 to 65535.
// nullopt when malformed.
std::optional<Endpoint> ParseEndpoint(std::string_view text, int default_port);

// A web host of RadarHost or PublishHost: an optional "http://" or
// "https://" (without regard to case; none means http) before what
// ParseEndpoint takes, the port 80 or 443 by the scheme when absent. A
// trailing '/' is allowed. nullopt when malformed.
std::optional<Endpoint> ParseWebHost(std::string_view text);

// "http://" or "https://" (the scheme without regard to case, kept in
// lower case), a host or [v6-address] with an optional port, and an optional
// path of URL path characters (default "/vesk"); trailing '/' are dropped.
// Returns the address without a trailing '/', or nullopt when malformed.
std::optional<std::string> ParseSiteAddress(std::string_view text);

// 3 to 16 ASCII letters and digits, taken as given. nullopt otherwise.
std::optional<std::string> ParseProduct(std::string_view text);

// An absolute URL path of letters, digits and '.', '-', '_', '~', '/',
// without empty, "." or ".." segments, at most kMaxLayerPathLength bytes;
// a missing trailing '/' is added. nullopt when malformed.
std::optional<std::string> ParseLayerPath(std::string_view text);

// A comma-separated list of what ParseEndpoint takes, blanks around each
// entry allowed, the port 0 where an entry names none; an empty text is an
// empty list. nullopt when an entry is empty or malformed.
std::optional<std::vector<Endpoint>> ParseHostList(std::string_view text);

// "broadcast", "off" (both without regard to case) or host[:port] for
// unicast, port 514 when absent. nullopt when malformed.
std::optional<SyslogSetting> ParseSyslog(std::string_view text);

// "each" or "summary", without regard to case. nullopt otherwise.
std::optional<ArchiveLines> ParseArchiveLines(std::string_view text);

// "webp" or "off", without regard to case. nullopt otherwise.
std::optional<LoopExport> ParseLoopExport(std::string_view text);

// A comma-separated list of 1 to kMaxLegendEntries colours "#rrggbb" (hex
// digits of either case), each optionally followed by "=" and a label of 1
// to kMaxLegendLabelLength letters, digits, blanks and ".", "-", "+", "/",
// "(", ")"; blanks around entries and labels are allowed. nullopt otherwise.
std::optional<std::vector<LegendEntry>> ParseLegend(std::string_view text);

// The legend as ParseLegend reads it, entries joined by ",".
std::string LegendText(const std::vector<LegendEntry>& legend);

// A whole decimal number from min to max (blanks around it allowed); nullopt
// for anything else.
std::optional<int> ParseBoundedCount(std::string_view text, int max, int min = 1);

// Reads vesk.ini from program_dir (with trailing '/') and the environment
// through getenv_fn (std::getenv when empty). An environment variable that is
// set but empty counts as not set.
Configuration LoadConfiguration(
    const std::string& program_dir,
    const std::function<std::optional<std::string>(const std::string&)>& getenv_fn = {});

}  // namespace zub32
