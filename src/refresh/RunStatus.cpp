#include "refresh/RunStatus.h"

#include "overlay/StationFeed.h"
#include "platform/CheckedArithmetic.h"
#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "refresh/BackOff.h"
#include "refresh/FrameLinks.h"
#include "refresh/RadarFrameUpdate.h"
#include "refresh/RainAlert.h"
#include "refresh/RunMetrics.h"
#include "refresh/StaleAlert.h"
#include "site/SiteNames.h"
#include "zub32/Config.h"
#include "zub32/ExceptionReport.h"
#include "zub32/SystemInfo.h"
#include "zub32/TextFiles.h"

namespace refresh {
namespace {

// A larger station feed copy gives the viewer no station values.
constexpr std::size_t kMaxStationFeedBytes = 1024 * 1024;

constexpr std::int64_t kSecondsPerMinute = 60;

// The newest frame: the address LastImageURI.txt records, aged from the time
// in its name or else from when the record last changed.
std::optional<site::NewestFrame> FindNewestFrame(std::int64_t now) {
  const std::string address = zub32::FileToBin(site::kLastImageUriFileName);
  if (address.empty()) return std::nullopt;
  site::NewestFrame newest{address, site::FrameTimeFromAddress(address), std::nullopt};
  std::optional<std::int64_t> since = newest.time;
  if (!since) {
    if (const auto changed = platform::LastWriteTime(site::kLastImageUriFileName)) {
      since = platform::UnixSeconds(*changed);
    }
  }
  if (since) newest.age_seconds = platform::CheckedSub(now, *since);
  return newest;
}

// The values the last overlay drew, from the feed copy it kept; nullopt
// before the first feed arrived.
std::optional<site::StationValues> ReadStationValues() {
  const std::optional<std::string> feed =
      platform::ReadWholeFile(site::kStationFeedFile, kMaxStationFeedBytes);
  if (!feed) return std::nullopt;
  const overlay::StationInfo info = overlay::CutStationInfo(*feed);
  site::StationValues station{info.temperature, info.wind, std::nullopt};
  if (const auto changed = platform::LastWriteTime(site::kStationFeedFile)) {
    station.updated = platform::UnixSeconds(*changed);
  }
  return station;
}

}  // namespace

void CarryOverStatus(site::RunStatus& status, const std::optional<site::RunStatus>& previous,
                     const std::map<std::string, std::string>& frame_addresses, std::int64_t now) {
  if (previous) {
    status.last_success = previous->last_success;
    status.last_new_frame = previous->last_new_frame;
    status.consecutive_failures = previous->consecutive_failures;
  }
  if (status.outcome == site::RunResult::kFailed) {
    status.consecutive_failures =
        platform::CheckedAdd(status.consecutive_failures, 1).value_or(status.consecutive_failures);
  } else {
    status.last_success = now;
    status.consecutive_failures = 0;
  }
  if (status.outcome == site::RunResult::kNewFrame) status.last_new_frame = now;
  // The frame files keep what the last runs put there, except those this run
  // replaced.
  std::map<std::string, std::string> addresses;
  if (previous) {
    for (const site::FrameRecord& frame : previous->frames) addresses[frame.file] = frame.address;
  }
  for (const auto& [file, address] : frame_addresses) addresses[file] = address;
  status.frames.clear();
  for (int index = kLoopEntries - 1; index >= 0; --index) {
    const std::string file = site::FrameFileName(index);
    if (const auto found = addresses.find(file); found != addresses.end()) {
      status.frames.push_back({file, found->second, site::RingMemberName(index)});
    }
  }
}

void PublishRunStatus(RunContext& run, const std::optional<site::RunStatus>& previous, bool failed,
                      std::int64_t started, std::int64_t duration_ms) {
  const std::int64_t now = platform::UnixNow();
  site::RunStatus status;
  status.version = zub32::GlobalSettings.Version;
  status.product = run.config.product;
  status.started = started;
  status.finished = now;
  status.duration_ms = duration_ms;
  status.outcome =
      failed ? site::RunResult::kFailed
             : (run.frame_changed ? site::RunResult::kNewFrame : site::RunResult::kNoChange);
  status.frames_downloaded = run.frames_downloaded;
  if (run.overlay_drawn) {
    status.overlay = *run.overlay_drawn ? site::OverlayState::kDrawn : site::OverlayState::kFailed;
  }
  if (failed) {
    status.failure =
        site::RunFailure{run.ExceptionRec.ClassName, run.ExceptionRec.Message,
                         run.ExceptionRec.Function + ":" + std::to_string(run.ExceptionRec.Trace)};
  }
  CarryOverStatus(status, previous, run.frame_addresses, now);
  status.newest_frame = FindNewestFrame(now);
  const std::int64_t stale_after = run.config.stale_after_minutes * kSecondsPerMinute;
  status.stale_after_minutes = run.config.stale_after_minutes;
  status.stale = stale_after > 0 && status.newest_frame && status.newest_frame->age_seconds &&
                 *status.newest_frame->age_seconds > stale_after;
  status.station = ReadStationValues();
  status.archive = run.archive;
  status.not_before = PendingWait(run.not_before, now);

  // A run without a new frame keeps the last run's nowcast: it still
  // belongs to the newest frame.
  if (run.config.nowcast) {
    status.nowcast = run.nowcast ? run.nowcast : (previous ? previous->nowcast : std::nullopt);
    if (status.nowcast && !run.config.station_pixel) {
      status.nowcast->rain_expected_in_minutes.reset();
    }
  }

  if (run.config.stale_after_minutes > 0) AlertOnStaleSource(status, now);
  AlertOnRain(status, run.config.station_pixel.has_value(), now);
  status.files_not_written = static_cast<int>(run.write_failures.size());
  if (!run.config.metrics_file.empty()) {
    zub32::StringToFile(MetricsText(status), run.config.metrics_file, false, "");
    status.files_not_written = static_cast<int>(run.write_failures.size());
  }
  zub32::StringToFile(site::StatusJson(status), site::kStatusFileName, false, "");
}

}  // namespace refresh
