// status.json, the record a run leaves in the program directory for the next
// run, for vesk --status and for the viewer: what it holds, how it is written
// and how it is read back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "site/LoopPage24.h"
#include "zub32/Config.h"

namespace site {

// The largest status.json read back.
inline constexpr std::size_t kMaxStatusFileBytes = 1024 * 1024;
// Each text value of status.json as written is cut at this length, so that
// the document stays within kMaxStatusDocumentBytes whatever the radar
// source names, well below what is read back.
inline constexpr std::size_t kMaxStatusTextBytes = 2 * 1024;
inline constexpr std::size_t kMaxStatusDocumentBytes = 256 * 1024;
static_assert(kMaxStatusDocumentBytes < kMaxStatusFileBytes);

// How a run ended: with a new frame, with none, or failed.
enum class RunResult { kNewFrame, kNoChange, kFailed };
// Whether the run drew the overlay, tried and failed, or was not due to.
enum class OverlayState { kDrawn, kFailed, kNotDrawn };

// The texts status.json gives them: "new-frame", "no-change", "failed";
// "drawn", "failed", "not-drawn".
const char* RunResultText(RunResult outcome);
const char* OverlayStateText(OverlayState state);

struct FrameRecord {
  std::string file;  // "Image6.png"
  std::string address;
  // The ring member the pages show with the frame ("SESOverlay6.bmp"),
  // written for the viewer and not read back; empty writes null.
  std::string overlay = {};
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

// A forecast picture: its file, its lead time and the time it is valid for.
struct ForecastFrame {
  std::string file;  // "Nowcast2.png"
  int lead_minutes = 0;
  std::int64_t time = 0;
};

// The nowcast of the newest frame: its pictures and the echoes' mean
// motion, or why there is none (then no frames).
struct NowcastRecord {
  std::optional<std::int64_t> issued;  // the newest frame's time
  std::vector<ForecastFrame> frames;
  std::optional<std::int64_t> speed_pixels_per_hour;
  std::optional<std::int64_t> direction_degrees;  // towards, 0 up, 90 right
  std::string reason;                             // empty when made
  // The first lead time with rain forecast at the station; nullopt when
  // none or no station is set.
  std::optional<std::int64_t> rain_expected_in_minutes;
};

// One status.json. Times are seconds since the Unix epoch.
struct RunStatus {
  std::string version;
  std::string product;
  std::int64_t started = 0;
  std::int64_t finished = 0;
  std::int64_t duration_ms = 0;
  RunResult outcome = RunResult::kNoChange;
  int frames_downloaded = 0;
  OverlayState overlay = OverlayState::kNotDrawn;
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
  // nullopt when Nowcast is off.
  std::optional<NowcastRecord> nowcast;
};

// The UTC time named by the first run of exactly twelve digits
// YYYYMMDDhhmm in a frame's address ("IDR641.T.202407221150.png"); nullopt
// when it has none or they name no valid time.
std::optional<std::int64_t> FrameTimeFromAddress(std::string_view address);

// The document, one member per line, each text value cut at
// kMaxStatusTextBytes.
std::string StatusJson(const RunStatus& status);

// Reads a status.json back: the run's outcome, counts and failure, the
// carried-over times, the newest frame, the frames, staleness, not_before
// and the nowcast (the archive is not read). nullopt when the text is no such document, names
// an outcome other than the three, or holds a local time too close to the
// ends of the years 1 to 9999 to be written again. An overlay state that is
// missing or unknown reads as not drawn.
std::optional<RunStatus> ParseStatusJson(std::string_view text);

// The previous run's status.json in the working directory; nullopt when it
// is missing or corrupt.
std::optional<RunStatus> ReadPreviousStatus();

}  // namespace site
