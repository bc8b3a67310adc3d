// The run's configuration: environment variables win over vesk.ini in the
// program directory, which wins over the defaults. A malformed value is not
// fatal: the default is used and a warning line names the key.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zub32 {

struct Endpoint {
  std::string host;  // bare host name or address
  int port = 80;
  std::string text;  // as configured: "host" or "host:port"
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

// One key as --help shows it.
struct ConfigEntry {
  std::string key;          // "RadarHost"
  std::string environment;  // "VESK_RADAR_HOST"
  std::string value;        // the value in force
  ValueSource source = ValueSource::kDefault;
};

struct Configuration {
  Endpoint radar_host{"localhost", 80, "localhost"};
  Endpoint publish_host{"localhost", 80, "localhost"};
  SyslogSetting syslog;
  std::string font;  // a font file; empty: look the face up with fontconfig
  std::vector<ConfigEntry> entries;
  std::vector<std::string> warnings;  // one line per malformed value
};

// Reads vesk.ini from program_dir (with trailing '/') and the environment
// through getenv_fn (std::getenv when empty).
Configuration LoadConfiguration(
    const std::string& program_dir,
    const std::function<std::optional<std::string>(const std::string&)>& getenv_fn = {});

// The configuration of this run; the run driver loads it at start.
extern Configuration RunConfig;

}  // namespace zub32
