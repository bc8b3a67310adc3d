#include "SimOptions.h"

#include <charconv>

namespace sim {
namespace {

// Bounds that keep a forgotten simulator from running for ever and keep the
// time arithmetic far from overflow.
constexpr std::int64_t kMaxRunSeconds = 7 * 24 * 3600;
constexpr std::int64_t kMaxIntervalSeconds = 24 * 3600;

std::int64_t ParseNumber(const std::string& option, const std::string& text, std::int64_t low,
                         std::int64_t high) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high) {
    throw UsageError(option + " needs a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not \"" + text + "\"");
  }
  return value;
}

}  // namespace

SimOptions ParseSimOptions(const std::vector<std::string>& arguments) {
  SimOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    std::optional<std::string> inline_value;
    const std::size_t equals = name.find('=');
    if (name.starts_with("--") && equals != std::string::npos) {
      inline_value = name.substr(equals + 1);
      name.resize(equals);
    }
    auto value = [&]() -> std::string {
      if (inline_value) return *inline_value;
      if (i + 1 >= arguments.size()) throw UsageError(name + " needs a value");
      return arguments[++i];
    };
    auto no_value = [&]() {
      if (inline_value) throw UsageError(name + " takes no value");
    };

    if (name == "--help" || name == "-h") {
      no_value();
      options.help = true;
    } else if (name == "--port") {
      options.port = static_cast<std::uint16_t>(ParseNumber(name, value(), 0, 65535));
    } else if (name == "--frame-interval") {
      options.frame_interval =
          std::chrono::seconds(ParseNumber(name, value(), 1, kMaxIntervalSeconds));
    } else if (name == "--advance-on-request") {
      no_value();
      options.advance_on_request = true;
    } else if (name == "--start-frame") {
      const std::string text = value();
      options.start_frame = ParseStamp(text);
      if (!options.start_frame) {
        throw UsageError("--start-frame needs a UTC time as yyyymmddhhmm, not \"" + text + "\"");
      }
    } else if (name == "--stop-publishing-after") {
      options.stop_publishing_after = ParseNumber(name, value(), 0, kMaxRunSeconds);
    } else if (name == "--max-seconds") {
      options.max_seconds = std::chrono::seconds(ParseNumber(name, value(), 1, kMaxRunSeconds));
    } else if (name == "--idle-timeout") {
      options.idle_timeout = std::chrono::seconds(ParseNumber(name, value(), 1, 3600));
    } else if (name == "--serve-dir") {
      options.serve_dir = value();
      if (options.serve_dir.empty()) throw UsageError("--serve-dir needs a directory");
    } else if (name == "--log") {
      no_value();
      options.log = true;
    } else if (name == "--write-background") {
      options.write_background = value();
      if (options.write_background.empty())
        throw UsageError("--write-background needs a file name");
    } else {
      throw UsageError("unknown argument \"" + arguments[i] + "\"");
    }
  }
  return options;
}

std::string UsageText() {
  return R"(Usage: vesk-sim [options]
       vesk-sim --write-background FILE

A local stand-in for the radar source host and the publishing host, for test
and demo runs. Listens on 127.0.0.1 only and prints
  vesk-sim listening on 127.0.0.1:PORT
as its first line on standard output.

Serves:
  /products/IDR641.loop.shtml   the radar loop page; its script names seven
                                frames in theImageNames[0] (oldest) to [6]
  /radar/IDR641.T.<yyyymmddhhmm>.png
                                a generated radar frame (UTC time), one every
                                5 minutes of simulated time
  /products/radar_transparencies/IDR641.<layer>.png
                                a generated 512x512 map layer: background
                                (opaque, the --write-background map),
                                topography, locations or range (transparent
                                but for shading, place names, range rings)
  /ses/sysinfo.json             the station feed; temperature and wind change
                                with every request (GET or HEAD) and start
                                from the clock, so runs differ too
  /vesk/<file>                  plain files of --serve-dir, when given; the
                                layers above when no such file is there

Files under /vesk/ and the layers carry Last-Modified, an ETag and
Cache-Control: no-cache, and are answered with 304 Not Modified when
If-None-Match or If-Modified-Since shows the client's copy is current. HTML
pages and BMP pictures are gzip-coded for requests whose Accept-Encoding
takes gzip (Content-Encoding: gzip, Vary: Accept-Encoding, an ETag of its
own); PNG pictures are sent as they are.

Options:
  --port N                TCP port to listen on (default 0: an ephemeral port)
  --frame-interval S      seconds between new frames (default 300)
  --advance-on-request    a new frame after every loop page served, instead of
                          by time; the first page shows the start frame
  --start-frame STAMP     the newest frame at start, yyyymmddhhmm in UTC
                          (default: the current time, rounded down to 5 min)
  --stop-publishing-after N
                          the newest frame stops advancing after N new frames
                          (default: it never stops), as a source that froze
  --max-seconds S         stop after S seconds (default 600, at most 604800)
  --idle-timeout S        close a keep-alive connection idle for S seconds
                          (default 15)
  --serve-dir DIR         serve the files of DIR under /vesk/
  --log                   one line per request on standard error:
                            vesk-sim: conn ID METHOD TARGET STATUS BODY-BYTES
  --write-background FILE write the background layer's map as a 24-bit
                          512x512 BMP file and exit
  --help                  this text

Stops on SIGTERM or SIGINT, or when --max-seconds have passed, with exit code
0; exit code 2 for a bad command line, 1 when it cannot listen, find the
serve directory or write the background.
)";
}

}  // namespace sim
