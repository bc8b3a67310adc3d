// Where the value of a key is found, and how it is put into the
// configuration: a malformed value keeps the default and adds a warning.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "platform/AsciiText.h"
#include "zub32/Config.h"

namespace zub32 {

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

// Puts the value of a key into the configuration and fills its entry; a
// malformed value keeps the default and adds a warning.
using LoadValue = void (*)(const std::optional<RawValue>& raw, Configuration& config,
                           ConfigEntry& entry);

// RadarHost or PublishHost into endpoint.
void LoadEndpoint(const std::optional<RawValue>& raw, Endpoint& endpoint, Configuration& config,
                  ConfigEntry& entry);

// A key holding a whole number from min to max.
void LoadCount(const std::optional<RawValue>& raw, int default_value, int max,
               const std::string& unit, int& value, Configuration& config, ConfigEntry& entry,
               int min = 1);

// A key holding a text that parse accepts or refuses.
void LoadText(const std::optional<RawValue>& raw, const char* default_value,
              std::optional<std::string> (*parse)(std::string_view), const std::string& expected,
              std::string& value, Configuration& config, ConfigEntry& entry);

// The keys with a loader of their own.
void LoadSyslog(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry);
void LoadFont(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry);
void LoadMetricsFile(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry);
void LoadTlsCaFile(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry);
void LoadFrameHosts(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry);
void LoadSiteAddress(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry);
void LoadArchiveLines(const std::optional<RawValue>& raw, Configuration& config,
                      ConfigEntry& entry);
void LoadLoopExport(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry);
void LoadLegend(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry);
void LoadNowcast(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry);
void LoadStationPixel(const std::optional<RawValue>& raw, Configuration& config,
                      ConfigEntry& entry);
// Loaded after the legend, whose length bounds it.
void LoadAlertLevel(const std::optional<RawValue>& raw, Configuration& config, ConfigEntry& entry);

}  // namespace zub32
