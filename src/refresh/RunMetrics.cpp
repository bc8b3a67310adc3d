#include "refresh/RunMetrics.h"

#include <cstdio>
#include <optional>

namespace refresh {
namespace {

void AppendGauge(std::string& text, const std::string& name, const std::string& help,
                 const std::string& product, const std::optional<std::string>& value) {
  text += "# HELP " + name + " " + help + "\n";
  text += "# TYPE " + name + " gauge\n";
  if (value) text += name + "{product=\"" + product + "\"} " + *value + "\n";
}

std::optional<std::string> IntegerText(const std::optional<std::int64_t>& value) {
  if (!value) return std::nullopt;
  return std::to_string(*value);
}

}  // namespace

std::string MetricsText(const site::RunStatus& status) {
  const std::string& product = status.product;
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.3f", static_cast<double>(status.duration_ms) / 1000);
  std::optional<std::int64_t> newest_time, newest_age;
  if (status.newest_frame) {
    newest_time = status.newest_frame->time;
    newest_age = status.newest_frame->age_seconds;
  }
  std::string text;
  AppendGauge(text, "vesk_run_timestamp_seconds",
              "When the last run finished, in seconds since the Unix epoch.", product,
              std::to_string(status.finished));
  AppendGauge(text, "vesk_run_duration_seconds", "How long the last run took.", product,
              std::string(duration));
  AppendGauge(text, "vesk_run_success", "1 when the last run did not fail, 0 when it failed.",
              product, std::string(status.outcome == site::RunResult::kFailed ? "0" : "1"));
  AppendGauge(text, "vesk_last_success_timestamp_seconds",
              "When the last run that did not fail finished.", product,
              IntegerText(status.last_success));
  AppendGauge(text, "vesk_newest_frame_timestamp_seconds",
              "The time named by the newest radar frame.", product, IntegerText(newest_time));
  AppendGauge(text, "vesk_newest_frame_age_seconds", "How old the newest radar frame is.", product,
              IntegerText(newest_age));
  AppendGauge(text, "vesk_frames_downloaded", "Frames the last run downloaded.", product,
              std::to_string(status.frames_downloaded));
  AppendGauge(text, "vesk_files_not_written", "Files the last run could not write.", product,
              std::to_string(status.files_not_written));
  AppendGauge(text, "vesk_source_stale", "1 when the newest frame is older than StaleAfter.",
              product, std::string(status.stale ? "1" : "0"));
  AppendGauge(text, "vesk_consecutive_failures", "Runs in a row that failed.", product,
              std::to_string(status.consecutive_failures));
  const bool forecast = status.nowcast && status.nowcast->reason.empty();
  AppendGauge(text, "vesk_nowcast_available",
              "1 when the newest frame has a nowcast, 0 when it has none.", product,
              std::string(forecast ? "1" : "0"));
  std::optional<std::int64_t> rain_seconds;
  if (status.nowcast && status.nowcast->rain_expected_in_minutes) {
    rain_seconds = *status.nowcast->rain_expected_in_minutes * 60;
  }
  AppendGauge(text, "vesk_rain_expected_seconds",
              "How far ahead the nowcast first has rain at the station.", product,
              IntegerText(rain_seconds));
  return text;
}

}  // namespace refresh
