#include "refresh/StatusCommand.h"

#include <cstdio>

#include "platform/CheckedArithmetic.h"
#include "platform/Console.h"
#include "platform/DateTime.h"
#include "platform/DurationText.h"
#include "platform/FileSystem.h"
#include "refresh/BackOff.h"
#include "site/SiteNames.h"
#include "site/StatusDocument.h"
#include "zub32/Config.h"
#include "zub32/PrintableText.h"
#include "zub32/SystemInfo.h"

namespace refresh {
namespace {

constexpr std::int64_t kSecondsPerMinute = 60;
// The failures in a row from which vesk --status is critical.
constexpr std::int64_t kCriticalFailures = 3;
// No run for this many times StaleAfter makes vesk --status critical.
constexpr std::int64_t kCriticalRunAgeFactor = 3;

// The first line of the report, the state and its reason, and its exit
// code.
std::string VerdictLine(const site::RunStatus& status, std::int64_t now, int& exit_code) {
  const std::int64_t failures = status.consecutive_failures;
  // A scheduler that stopped starting runs leaves a document that looks
  // healthy for ever, so the time since the last run's end counts too.
  // The stored StaleAfter is at most kMaxStaleAfterMinutes, so the limits
  // cannot overflow.
  const std::int64_t limit = std::int64_t{status.stale_after_minutes} * kSecondsPerMinute;
  std::optional<std::int64_t> run_age;
  if (limit > 0) {
    const std::optional<std::int64_t> since = platform::CheckedSub(now, status.finished);
    if (since && *since > limit) run_age = since;
  }
  const bool run_age_critical = run_age && *run_age > limit * kCriticalRunAgeFactor;
  std::string state = "OK";
  std::string reason = std::string("last run ") + site::RunResultText(status.outcome);
  if (run_age && (run_age_critical || failures < kCriticalFailures)) {
    exit_code = run_age_critical ? 2 : 1;
    state = run_age_critical ? "CRITICAL" : "WARNING";
    reason = "no run for " + platform::DurationText(*run_age);
  } else if (failures >= kCriticalFailures) {
    exit_code = 2;
    state = "CRITICAL";
    reason = "the last " + std::to_string(failures) + " runs failed";
  } else if (failures > 0) {
    exit_code = 1;
    state = "WARNING";
    reason = failures == 1 ? "the last run failed" : "the last 2 runs failed";
  } else if (status.stale) {
    exit_code = 1;
    state = "WARNING";
    reason = "the radar source is stale";
  } else if (const std::optional<std::int64_t> wait = PendingWait(status.not_before, now)) {
    exit_code = 1;
    state = "WARNING";
    reason = "the radar source asked to wait until " + platform::FormatIsoLocal(*wait);
  } else {
    exit_code = 0;
  }
  return "VESK " + state + " - " + reason;
}

// The lines after the first: the last run, the newest frame, the last
// success, staleness and the wait.
void AppendDetailLines(const site::RunStatus& status, std::int64_t now,
                       std::vector<std::string>& lines) {
  std::string run_line = "Last run: " + platform::FormatIsoLocal(status.finished) + ", " +
                         site::RunResultText(status.outcome) + ", " +
                         std::to_string(status.duration_ms) + " ms";
  if (status.failure) {
    run_line += " (" + status.failure->class_name + ": " +
                zub32::PrintableBytes(status.failure->message) + ")";
  }
  lines.push_back(run_line);
  if (status.newest_frame) {
    std::string line = "Newest frame: " + zub32::PrintableBytes(status.newest_frame->address);
    if (status.newest_frame->age_seconds) {
      // The age status.json holds grows until the next run; a stored age
      // too large for that leaves it out.
      const std::optional<std::int64_t> since = platform::CheckedSub(now, status.finished);
      const std::optional<std::int64_t> age =
          since ? platform::CheckedAdd(*status.newest_frame->age_seconds, *since) : std::nullopt;
      if (age) line += ", " + platform::AgeText(*age);
    }
    lines.push_back(line);
  } else {
    lines.push_back("Newest frame: none yet");
  }
  lines.push_back("Last success: " +
                  (status.last_success ? platform::FormatIsoLocal(*status.last_success) : "never"));
  lines.push_back(std::string("Stale: ") + (status.stale ? "yes" : "no"));
  if (const std::optional<std::int64_t> wait = PendingWait(status.not_before, now)) {
    lines.push_back("Not before: " + platform::FormatIsoLocal(*wait) +
                    " (the radar source asked to wait)");
  } else if (status.not_before && WaitTooFarAhead(*status.not_before, now)) {
    lines.push_back("Not before: " + platform::FormatIsoLocal(*status.not_before) + " (more than " +
                    std::to_string(kMaxBackOffHours) + " hours ahead: the next run ignores it)");
  } else {
    lines.push_back("Not before: none");
  }
}

}  // namespace

StatusReport DescribeStatus(bool present, const std::optional<std::string>& text,
                            std::int64_t now) {
  StatusReport report;
  if (!present) {
    report.exit_code = 2;
    report.lines.push_back(std::string("VESK CRITICAL - no ") + site::kStatusFileName +
                           ": no run has finished here yet");
    return report;
  }
  const std::optional<site::RunStatus> status = text ? site::ParseStatusJson(*text) : std::nullopt;
  if (!status) {
    report.exit_code = 3;
    report.lines.push_back(std::string("VESK UNKNOWN - ") + site::kStatusFileName +
                           " cannot be read or is no status document");
    return report;
  }
  report.lines.push_back(VerdictLine(*status, now, report.exit_code));
  AppendDetailLines(*status, now, report.lines);
  return report;
}

int RunStatusCommand() {
  const std::string directory = zub32::GetEXEPath("");
  const std::string path = directory + site::kStatusFileName;
  const bool present = platform::EntryExists(path);
  const std::optional<std::string> text =
      present ? platform::ReadWholeFile(path, site::kMaxStatusFileBytes) : std::nullopt;
  StatusReport report = DescribeStatus(present, text, platform::UnixNow());
  // A missing file is often one looked for in the wrong place: a command
  // line without the VESK_HOME of the runs.
  if (!present) {
    const std::optional<std::string> home = zub32::HomeFromEnvironment();
    report.lines.push_back(std::string("Looked for ") + site::kStatusFileName + " in " + directory +
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

}  // namespace refresh
