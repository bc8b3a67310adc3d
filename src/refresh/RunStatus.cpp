#include "refresh/RunStatus.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <limits>
#include <map>

#include "http/TIdCookieManager.h"
#include "overlay/StationFeed.h"
#include "platform/Console.h"
#include "platform/DateTime.h"
#include "platform/DurationText.h"
#include "platform/FileSystem.h"
#include "refresh/FrameLinks.h"
#include "refresh/RadarFrameUpdate.h"
#include "zub32/Config.h"
#include "zub32/ExceptionReport.h"
#include "zub32/Json.h"
#include "zub32/PrintableText.h"
#include "zub32/Records.h"
#include "zub32/SystemInfo.h"
#include "zub32/TextFiles.h"

namespace refresh {
namespace {

constexpr std::size_t kStampDigits = 12;
// A larger station feed copy gives the viewer no station values.
constexpr std::size_t kMaxStationFeedBytes = 1024 * 1024;
constexpr std::int64_t kSecondsPerMinute = 60;
// The failures in a row from which vesk --status is critical.
constexpr std::int64_t kCriticalFailures = 3;
// No run for this many times StaleAfter makes vesk --status critical.
constexpr std::int64_t kCriticalRunAgeFactor = 3;
// More digits than this in a Retry-After are refused, well before overflow.
constexpr std::size_t kMaxRetryAfterDigits = 10;
// The times a status.json may hold, so that each is written again as a time
// the reader takes: those in UTC within the years 1 to 9999, local ones a day
// inside them, which leaves room for any local offset.
constexpr std::int64_t kEarliestUtcTime = -62135596800;    // 0001-01-01T00:00:00Z
constexpr std::int64_t kLatestUtcTime = 253402300799;      // 9999-12-31T23:59:59Z
constexpr std::int64_t kEarliestLocalTime = -62135510400;  // 0001-01-02T00:00:00Z
constexpr std::int64_t kLatestLocalTime = 253402214400;    // 9999-12-31T00:00:00Z

// Sums and differences of stored times and counts: nullopt when the result
// would not fit.
std::optional<std::int64_t> CheckedAdd(std::int64_t a, std::int64_t b) {
  std::int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
  return sum;
}

std::optional<std::int64_t> CheckedSub(std::int64_t a, std::int64_t b) {
  std::int64_t difference = 0;
  if (__builtin_sub_overflow(a, b, &difference)) return std::nullopt;
  return difference;
}

std::int64_t UnixNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// A text value of status.json, cut as every one is.
std::string Text(std::string_view bytes) { return zub32::JsonString(bytes, kMaxStatusTextBytes); }

std::string TimeOrNull(const std::optional<std::int64_t>& time, bool utc = false) {
  if (!time) return "null";
  return Text(utc ? platform::FormatIsoUtc(*time) : platform::FormatIsoLocal(*time));
}

std::string NumberOrNull(const std::optional<std::int64_t>& value) {
  return value ? std::to_string(*value) : "null";
}

// A member that is null or an ISO time in the range of those written in UTC
// or locally; false when it is anything else.
bool ReadTime(const zub32::JsonValue& object, std::string_view name,
              std::optional<std::int64_t>& time, bool utc = false) {
  const zub32::JsonValue* member = object.Member(name);
  if (member == nullptr || member->type == zub32::JsonValue::Type::kNull) return true;
  const std::optional<std::string> text = member->AsString();
  if (!text) return false;
  time = platform::ParseIsoTime(*text);
  if (!time) return false;
  return utc ? *time >= kEarliestUtcTime && *time <= kLatestUtcTime
             : *time >= kEarliestLocalTime && *time <= kLatestLocalTime;
}

std::string MemberText(const zub32::JsonValue& object, std::string_view name) {
  const zub32::JsonValue* member = object.Member(name);
  return member != nullptr ? member->AsString().value_or("") : "";
}

std::int64_t MemberInteger(const zub32::JsonValue& object, std::string_view name) {
  const zub32::JsonValue* member = object.Member(name);
  return member != nullptr ? member->AsInteger().value_or(0) : 0;
}

// A count held as int: a stored one out of range saturates.
int MemberCount(const zub32::JsonValue& object, std::string_view name) {
  return static_cast<int>(std::clamp<std::int64_t>(MemberInteger(object, name),
                                                   std::numeric_limits<int>::min(),
                                                   std::numeric_limits<int>::max()));
}

std::int64_t SecondsOf(std::chrono::system_clock::time_point when) {
  return std::chrono::duration_cast<std::chrono::seconds>(when.time_since_epoch()).count();
}

// The newest frame: the address LastImageURI.txt records, aged from the time
// in its name or else from when the record last changed.
std::optional<NewestFrame> FindNewestFrame(std::int64_t now) {
  const std::string address = zub32::FileToBin(kLastImageUriFileName);
  if (address.empty()) return std::nullopt;
  NewestFrame newest{address, FrameTimeFromAddress(address), std::nullopt};
  std::optional<std::int64_t> since = newest.time;
  if (!since) {
    if (const auto changed = platform::LastWriteTime(kLastImageUriFileName)) {
      since = SecondsOf(*changed);
    }
  }
  if (since) newest.age_seconds = CheckedSub(now, *since);
  return newest;
}

// The stale check of a run: the console line, and the syslog line as
// DecideStaleAlert says, with the record of the last STALE line kept in
// kStaleAlertFileName.
void AlertOnStaleSource(const RunStatus& status, std::int64_t now) {
  if (!status.newest_frame || !status.newest_frame->age_seconds) return;
  const NewestFrame& newest = *status.newest_frame;
  const std::int64_t minutes = *newest.age_seconds / kSecondsPerMinute;
  if (status.stale) {
    platform::WriteLine("Radar source stale: newest frame " + newest.address + " is " +
                        platform::AgeText(*newest.age_seconds));
  }
  const bool on_record = platform::EntryExists(kStaleAlertFileName);
  const std::optional<std::int64_t> last_alert =
      on_record ? platform::ParseIsoTime(zub32::FileToBin(kStaleAlertFileName)) : std::nullopt;
  const StaleAlert alert = DecideStaleAlert(status.stale, on_record, last_alert, now);
  if (alert == StaleAlert::kNone) return;
  const std::string details = "Product=" + status.product + " Age=" + std::to_string(minutes) +
                              "min Newest=" + zub32::PrintableBytes(newest.address);
  if (alert == StaleAlert::kStale) {
    zub32::PostRunSyslogLine(kStaleSyslogCode, "STALE:" + details);
    zub32::StringToFile(platform::FormatIsoLocal(now), kStaleAlertFileName, false, "");
  } else {
    zub32::PostRunSyslogLine(kFreshSyslogCode, "FRESH:" + details);
    const platform::FileResult removed = platform::RemoveEntry(kStaleAlertFileName);
    if (!removed.ok()) zub32::NoteWriteFailure(removed.reason());
  }
}

// The values the last overlay drew, from the feed copy it kept; nullopt
// before the first feed arrived.
std::optional<StationValues> ReadStationValues() {
  const std::optional<std::string> feed =
      platform::ReadWholeFile(overlay::kStationFeedFile, kMaxStationFeedBytes);
  if (!feed) return std::nullopt;
  const overlay::StationInfo info = overlay::CutStationInfo(*feed);
  StationValues station{info.temperature, info.wind, std::nullopt};
  if (const auto changed = platform::LastWriteTime(overlay::kStationFeedFile)) {
    station.updated = SecondsOf(*changed);
  }
  return station;
}

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

std::optional<std::int64_t> FrameTimeFromAddress(std::string_view address) {
  std::size_t at = 0;
  while (at < address.size()) {
    if (address[at] < '0' || address[at] > '9') {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < address.size() && address[end] >= '0' && address[end] <= '9') ++end;
    if (end - at == kStampDigits) {
      const std::string_view stamp = address.substr(at, kStampDigits);
      const std::string iso =
          std::string(stamp.substr(0, 4)) + "-" + std::string(stamp.substr(4, 2)) + "-" +
          std::string(stamp.substr(6, 2)) + "T" + std::string(stamp.substr(8, 2)) + ":" +
          std::string(stamp.substr(10, 2)) + ":00Z";
      return platform::ParseIsoTime(iso);
    }
    at = end;
  }
  return std::nullopt;
}

std::string StatusJson(const RunStatus& status) {
  std::string text = "{\"program\": \"VESK\", \"version\": " + Text(status.version) +
                     ", \"product\": " + Text(status.product) + ",\n";
  text += " \"run\": {\"started\": " + TimeOrNull(status.started) +
          ", \"finished\": " + TimeOrNull(status.finished) +
          ", \"duration_ms\": " + std::to_string(status.duration_ms) +
          ",\n         \"outcome\": " + Text(status.outcome) +
          ", \"frames_downloaded\": " + std::to_string(status.frames_downloaded) +
          ", \"overlay\": " + Text(status.overlay) +
          ", \"files_not_written\": " + std::to_string(status.files_not_written) +
          ",\n         \"failure\": ";
  if (status.failure) {
    text += "{\"class\": " + Text(status.failure->class_name) +
            ", \"message\": " + Text(status.failure->message) +
            ", \"function\": " + Text(status.failure->function) + "}";
  } else {
    text += "null";
  }
  text += "},\n";
  text += " \"last_success\": " + TimeOrNull(status.last_success) +
          ", \"last_new_frame\": " + TimeOrNull(status.last_new_frame) +
          ", \"consecutive_failures\": " + std::to_string(status.consecutive_failures) + ",\n";
  text += " \"newest_frame\": ";
  if (status.newest_frame) {
    text += "{\"address\": " + Text(status.newest_frame->address) +
            ", \"time\": " + TimeOrNull(status.newest_frame->time, true) +
            ", \"age_seconds\": " + NumberOrNull(status.newest_frame->age_seconds) + "}";
  } else {
    text += "null";
  }
  text += ",\n \"station\": ";
  text += status.station ? "{\"temperature\": " + Text(status.station->temperature) +
                               ", \"wind\": " + Text(status.station->wind) +
                               ", \"updated\": " + TimeOrNull(status.station->updated, true) + "}"
                         : "null";
  text += ",\n \"frames\": [";
  for (std::size_t i = 0; i < status.frames.size(); ++i) {
    const FrameRecord& frame = status.frames[i];
    text += (i == 0 ? "\n  " : ",\n  ");
    text += "{\"file\": " + Text(frame.file) + ", \"address\": " + Text(frame.address) +
            ", \"time\": " + TimeOrNull(FrameTimeFromAddress(frame.address), true) + "}";
  }
  text += "],\n \"archive\": [";
  for (std::size_t i = 0; i < status.archive.size(); ++i) {
    const ShownArchiveSlot& slot = status.archive[i];
    text += (i == 0 ? "\n  " : ",\n  ");
    text += "{\"slot\": " + Text(slot.tag) + ", \"frame\": " + Text(slot.frame) +
            ", \"overlay\": " + (slot.overlay.empty() ? "null" : Text(slot.overlay)) +
            ", \"time\": " + TimeOrNull(slot.slot_start) + "}";
  }
  text += "],\n \"stale\": " + std::string(status.stale ? "true" : "false") +
          ", \"stale_after_minutes\": " + std::to_string(status.stale_after_minutes) +
          ", \"not_before\": " + TimeOrNull(status.not_before) + "}\n";
  return text;
}

std::optional<RunStatus> ParseStatusJson(std::string_view text) {
  const std::optional<zub32::JsonValue> document = zub32::ParseJson(text);
  if (!document || document->type != zub32::JsonValue::Type::kObject) return std::nullopt;
  if (MemberText(*document, "program") != "VESK") return std::nullopt;
  const zub32::JsonValue* run = document->Member("run");
  const zub32::JsonValue* failures = document->Member("consecutive_failures");
  if (run == nullptr || run->type != zub32::JsonValue::Type::kObject || failures == nullptr ||
      !failures->AsInteger() || *failures->AsInteger() < 0) {
    return std::nullopt;
  }
  RunStatus status;
  status.version = MemberText(*document, "version");
  status.product = MemberText(*document, "product");
  status.consecutive_failures = *failures->AsInteger();
  std::optional<std::int64_t> started, finished;
  if (!ReadTime(*run, "started", started) || !ReadTime(*run, "finished", finished) ||
      !ReadTime(*document, "last_success", status.last_success) ||
      !ReadTime(*document, "last_new_frame", status.last_new_frame) ||
      !ReadTime(*document, "not_before", status.not_before)) {
    return std::nullopt;
  }
  status.started = started.value_or(0);
  status.finished = finished.value_or(0);
  status.duration_ms = MemberInteger(*run, "duration_ms");
  status.outcome = MemberText(*run, "outcome");
  status.frames_downloaded = MemberCount(*run, "frames_downloaded");
  status.overlay = MemberText(*run, "overlay");
  status.files_not_written = MemberCount(*run, "files_not_written");
  if (const zub32::JsonValue* failure = run->Member("failure");
      failure != nullptr && failure->type == zub32::JsonValue::Type::kObject) {
    status.failure = RunFailure{MemberText(*failure, "class"), MemberText(*failure, "message"),
                                MemberText(*failure, "function")};
  }
  if (const zub32::JsonValue* newest = document->Member("newest_frame");
      newest != nullptr && newest->type == zub32::JsonValue::Type::kObject) {
    NewestFrame frame{MemberText(*newest, "address"), std::nullopt, std::nullopt};
    if (!ReadTime(*newest, "time", frame.time, true)) return std::nullopt;
    if (const zub32::JsonValue* age = newest->Member("age_seconds"))
      frame.age_seconds = age->AsInteger();
    status.newest_frame = frame;
  }
  if (const zub32::JsonValue* frames = document->Member("frames")) {
    for (const zub32::JsonValue& item : frames->items) {
      const std::optional<std::string> file =
          item.Member("file") ? item.Member("file")->AsString() : std::nullopt;
      const std::optional<std::string> address =
          item.Member("address") ? item.Member("address")->AsString() : std::nullopt;
      if (!file || !address) return std::nullopt;
      status.frames.push_back({*file, *address});
    }
  }
  if (const zub32::JsonValue* stale = document->Member("stale")) {
    status.stale = stale->AsBool().value_or(false);
  }
  // A document of an earlier version has no StaleAfter; the default stands
  // in for it, as for a value out of range.
  if (const zub32::JsonValue* stale_after = document->Member("stale_after_minutes")) {
    const std::optional<std::int64_t> minutes = stale_after->AsInteger();
    if (minutes && *minutes >= 0 && *minutes <= zub32::kMaxStaleAfterMinutes)
      status.stale_after_minutes = static_cast<int>(*minutes);
  }
  return status;
}

std::string MetricsText(const RunStatus& status) {
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
              product, std::string(status.outcome == "failed" ? "0" : "1"));
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
  return text;
}

std::optional<std::int64_t> RetryAfterSeconds(std::string_view value, std::int64_t now) {
  value = http::TrimBlanks(value);
  if (value.empty()) return std::nullopt;
  std::int64_t seconds = 0;
  if (value.front() >= '0' && value.front() <= '9') {
    if (value.size() > kMaxRetryAfterDigits) return std::nullopt;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (error != std::errc() || end != value.data() + value.size()) return std::nullopt;
  } else {
    const std::optional<std::int64_t> when = http::ParseHttpDate(std::string(value));
    if (!when) return std::nullopt;
    const std::optional<std::int64_t> wait = CheckedSub(*when, now);
    if (!wait) return std::nullopt;
    seconds = *wait;
  }
  if (seconds <= 0) return std::nullopt;
  return std::min(seconds, kMaxBackOffSeconds);
}

StaleAlert DecideStaleAlert(bool stale, bool alert_on_record,
                            std::optional<std::int64_t> last_alert, std::int64_t now) {
  if (!stale) return alert_on_record ? StaleAlert::kFresh : StaleAlert::kNone;
  if (!alert_on_record || !last_alert || *last_alert > now) return StaleAlert::kStale;
  const std::optional<std::int64_t> since = CheckedSub(now, *last_alert);
  if (!since || *since >= kStaleAlertRepeatSeconds) return StaleAlert::kStale;
  return StaleAlert::kNone;
}

void CarryOverStatus(RunStatus& status, const std::optional<RunStatus>& previous,
                     const std::map<std::string, std::string>& frame_addresses, std::int64_t now) {
  if (previous) {
    status.last_success = previous->last_success;
    status.last_new_frame = previous->last_new_frame;
    status.consecutive_failures = previous->consecutive_failures;
  }
  if (status.outcome == "failed") {
    status.consecutive_failures =
        CheckedAdd(status.consecutive_failures, 1).value_or(status.consecutive_failures);
  } else {
    status.last_success = now;
    status.consecutive_failures = 0;
  }
  if (status.outcome == "new-frame") status.last_new_frame = now;
  // The frame files keep what the last runs put there, except those this run
  // replaced.
  std::map<std::string, std::string> addresses;
  if (previous) {
    for (const FrameRecord& frame : previous->frames) addresses[frame.file] = frame.address;
  }
  for (const auto& [file, address] : frame_addresses) addresses[file] = address;
  status.frames.clear();
  for (int index = kLoopEntries - 1; index >= 0; --index) {
    const std::string file = FrameFileName(index);
    if (const auto found = addresses.find(file); found != addresses.end()) {
      status.frames.push_back({file, found->second});
    }
  }
}

bool WaitTooFarAhead(std::int64_t not_before, std::int64_t now) {
  const std::optional<std::int64_t> ahead = CheckedSub(not_before, now);
  return ahead ? *ahead > kMaxBackOffSeconds : not_before > now;
}

std::optional<std::int64_t> PendingWait(std::optional<std::int64_t> not_before, std::int64_t now) {
  if (!not_before || *not_before <= now || WaitTooFarAhead(*not_before, now)) return std::nullopt;
  return not_before;
}

std::optional<RunStatus> ReadPreviousStatus() {
  if (!platform::EntryExists(kStatusFileName)) return std::nullopt;
  const std::optional<std::string> text =
      platform::ReadWholeFile(kStatusFileName, kMaxStatusFileBytes);
  if (!text) return std::nullopt;
  return ParseStatusJson(*text);
}

void PublishRunStatus(RunContext& run, const std::optional<RunStatus>& previous, bool failed,
                      std::int64_t started, std::int64_t duration_ms) {
  const std::int64_t now = UnixNow();
  RunStatus status;
  status.version = zub32::GlobalSettings.Version;
  status.product = run.config.product;
  status.started = started;
  status.finished = now;
  status.duration_ms = duration_ms;
  status.outcome = failed ? "failed" : (run.frame_changed ? "new-frame" : "no-change");
  status.frames_downloaded = run.frames_downloaded;
  if (run.overlay_drawn) status.overlay = *run.overlay_drawn ? "drawn" : "failed";
  if (failed) {
    status.failure =
        RunFailure{run.ExceptionRec.ClassName, run.ExceptionRec.Message,
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

  if (run.config.stale_after_minutes > 0) AlertOnStaleSource(status, now);
  status.files_not_written = static_cast<int>(run.write_failures.size());
  if (!run.config.metrics_file.empty()) {
    zub32::StringToFile(MetricsText(status), run.config.metrics_file, false, "");
    status.files_not_written = static_cast<int>(run.write_failures.size());
  }
  zub32::StringToFile(StatusJson(status), kStatusFileName, false, "");
}

StatusReport DescribeStatus(bool present, const std::optional<std::string>& text,
                            std::int64_t now) {
  StatusReport report;
  if (!present) {
    report.exit_code = 2;
    report.lines.push_back(std::string("VESK CRITICAL - no ") + kStatusFileName +
                           ": no run has finished here yet");
    return report;
  }
  const std::optional<RunStatus> status = text ? ParseStatusJson(*text) : std::nullopt;
  if (!status) {
    report.exit_code = 3;
    report.lines.push_back(std::string("VESK UNKNOWN - ") + kStatusFileName +
                           " cannot be read or is no status document");
    return report;
  }
  const std::int64_t failures = status->consecutive_failures;
  // A scheduler that stopped starting runs leaves a document that looks
  // healthy for ever, so the time since the last run's end counts too.
  // The stored StaleAfter is at most kMaxStaleAfterMinutes, so the limits
  // cannot overflow.
  const std::int64_t limit = std::int64_t{status->stale_after_minutes} * kSecondsPerMinute;
  std::optional<std::int64_t> run_age;
  if (limit > 0) {
    const std::optional<std::int64_t> since = CheckedSub(now, status->finished);
    if (since && *since > limit) run_age = since;
  }
  const bool run_age_critical = run_age && *run_age > limit * kCriticalRunAgeFactor;
  std::string state = "OK";
  std::string reason = "last run " + status->outcome;
  if (run_age && (run_age_critical || failures < kCriticalFailures)) {
    report.exit_code = run_age_critical ? 2 : 1;
    state = run_age_critical ? "CRITICAL" : "WARNING";
    reason = "no run for " + platform::DurationText(*run_age);
  } else if (failures >= kCriticalFailures) {
    report.exit_code = 2;
    state = "CRITICAL";
    reason = "the last " + std::to_string(failures) + " runs failed";
  } else if (failures > 0) {
    report.exit_code = 1;
    state = "WARNING";
    reason = failures == 1 ? "the last run failed" : "the last 2 runs failed";
  } else if (status->stale) {
    report.exit_code = 1;
    state = "WARNING";
    reason = "the radar source is stale";
  } else if (const std::optional<std::int64_t> wait = PendingWait(status->not_before, now)) {
    report.exit_code = 1;
    state = "WARNING";
    reason = "the radar source asked to wait until " + platform::FormatIsoLocal(*wait);
  } else {
    report.exit_code = 0;
  }
  report.lines.push_back("VESK " + state + " - " + reason);
  std::string run_line = "Last run: " + platform::FormatIsoLocal(status->finished) + ", " +
                         status->outcome + ", " + std::to_string(status->duration_ms) + " ms";
  if (status->failure) {
    run_line += " (" + status->failure->class_name + ": " +
                zub32::PrintableBytes(status->failure->message) + ")";
  }
  report.lines.push_back(run_line);
  if (status->newest_frame) {
    std::string line = "Newest frame: " + zub32::PrintableBytes(status->newest_frame->address);
    if (status->newest_frame->age_seconds) {
      // The age status.json holds grows until the next run; a stored age
      // too large for that leaves it out.
      const std::optional<std::int64_t> since = CheckedSub(now, status->finished);
      const std::optional<std::int64_t> age =
          since ? CheckedAdd(*status->newest_frame->age_seconds, *since) : std::nullopt;
      if (age) line += ", " + platform::AgeText(*age);
    }
    report.lines.push_back(line);
  } else {
    report.lines.push_back("Newest frame: none yet");
  }
  report.lines.push_back("Last success: " + (status->last_success
                                                 ? platform::FormatIsoLocal(*status->last_success)
                                                 : "never"));
  report.lines.push_back(std::string("Stale: ") + (status->stale ? "yes" : "no"));
  if (const std::optional<std::int64_t> wait = PendingWait(status->not_before, now)) {
    report.lines.push_back("Not before: " + platform::FormatIsoLocal(*wait) +
                           " (the radar source asked to wait)");
  } else if (status->not_before && WaitTooFarAhead(*status->not_before, now)) {
    report.lines.push_back("Not before: " + platform::FormatIsoLocal(*status->not_before) +
                           " (more than " + std::to_string(kMaxBackOffHours) +
                           " hours ahead: the next run ignores it)");
  } else {
    report.lines.push_back("Not before: none");
  }
  return report;
}

int RunStatusCommand() {
  const std::string directory = zub32::GetEXEPath("");
  const std::string path = directory + kStatusFileName;
  const bool present = platform::EntryExists(path);
  const std::optional<std::string> text =
      present ? platform::ReadWholeFile(path, kMaxStatusFileBytes) : std::nullopt;
  StatusReport report = DescribeStatus(present, text, UnixNow());
  // A missing file is often one looked for in the wrong place: a command
  // line without the VESK_HOME of the runs.
  if (!present) {
    const std::optional<std::string> home = zub32::HomeFromEnvironment();
    report.lines.push_back(std::string("Looked for ") + kStatusFileName + " in " + directory +
                           (home ? " (" + std::string(zub32::kHomeVariable) + "=" + *home + ")"
                                 : std::string(" (the executable's directory; ") +
                                       zub32::kHomeVariable + " is not set)"));
  }
  // The lines show addresses and messages a run took from the network.
  for (const std::string& line : report.lines)
    std::printf("%s\n", platform::ConsoleText(line).c_str());
  std::fflush(stdout);
  return report.exit_code;
}

std::optional<std::int64_t> PendingNotBefore(const std::string& directory, std::int64_t now) {
  const std::optional<std::string> text =
      platform::ReadWholeFile(directory + kStatusFileName, kMaxStatusFileBytes);
  if (!text) return std::nullopt;
  const std::optional<RunStatus> status = ParseStatusJson(*text);
  if (!status) return std::nullopt;
  return PendingWait(status->not_before, now);
}

}  // namespace refresh
