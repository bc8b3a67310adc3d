#include "site/StatusDocument.h"

#include <algorithm>
#include <array>
#include <limits>

#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "site/SiteNames.h"
#include "site/StatusMembers.h"
#include "zub32/Config.h"
#include "zub32/Json.h"

namespace site {
namespace {

constexpr std::size_t kStampDigits = 12;
// The times a status.json may hold, so that each is written again as a time
// the reader takes: those in UTC within the years 1 to 9999, local ones a day
// inside them, which leaves room for any local offset.
constexpr std::int64_t kEarliestUtcTime = -62135596800;    // 0001-01-01T00:00:00Z
constexpr std::int64_t kLatestUtcTime = 253402300799;      // 9999-12-31T23:59:59Z
constexpr std::int64_t kEarliestLocalTime = -62135510400;  // 0001-01-02T00:00:00Z
constexpr std::int64_t kLatestLocalTime = 253402214400;    // 9999-12-31T00:00:00Z

template <typename Enum>
struct EnumText {
  Enum value;
  const char* text;
};

// The one table of each enum's texts in status.json, for the writer and the
// reader alike.
constexpr std::array<EnumText<RunResult>, 3> kRunResultTexts = {{
    {RunResult::kNewFrame, "new-frame"},
    {RunResult::kNoChange, "no-change"},
    {RunResult::kFailed, "failed"},
}};
constexpr std::array<EnumText<OverlayState>, 3> kOverlayStateTexts = {{
    {OverlayState::kDrawn, "drawn"},
    {OverlayState::kFailed, "failed"},
    {OverlayState::kNotDrawn, "not-drawn"},
}};

template <typename Enum, std::size_t kSize>
const char* TextOf(const std::array<EnumText<Enum>, kSize>& table, Enum value) {
  for (const EnumText<Enum>& entry : table) {
    if (entry.value == value) return entry.text;
  }
  return table.front().text;
}

template <typename Enum, std::size_t kSize>
std::optional<Enum> ValueOf(const std::array<EnumText<Enum>, kSize>& table, std::string_view text) {
  for (const EnumText<Enum>& entry : table) {
    if (entry.text == text) return entry.value;
  }
  return std::nullopt;
}

// A text value of status.json, cut as every one is.
std::string Text(std::string_view bytes) { return zub32::JsonString(bytes, kMaxStatusTextBytes); }

std::string TimeOrNull(const std::optional<std::int64_t>& time, bool utc = false) {
  if (!time) return "null";
  return Text(utc ? platform::FormatIsoUtc(*time) : platform::FormatIsoLocal(*time));
}

// A member's name and colon as the document writes them: "\"time\": ".
std::string Key(std::string_view name) { return "\"" + std::string(name) + "\": "; }

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

// The newest frame and the frame files of a document into status; false
// when one of them is malformed.
bool ReadFrames(const zub32::JsonValue& document, RunStatus& status) {
  if (const zub32::JsonValue* newest = document.Member(member::kNewestFrame);
      newest != nullptr && newest->type == zub32::JsonValue::Type::kObject) {
    NewestFrame frame{MemberText(*newest, member::kAddress), std::nullopt, std::nullopt};
    if (!ReadTime(*newest, member::kTime, frame.time, true)) return false;
    if (const zub32::JsonValue* age = newest->Member(member::kAgeSeconds))
      frame.age_seconds = age->AsInteger();
    status.newest_frame = frame;
  }
  if (const zub32::JsonValue* frames = document.Member(member::kFrames)) {
    for (const zub32::JsonValue& item : frames->items) {
      const std::optional<std::string> file =
          item.Member(member::kFile) ? item.Member(member::kFile)->AsString() : std::nullopt;
      const std::optional<std::string> address =
          item.Member(member::kAddress) ? item.Member(member::kAddress)->AsString() : std::nullopt;
      if (!file || !address) return false;
      status.frames.push_back({*file, *address});
    }
  }
  return true;
}

// The nowcast member into status; false when it is malformed.
bool ReadNowcast(const zub32::JsonValue& document, RunStatus& status) {
  const zub32::JsonValue* nowcast = document.Member(member::kNowcast);
  if (nowcast == nullptr || nowcast->type != zub32::JsonValue::Type::kObject) return true;
  NowcastRecord record;
  if (!ReadTime(*nowcast, member::kIssued, record.issued, true)) return false;
  if (const zub32::JsonValue* frames = nowcast->Member(member::kFrames)) {
    for (const zub32::JsonValue& item : frames->items) {
      std::optional<std::int64_t> time;
      const zub32::JsonValue* lead = item.Member(member::kLeadMinutes);
      if (!ReadTime(item, member::kTime, time, true) || !time || lead == nullptr ||
          !lead->AsInteger() || *lead->AsInteger() < 0 ||
          *lead->AsInteger() > std::numeric_limits<int>::max()) {
        return false;
      }
      record.frames.push_back(
          {MemberText(item, member::kFile), static_cast<int>(*lead->AsInteger()), *time});
    }
  }
  auto integer = [](const zub32::JsonValue* value) {
    return value != nullptr ? value->AsInteger() : std::nullopt;
  };
  record.speed_pixels_per_hour = integer(nowcast->Member(member::kSpeedPixelsPerHour));
  record.direction_degrees = integer(nowcast->Member(member::kDirectionDegrees));
  record.reason = MemberText(*nowcast, member::kReason);
  record.rain_expected_in_minutes = integer(document.Member(member::kRainExpectedInMinutes));
  status.nowcast = std::move(record);
  return true;
}

}  // namespace

const char* RunResultText(RunResult outcome) { return TextOf(kRunResultTexts, outcome); }

const char* OverlayStateText(OverlayState state) { return TextOf(kOverlayStateTexts, state); }

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

namespace {

using namespace member;

// The "run" member's object.
std::string RunObject(const RunStatus& status) {
  std::string text = "{" + Key(kStarted) + TimeOrNull(status.started) + ", " + Key(kFinished) +
                     TimeOrNull(status.finished) + ", " + Key(kDurationMs) +
                     std::to_string(status.duration_ms) + ",\n         " + Key(kOutcome) +
                     Text(RunResultText(status.outcome)) + ", " + Key(kFramesDownloaded) +
                     std::to_string(status.frames_downloaded) + ", " + Key(kOverlay) +
                     Text(OverlayStateText(status.overlay)) + ", " + Key(kFilesNotWritten) +
                     std::to_string(status.files_not_written) + ",\n         " + Key(kFailure);
  if (status.failure) {
    text += "{" + Key(kClass) + Text(status.failure->class_name) + ", " + Key(kMessage) +
            Text(status.failure->message) + ", " + Key(kFunction) + Text(status.failure->function) +
            "}";
  } else {
    text += "null";
  }
  return text + "}";
}

// The "newest_frame" and "station" members' values, null when absent.
std::string NewestFrameObject(const std::optional<NewestFrame>& newest) {
  if (!newest) return "null";
  return "{" + Key(kAddress) + Text(newest->address) + ", " + Key(kTime) +
         TimeOrNull(newest->time, true) + ", " + Key(kAgeSeconds) +
         NumberOrNull(newest->age_seconds) + "}";
}

std::string StationObject(const std::optional<StationValues>& station) {
  if (!station) return "null";
  return "{" + Key(kTemperature) + Text(station->temperature) + ", " + Key(kWind) +
         Text(station->wind) + ", " + Key(kUpdated) + TimeOrNull(station->updated, true) + "}";
}

// An array of one object a line, each written by item.
template <typename Item, typename Write>
std::string ArrayOf(const std::vector<Item>& items, Write write) {
  std::string text = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    text += (i == 0 ? "\n  " : ",\n  ");
    text += write(items[i]);
  }
  return text + "]";
}

std::string FrameObject(const FrameRecord& frame) {
  return "{" + Key(kFile) + Text(frame.file) + ", " + Key(kOverlay) +
         (frame.overlay.empty() ? "null" : Text(frame.overlay)) + ", " + Key(kAddress) +
         Text(frame.address) + ", " + Key(kTime) +
         TimeOrNull(FrameTimeFromAddress(frame.address), true) + "}";
}

std::string SlotObject(const ShownArchiveSlot& slot) {
  return "{" + Key(kSlot) + Text(slot.tag) + ", " + Key(kFrame) + Text(slot.frame) + ", " +
         Key(kOverlay) + (slot.overlay.empty() ? "null" : Text(slot.overlay)) + ", " + Key(kTime) +
         TimeOrNull(slot.slot_start) + "}";
}

// The "nowcast" member's value, null when the document has none.
std::string NowcastObject(const std::optional<NowcastRecord>& nowcast) {
  if (!nowcast) return "null";
  const std::string frames = ArrayOf(nowcast->frames, [](const ForecastFrame& frame) {
    return "{" + Key(kFile) + Text(frame.file) + ", " + Key(kLeadMinutes) +
           std::to_string(frame.lead_minutes) + ", " + Key(kTime) + TimeOrNull(frame.time, true) +
           "}";
  });
  return "{" + Key(kIssued) + TimeOrNull(nowcast->issued, true) + ", " + Key(kFrames) + frames +
         ",\n  " + Key(kSpeedPixelsPerHour) + NumberOrNull(nowcast->speed_pixels_per_hour) + ", " +
         Key(kDirectionDegrees) + NumberOrNull(nowcast->direction_degrees) + ", " + Key(kReason) +
         (nowcast->reason.empty() ? "null" : Text(nowcast->reason)) + "}";
}

}  // namespace

std::string StatusJson(const RunStatus& status) {
  std::string text = "{" + Key(kProgram) + "\"VESK\", " + Key(kVersion) + Text(status.version) +
                     ", " + Key(kProduct) + Text(status.product) + ",\n";
  text += " " + Key(kRun) + RunObject(status) + ",\n";
  text += " " + Key(kLastSuccess) + TimeOrNull(status.last_success) + ", " + Key(kLastNewFrame) +
          TimeOrNull(status.last_new_frame) + ", " + Key(kConsecutiveFailures) +
          std::to_string(status.consecutive_failures) + ",\n";
  text += " " + Key(kNewestFrame) + NewestFrameObject(status.newest_frame);
  text += ",\n " + Key(kStation) + StationObject(status.station);
  text += ",\n " + Key(kFrames) + ArrayOf(status.frames, FrameObject);
  text += ",\n " + Key(kArchive) + ArrayOf(status.archive, SlotObject);
  text += ",\n " + Key(kStale) + std::string(status.stale ? "true" : "false") + ", " +
          Key(kStaleAfterMinutes) + std::to_string(status.stale_after_minutes) + ", " +
          Key(kNotBefore) + TimeOrNull(status.not_before) + ",\n " + Key(kNowcast) +
          NowcastObject(status.nowcast);
  text += ", " + Key(kRainExpectedInMinutes) +
          NumberOrNull(status.nowcast ? status.nowcast->rain_expected_in_minutes : std::nullopt) +
          "}\n";
  return text;
}

std::optional<RunStatus> ParseStatusJson(std::string_view text) {
  const std::optional<zub32::JsonValue> document = zub32::ParseJson(text);
  if (!document || document->type != zub32::JsonValue::Type::kObject) return std::nullopt;
  if (MemberText(*document, member::kProgram) != "VESK") return std::nullopt;
  const zub32::JsonValue* run = document->Member(member::kRun);
  const zub32::JsonValue* failures = document->Member(member::kConsecutiveFailures);
  if (run == nullptr || run->type != zub32::JsonValue::Type::kObject || failures == nullptr ||
      !failures->AsInteger() || *failures->AsInteger() < 0) {
    return std::nullopt;
  }
  RunStatus status;
  status.version = MemberText(*document, member::kVersion);
  status.product = MemberText(*document, member::kProduct);
  status.consecutive_failures = *failures->AsInteger();
  std::optional<std::int64_t> started, finished;
  if (!ReadTime(*run, member::kStarted, started) || !ReadTime(*run, member::kFinished, finished) ||
      !ReadTime(*document, member::kLastSuccess, status.last_success) ||
      !ReadTime(*document, member::kLastNewFrame, status.last_new_frame) ||
      !ReadTime(*document, member::kNotBefore, status.not_before)) {
    return std::nullopt;
  }
  status.started = started.value_or(0);
  status.finished = finished.value_or(0);
  status.duration_ms = MemberInteger(*run, member::kDurationMs);
  const std::optional<RunResult> outcome =
      ValueOf(kRunResultTexts, MemberText(*run, member::kOutcome));
  if (!outcome) return std::nullopt;
  status.outcome = *outcome;
  status.frames_downloaded = MemberCount(*run, member::kFramesDownloaded);
  status.overlay = ValueOf(kOverlayStateTexts, MemberText(*run, member::kOverlay))
                       .value_or(OverlayState::kNotDrawn);
  status.files_not_written = MemberCount(*run, member::kFilesNotWritten);
  if (const zub32::JsonValue* failure = run->Member(member::kFailure);
      failure != nullptr && failure->type == zub32::JsonValue::Type::kObject) {
    status.failure =
        RunFailure{MemberText(*failure, member::kClass), MemberText(*failure, member::kMessage),
                   MemberText(*failure, member::kFunction)};
  }
  if (!ReadFrames(*document, status) || !ReadNowcast(*document, status)) return std::nullopt;
  if (const zub32::JsonValue* stale = document->Member(member::kStale)) {
    status.stale = stale->AsBool().value_or(false);
  }
  // A document of an earlier version has no StaleAfter; the default stands
  // in for it, as for a value out of range.
  if (const zub32::JsonValue* stale_after = document->Member(member::kStaleAfterMinutes)) {
    const std::optional<std::int64_t> minutes = stale_after->AsInteger();
    if (minutes && *minutes >= 0 && *minutes <= zub32::kMaxStaleAfterMinutes)
      status.stale_after_minutes = static_cast<int>(*minutes);
  }
  return status;
}

std::optional<RunStatus> ReadPreviousStatus() {
  if (!platform::EntryExists(kStatusFileName)) return std::nullopt;
  const std::optional<std::string> text =
      platform::ReadWholeFile(kStatusFileName, kMaxStatusFileBytes);
  if (!text) return std::nullopt;
  return ParseStatusJson(*text);
}

}  // namespace site
