// The stale source alert: the console line of a run whose newest frame is
// older than StaleAfter, and the STALE and FRESH syslog lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "site/StatusDocument.h"

namespace refresh {

// The time of the last STALE syslog line, while the source stays stale.
inline constexpr const char* kStaleAlertFileName = "stale-alert.txt";
// A stale source is announced again after this long.
inline constexpr std::int64_t kStaleAlertRepeatSeconds = 3600;
// The codes of the STALE and FRESH syslog lines: priority 4 (warning) and 6
// (informational).
inline constexpr std::int32_t kStaleSyslogCode = 40011;
inline constexpr std::int32_t kFreshSyslogCode = 60012;

enum class StaleAlert { kNone, kStale, kFresh };

// Which syslog line a run sends: STALE on the first stale run and then once
// every kStaleAlertRepeatSeconds, FRESH on the first fresh run after one.
// alert_on_record tells whether a STALE line is on record, last_alert when
// it went out (nullopt when that cannot be read).
StaleAlert DecideStaleAlert(bool stale, bool alert_on_record,
                            std::optional<std::int64_t> last_alert, std::int64_t now);

// One condition's syslog lines: on_line (with on_code) when DecideStaleAlert
// says to announce it, off_line once it clears; record_file keeps when it was
// last announced while it lasts.
struct ConditionLines {
  const char* record_file;
  std::int32_t on_code;
  std::string on_line;
  std::int32_t off_code;
  std::string off_line;
};
void AnnounceCondition(bool holds, const ConditionLines& lines, std::int64_t now);

// The stale check of a run whose status knows its newest frame: the console
// line, and the syslog line as DecideStaleAlert says, with the record of the
// last STALE line kept in kStaleAlertFileName.
void AlertOnStaleSource(const site::RunStatus& status, std::int64_t now);

}  // namespace refresh
