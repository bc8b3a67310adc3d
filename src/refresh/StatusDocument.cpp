#include "refresh/StatusDocument.h"

#include <algorithm>
#include <array>
#include <limits>

#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "site/SiteNames.h"
#include "zub32/Config.h"
#include "zub32/Json.h"

namespace refresh {
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
  if (const zub32::JsonValue* newest = document.Member("newest_frame");
      newest != nullptr && newest->type == zub32::JsonValue::Type::kObject) {
    NewestFrame frame{MemberText(*newest, "address"), std::nullopt, std::nullopt};
    if (!ReadTime(*newest, "time", frame.time, true)) return false;
    if (const zub32::JsonValue* age = newest->Member("age_seconds"))
      frame.age_seconds = age->AsInteger();
    status.newest_frame = frame;
  }
  if (const zub32::JsonValue* frames = document.Member("frames")) {
    for (const zub32::JsonValue& item : frames->items) {
      const std::optional<std::string> file =
          item.Member("file") ? item.Member("file")->AsString() : std::nullopt;
      const std::optional<std::string> address =
          item.Member("address") ? item.Member("address")->AsString() : std::nullopt;
      if (!file || !address) return false;
      status.frames.push_back({*file, *address});
    }
  }
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

std::string StatusJson(const RunStatus& status) {
  std::string text = "{\"program\": \"VESK\", \"version\": " + Text(status.version) +
                     ", \"product\": " + Text(status.product) + ",\n";
  text += " \"run\": {\"started\": " + TimeOrNull(status.started) +
          ", \"finished\": " + TimeOrNull(status.finished) +
          ", \"duration_ms\": " + std::to_string(status.duration_ms) +
          ",\n         \"outcome\": " + Text(RunResultText(status.outcome)) +
          ", \"frames_downloaded\": " + std::to_string(status.frames_downloaded) +
          ", \"overlay\": " + Text(OverlayStateText(status.overlay)) +
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
    text += "{\"file\": " + Text(frame.file) +
            ", \"overlay\": " + (frame.overlay.empty() ? "null" : Text(frame.overlay)) +
            ", \"address\": " + Text(frame.address) +
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
  const std::optional<RunResult> outcome = ValueOf(kRunResultTexts, MemberText(*run, "outcome"));
  if (!outcome) return std::nullopt;
  status.outcome = *outcome;
  status.frames_downloaded = MemberCount(*run, "frames_downloaded");
  status.overlay =
      ValueOf(kOverlayStateTexts, MemberText(*run, "overlay")).value_or(OverlayState::kNotDrawn);
  status.files_not_written = MemberCount(*run, "files_not_written");
  if (const zub32::JsonValue* failure = run->Member("failure");
      failure != nullptr && failure->type == zub32::JsonValue::Type::kObject) {
    status.failure = RunFailure{MemberText(*failure, "class"), MemberText(*failure, "message"),
                                MemberText(*failure, "function")};
  }
  if (!ReadFrames(*document, status)) return std::nullopt;
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

std::optional<RunStatus> ReadPreviousStatus() {
  if (!platform::EntryExists(site::kStatusFileName)) return std::nullopt;
  const std::optional<std::string> text =
      platform::ReadWholeFile(site::kStatusFileName, kMaxStatusFileBytes);
  if (!text) return std::nullopt;
  return ParseStatusJson(*text);
}

}  // namespace refresh
