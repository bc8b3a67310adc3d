#include "refresh/RainAlert.h"

#include <string>

#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "refresh/StaleAlert.h"
#include "zub32/ExceptionReport.h"
#include "zub32/Records.h"
#include "zub32/TextFiles.h"

namespace refresh {

void AlertOnRain(const site::RunStatus& status, bool station_set, std::int64_t now) {
  const bool rain =
      station_set && status.nowcast && status.nowcast->rain_expected_in_minutes.has_value();
  const std::int64_t minutes = rain ? *status.nowcast->rain_expected_in_minutes : 0;
  const bool on_record = platform::EntryExists(kRainAlertFileName);
  const std::optional<std::int64_t> last_alert =
      on_record ? platform::ParseIsoTime(zub32::FileToBin(kRainAlertFileName)) : std::nullopt;
  const StaleAlert alert = DecideStaleAlert(rain, on_record, last_alert, now);
  if (alert == StaleAlert::kNone) return;
  const std::string product = "Product=" + status.product;
  if (alert == StaleAlert::kStale) {
    zub32::PostRunSyslogLine(kRainSyslogCode,
                             "RAIN:" + product + " In=" + std::to_string(minutes) + "min");
    zub32::StringToFile(platform::FormatIsoLocal(now), kRainAlertFileName, false, "");
  } else {
    zub32::PostRunSyslogLine(kDrySyslogCode, "DRY:" + product);
    const platform::FileResult removed = platform::RemoveEntry(kRainAlertFileName);
    if (!removed.ok()) zub32::NoteWriteFailure(removed.reason());
  }
}

}  // namespace refresh
