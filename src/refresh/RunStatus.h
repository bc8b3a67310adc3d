// What a run that holds the lock leaves for its operators besides its
// console lines: status.json, the metrics file and the stale source alert.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "refresh/RunContext.h"
#include "site/StatusDocument.h"

namespace refresh {

// What status, whose outcome is set, carries over from the previous run:
// the last success and last new frame, the failures in a row (saturating),
// and the frame files' addresses, which frame_addresses (this run's) update.
void CarryOverStatus(site::RunStatus& status, const std::optional<site::RunStatus>& previous,
                     const std::map<std::string, std::string>& frame_addresses, std::int64_t now);

// The end of a run that holds the lock: finds the newest frame and its age,
// prints and sends the stale alert, then replaces the metrics file (when
// configured) and status.json. Failures to write are noted as the run's
// other writes are.
void PublishRunStatus(RunContext& run, const std::optional<site::RunStatus>& previous, bool failed,
                      std::int64_t started, std::int64_t duration_ms);

}  // namespace refresh
