// vesk --status: what the status.json of the program directory says about
// the runs, for a person or a monitoring plugin.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace refresh {

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

}  // namespace refresh
