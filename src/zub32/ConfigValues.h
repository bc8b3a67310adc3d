// The values of the configuration keys: hosts, addresses, paths, counts and
// words, each checked by its parser.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zub32 {

// The ports taken when a value names none.
inline constexpr int kDefaultHttpPort = 80;
inline constexpr int kDefaultHttpsPort = 443;
inline constexpr int kDefaultSyslogPort = 514;

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

// The entries of kDefaultLegend.
std::vector<LegendEntry> DefaultLegend();

// How the 24-hour page reports the archive on the console: a line for each
// missing archived frame, or one line counting what it shows.
enum class ArchiveLines { kEach, kSummary };

// Whether a run with a new frame writes the 30-minute loop as one animated
// picture, loop.webp.
enum class LoopExport { kWebp, kOff };

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

// "on" or "off" in any case: the Nowcast key.
std::optional<bool> ParseOnOff(std::string_view text);

// The largest coordinate a station pixel may have.
inline constexpr int kMaxStationCoordinate = 65535;

// A pixel on the radar frame, "x,y", each a whole number from 0 to
// kMaxStationCoordinate.
struct PixelPosition {
  int x = 0;
  int y = 0;
};
std::optional<PixelPosition> ParsePixelPosition(std::string_view text);

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

}  // namespace zub32
