// What a run leaves for its operators besides its console lines: status.json
// in the program directory (read back by the next run and by vesk --status),
// the metrics file in the Prometheus text format, the stale source alert and
// the radar source's request to wait (Retry-After).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "refresh/RunContext.h"

namespace refresh {

inline constexpr const char* kStatusFileName = "status.json";
// The time of the last STALE syslog line, while the source stays stale.
inline constexpr const char* kStaleAlertFileName = "stale-alert.txt";
// The longest wait a Retry-After answer can impose.
inline constexpr std::int64_t kMaxBackOffHours = 6;
inline constexpr std::int64_t kMaxBackOffSeconds = kMaxBackOffHours * 3600;
// A stale source is announced again after this long.
inline constexpr std::int64_t kStaleAlertRepeatSeconds = 3600;
// The codes of the STALE and FRESH syslog lines: priority 4 (warning) and 6
// (informational).
inline constexpr std::int32_t kStaleSyslogCode = 40011;
inline constexpr std::int32_t kFreshSyslogCode = 60012;
// The largest status.json read back.
inline constexpr std::size_t kMaxStatusFileBytes = 1024 * 1024;
// Each text value of status.json as written is cut at this length, so that
// the document stays within kMaxStatusDocumentBytes whatever the radar
// source names, well below what is read back.
inline constexpr std::size_t kMaxStatusTextBytes = 2 * 1024;
inline constexpr std::size_t kMaxStatusDocumentBytes = 256 * 1024;
static_assert(kMaxStatusDocumentBytes < kMaxStatusFileBytes);

struct FrameRecord {
  std::string file;  // "Image6.png"
  std::string address;
};

struct NewestFrame {
  std::string address;
  std::optional<std::int64_t> time;  // from the frame's name
  std::optional<std::int64_t> age_seconds;
};

struct RunFailure {
  std::string class_name;
  std::string message;
  std::string function;
};

// The station values the overlay draws, from the last station feed kept, so
// that the viewer can show them above the radar picture.
struct StationValues {
  std::string temperature;
  std::string wind;
  std::optional<std::int64_t> updated;  // when the feed was fetched
};

// One status.json. Times are seconds since the Unix epoch.
struct RunStatus {
  std::string version;
  std::string product;
  std::int64_t started = 0;
  std::int64_t finished = 0;
  std::int64_t duration_ms = 0;
  std::string outcome = "no-change";  // "new-frame", "no-change" or "failed"
  int frames_downloaded = 0;
  std::string overlay = "not-drawn";  // "drawn", "failed" or "not-drawn"
  int files_not_written = 0;
  std::optional<RunFailure> failure;
  std::optional<std::int64_t> last_success;
  std::optional<std::int64_t> last_new_frame;
  std::int64_t consecutive_failures = 0;
  std::optional<NewestFrame> newest_frame;
  std::vector<FrameRecord> frames;  // oldest first
  std::vector<ShownArchiveSlot> archive;
  bool stale = false;
  // The run's StaleAfter: vesk --status ages the last run against it, as
  // the run that may be the last one was configured.
  int stale_after_minutes = zub32::kDefaultStaleAfterMinutes;
  std::optional<std::int64_t> not_before;
  // Written for the viewer, not read back.
  std::optional<StationValues> station;
};

// The UTC time named by the first run of exactly twelve digits
// YYYYMMDDhhmm in a frame's address ("IDR641.T.202407221150.png"); nullopt
// when it has none or they name no valid time.
std::optional<std::int64_t> FrameTimeFromAddress(std::string_view address);

// The document, one member per line, each text value cut at
// kMaxStatusTextBytes.
std::string StatusJson(const RunStatus& status);

// Reads a status.json back: the run's outcome, counts and failure, the
// carried-over times, the newest frame, the frames, staleness and not_before
// (the archive is not read). nullopt when the text is no such document or
// holds a local time too close to the ends of the years 1 to 9999 to be
// written again.
std::optional<RunStatus> ParseStatusJson(std::string_view text);

// What status, whose outcome is set, carries over from the previous run:
// the last success and last new frame, the failures in a row (saturating),
// and the frame files' addresses, which frame_addresses (this run's) update.
void CarryOverStatus(RunStatus& status, const std::optional<RunStatus>& previous,
                     const std::map<std::string, std::string>& frame_addresses, std::int64_t now);

// The wait a stored not_before still imposes at now: nullopt when it has
// passed or lies more than kMaxBackOffSeconds ahead, farther than any
// Retry-After answer asks for (a clock that ran ahead and was set back, or an
// edited file).
std::optional<std::int64_t> PendingWait(std::optional<std::int64_t> not_before, std::int64_t now);
// True when not_before lies more than kMaxBackOffSeconds after now.
bool WaitTooFarAhead(std::int64_t not_before, std::int64_t now);

// The metrics in the Prometheus text format, every sample labelled with the
// product; a time that is not known leaves its sample out.
std::string MetricsText(const RunStatus& status);

// The wait a Retry-After value asks for, in seconds from now: a whole
// number of seconds or an HTTP date, capped at kMaxBackOffSeconds. nullopt
// when it is malformed or asks for no wait.
std::optional<std::int64_t> RetryAfterSeconds(std::string_view value, std::int64_t now);

enum class StaleAlert { kNone, kStale, kFresh };

// Which syslog line a run sends: STALE on the first stale run and then once
// every kStaleAlertRepeatSeconds, FRESH on the first fresh run after one.
// alert_on_record tells whether a STALE line is on record, last_alert when
// it went out (nullopt when that cannot be read).
StaleAlert DecideStaleAlert(bool stale, bool alert_on_record,
                            std::optional<std::int64_t> last_alert, std::int64_t now);

// The previous run's status.json in the working directory; nullopt when it
// is missing or corrupt.
std::optional<RunStatus> ReadPreviousStatus();

// The end of a run that holds the lock: finds the newest frame and its age,
// prints and sends the stale alert, then replaces the metrics file (when
// configured) and status.json. Failures to write are noted as the run's
// other writes are.
void PublishRunStatus(RunContext& run, const std::optional<RunStatus>& previous, bool failed,
                      std::int64_t started, std::int64_t duration_ms);

// vesk --status: a few lines on the status.json of the program directory and
// the exit code of the monitoring-plugin convention: 0 OK, 1 WARNING (the
// last one or two runs failed, stale, a wait pending, or no run for longer
// than the stored StaleAfter), 2 CRITICAL (three or more failed, no run for
// three times StaleAfter, or no status.json), 3 UNKNOWN (unreadable). A
// StaleAfter of 0 turns the run-age check off with the stale alert.
struct StatusReport {
  int exit_code = 3;
  std::vector<std::string> lines;
};
StatusReport DescribeStatus(bool present, const std::optional<std::string>& text, std::int64_t now);
int RunStatusCommand();

// The pending wait of the status.json in directory (with trailing '/'), as
// PendingWait tells it.
std::optional<std::int64_t> PendingNotBefore(const std::string& directory, std::int64_t now);

}  // namespace refresh
