#include "refresh/StaleAlert.h"

#include <string>

#include "platform/CheckedArithmetic.h"
#include "platform/Console.h"
#include "platform/DateTime.h"
#include "platform/DurationText.h"
#include "platform/FileSystem.h"
#include "zub32/ExceptionReport.h"
#include "zub32/PrintableText.h"
#include "zub32/Records.h"
#include "zub32/TextFiles.h"

namespace refresh {
namespace {

constexpr std::int64_t kSecondsPerMinute = 60;

}  // namespace

StaleAlert DecideStaleAlert(bool stale, bool alert_on_record,
                            std::optional<std::int64_t> last_alert, std::int64_t now) {
  if (!stale) return alert_on_record ? StaleAlert::kFresh : StaleAlert::kNone;
  if (!alert_on_record || !last_alert || *last_alert > now) return StaleAlert::kStale;
  const std::optional<std::int64_t> since = platform::CheckedSub(now, *last_alert);
  if (!since || *since >= kStaleAlertRepeatSeconds) return StaleAlert::kStale;
  return StaleAlert::kNone;
}

void AnnounceCondition(bool holds, const ConditionLines& lines, std::int64_t now) {
  const bool on_record = platform::EntryExists(lines.record_file);
  const std::optional<std::int64_t> last_alert =
      on_record ? platform::ParseIsoTime(zub32::FileToBin(lines.record_file)) : std::nullopt;
  const StaleAlert alert = DecideStaleAlert(holds, on_record, last_alert, now);
  if (alert == StaleAlert::kStale) {
    zub32::PostRunSyslogLine(lines.on_code, lines.on_line);
    zub32::StringToFile(platform::FormatIsoLocal(now), lines.record_file, false, "");
  } else if (alert == StaleAlert::kFresh) {
    zub32::PostRunSyslogLine(lines.off_code, lines.off_line);
    const platform::FileResult removed = platform::RemoveEntry(lines.record_file);
    if (!removed.ok()) zub32::NoteWriteFailure(removed.reason());
  }
}

void AlertOnStaleSource(const site::RunStatus& status, std::int64_t now) {
  if (!status.newest_frame || !status.newest_frame->age_seconds) return;
  const site::NewestFrame& newest = *status.newest_frame;
  const std::int64_t minutes = *newest.age_seconds / kSecondsPerMinute;
  if (status.stale) {
    platform::WriteLine("Radar source stale: newest frame " + newest.address + " is " +
                        platform::AgeText(*newest.age_seconds));
  }
  const std::string details = "Product=" + status.product + " Age=" + std::to_string(minutes) +
                              "min Newest=" + zub32::PrintableBytes(newest.address);
  AnnounceCondition(status.stale,
                    {kStaleAlertFileName, kStaleSyslogCode, "STALE:" + details, kFreshSyslogCode,
                     "FRESH:" + details},
                    now);
}

}  // namespace refresh
