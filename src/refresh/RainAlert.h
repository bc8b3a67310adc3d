// The station's rain warning in the syslog: one RAIN line when the nowcast
// first forecasts rain at the station (again at most once an hour while it
// does), one DRY line when it no longer does.
#pragma once

#include <cstdint>

#include "site/StatusDocument.h"

namespace refresh {

// The time of the last RAIN syslog line, while rain is forecast.
inline constexpr const char* kRainAlertFileName = "rain-alert.txt";
// The codes of the RAIN and DRY syslog lines: priority 4 (warning) and 6
// (informational).
inline constexpr std::int32_t kRainSyslogCode = 40013;
inline constexpr std::int32_t kDrySyslogCode = 60014;

// Sends the line the status calls for, as the stale alert decides its own
// (DecideStaleAlert), with the record of the last RAIN line in
// kRainAlertFileName. Without a station nothing is forecast for it, so a
// RAIN on record is cleared.
void AlertOnRain(const site::RunStatus& status, bool station_set, std::int64_t now);

}  // namespace refresh
