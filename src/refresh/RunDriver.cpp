#include "refresh/RunDriver.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <optional>
#include <span>
#include <string_view>

#include "http/RetryAfter.h"
#include "overlay/Generate_SESOverlay.h"
#include "platform/AsciiText.h"
#include "platform/Console.h"
#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/FileLock.h"
#include "platform/FileSystem.h"
#include "refresh/BackOff.h"
#include "refresh/InstallationCheck.h"
#include "refresh/LoopPage24.h"
#include "refresh/LoopPage30.h"
#include "refresh/LoopPicture.h"
#include "refresh/MapLayers.h"
#include "refresh/RadarFrameUpdate.h"
#include "refresh/RunStatus.h"
#include "refresh/RunSummary.h"
#include "refresh/StatusCommand.h"
#include "refresh/ViewerPage.h"
#include "zub32/Config.h"
#include "zub32/ExceptionReport.h"
#include "zub32/Records.h"
#include "zub32/SystemInfo.h"
#include "zub32/TextFiles.h"

namespace refresh {
namespace {

constexpr const char* kLockFileName = "vesk.lock";

bool VeskHomeIsSet() { return zub32::HomeFromEnvironment().has_value(); }

// The top-level handler: the run's remaining steps are skipped, the failure
// is reported with the driver's name and marker, and the run still ends
// normally.
void ReportRunFailure(RunContext& run, const std::exception& error) {
  try {
    run.ExceptionRec.Function = "Main()";
    zub32::DescribeException(error, run.ExceptionRec.ClassName, run.ExceptionRec.Message);
    run.ExceptionRec.Trace = run.Log.Trace;
    run.ExceptionRec.Beep = true;
    run.ExceptionRec.FileName = zub32::GlobalSettings.ExceptionFileName;
    run.ExceptionRec.FileName = zub32::SaveExceptionRecAsXML(run.ExceptionRec);
    run.failure_report = zub32::LastReportOutcome();
  } catch (const std::exception&) {
    // The report writer catches its own failures; nothing more can be done
    // here if reporting itself runs out of memory.
  }
}

// Takes the run lock in the program directory for the rest of the run. False
// when another run holds it: a scheduler started this run while the last one
// was still going, and this one leaves every file to it. A lock file that
// cannot be locked (a link or a directory at its name, a file system
// without locks) does not stop the run.
bool TakeRunLock(std::optional<platform::FileLock>& lock) {
  lock.emplace(platform::FileLock::TryExclusive(kLockFileName));
  switch (lock->GetState()) {
    case platform::FileLock::State::kAcquired:
      return true;
    case platform::FileLock::State::kHeldElsewhere:
      platform::WriteLine(std::string("Another run holds ") + kLockFileName +
                          "; this run does nothing.");
      return false;
    case platform::FileLock::State::kUnavailable:
      break;
  }
  platform::WriteLine(std::string("Cannot lock ") + kLockFileName + " (" + lock->Reason() +
                      "); this run goes on without the lock.");
  return true;
}

// Why no file can be created in the program directory, or nullopt when one
// can: an empty file is staged beside the lock file and discarded. The lock
// file alone proves nothing, since one that exists is opened for reading.
std::optional<std::string> FileCreationProblem() {
  const platform::StagedFile probe =
      platform::StagedFile::Write(kLockFileName, {}, platform::Flush::kLater);
  if (probe.Reason().empty()) return std::nullopt;
  return probe.ErrorNumber() != 0 ? platform::SystemErrorText(probe.ErrorNumber()) : probe.Reason();
}

// The files the run could not write are reported together once its steps
// are done, so that a read-only directory or a full disk shows in the report
// or, where that cannot be written or holds an earlier failure, in its
// syslog line. Each file was named on the console when it failed.
void ReportWriteFailures(RunContext& run) {
  try {
    const std::vector<std::string> failures = run.write_failures;
    if (failures.empty()) return;
    zub32::tExceptionRec rec;
    rec.Function = "Main()";
    rec.ClassName = "EFCreateError";
    rec.Message = std::to_string(failures.size()) +
                  (failures.size() == 1 ? " file was" : " files were") + " not written: ";
    for (std::size_t i = 0; i < failures.size(); ++i) {
      if (i > 0) rec.Message += "; ";
      rec.Message += failures[i];
    }
    rec.Trace = run.Log.Trace;
    rec.Beep = true;
    rec.FileName = zub32::GlobalSettings.ExceptionFileName;
    zub32::SaveExceptionRecAsXML(rec);
    run.write_report = zub32::LastReportOutcome();
  } catch (const std::exception&) {
    // As in the top-level handler: nothing more can be done without memory.
  }
}

// The run's last line. It goes after everything the run printed, a caught
// failure included; standard output that cannot take it changes nothing.
void PrintSummary(const RunContext& run, bool skipped, bool failed,
                  std::chrono::steady_clock::time_point started) {
  RunOutcome outcome;
  outcome.skipped = skipped;
  outcome.frames_downloaded = run.frames_downloaded;
  if (run.overlay_drawn) {
    outcome.overlay = *run.overlay_drawn ? OverlayOutcome::kDrawn : OverlayOutcome::kFailed;
  }
  outcome.failed = failed;
  outcome.failure_class = run.ExceptionRec.ClassName;
  outcome.failure_message = run.ExceptionRec.Message;
  outcome.files_not_written = static_cast<int>(run.write_failures.size());
  outcome.layers_not_fetched = run.layers_not_fetched;
  outcome.loop_picture_failed = run.loop_picture_failed;
  outcome.failure_report = run.failure_report;
  outcome.overlay_report = run.overlay_report;
  outcome.write_report = run.write_report;
  outcome.elapsed_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();
  try {
    platform::WriteLine(SummaryLine(outcome));
  } catch (const std::exception&) {
    // The progress lines before it could not be written either; the report
    // holds what matters.
  }
}

// The options a first argument may be, and the one that may follow --check.
constexpr std::string_view kFirstOptions[] = {"--check", "--status", "--help", "-h", "--version"};
constexpr std::string_view kCheckOptions[] = {"--online"};

// Names the option, and the known one it is likely a typo of, with the usage
// on standard error; nothing is run.
int RefuseOption(const std::string& option, std::span<const std::string_view> known) {
  std::string text = "vesk: unknown option \"" + option + "\"";
  const std::string closest = zub32::ClosestName(option, known);
  if (!closest.empty()) text += "; did you mean " + closest + "?";
  std::fputs((text + "\n" + UsageText()).c_str(), stderr);
  return kExitUsage;
}

// A 429 or 503 answer of the radar source with Retry-After asks the runs to
// wait; the wait replaces one asked for earlier.
void NoteBackOff(RunContext& run, const std::exception& error) {
  const auto* answer = dynamic_cast<const platform::EIdHTTPProtocolException*>(&error);
  if (answer == nullptr || !run.radar_client) return;
  if (answer->ErrorCode() != 429 && answer->ErrorCode() != 503) return;
  const std::int64_t now = platform::UnixNow();
  const std::optional<std::int64_t> wait = http::RetryAfterSeconds(
      run.radar_client->Response().RawHeaders.Values("Retry-After"), now, kMaxBackOffSeconds);
  if (wait) run.not_before = now + *wait;
}

// The radar frame update, unless the radar source asked to wait: then the
// run sends it nothing and has no new frame. A stored wait farther ahead
// than any answer asks for would keep the runs from the source for good, so
// it is ignored.
bool UpdateRadarFrames(RunContext& run) {
  const std::int64_t now = platform::UnixNow();
  if (run.not_before && WaitTooFarAhead(*run.not_before, now)) {
    platform::WriteLine("Radar source wait until " + platform::FormatIsoLocal(*run.not_before) +
                        " in " + kStatusFileName + " lies more than " +
                        std::to_string(kMaxBackOffHours) + " hours ahead; this run ignores it.");
    run.not_before.reset();
  }
  if (run.not_before && *run.not_before > now) {
    platform::WriteLine("Radar source asked to wait until " +
                        platform::FormatIsoLocal(*run.not_before) + "; this run fetches nothing.");
    return false;
  }
  run.not_before.reset();
  return RadarFrameUpdate(run);
}

std::int64_t ElapsedMs(std::chrono::steady_clock::time_point started) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               started)
      .count();
}

// Writes status.json and the metrics; a failure of its own (memory) must not
// keep the run from its summary.
void PublishStatus(RunContext& run, const std::optional<RunStatus>& previous, bool failed,
                   std::chrono::system_clock::time_point started_on_clock,
                   std::chrono::steady_clock::time_point started) {
  try {
    PublishRunStatus(run, previous, failed, platform::UnixSeconds(started_on_clock),
                     ElapsedMs(started));
  } catch (const std::exception&) {
    // As in the top-level handler: nothing more can be done without memory.
  }
}

void LoadRunConfiguration(RunContext& run) {
  run.config = zub32::LoadConfiguration(zub32::GlobalSettings.EXEPath);
  for (const std::string& warning : run.config.warnings) platform::WriteErrorLine(warning);
}

}  // namespace

std::int32_t ParseHtmlDelay(const char* parameter) {
  if (parameter == nullptr) return kDefaultHtmlDelay;
  std::string_view text(parameter);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return kDefaultHtmlDelay;
  // Accumulated as a negative number, whose range includes the smallest
  // 32-bit value.
  constexpr std::int64_t kLowest = std::numeric_limits<std::int32_t>::min();
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return kDefaultHtmlDelay;
    value = value * 10 - (c - '0');
    if (value < kLowest) return kDefaultHtmlDelay;
  }
  if (!negative) {
    value = -value;
    if (value > std::numeric_limits<std::int32_t>::max()) return kDefaultHtmlDelay;
  }
  return static_cast<std::int32_t>(value);
}

bool LooksLikeOption(std::string_view argument) {
  if (argument.starts_with("--")) return true;
  return argument.size() >= 2 && argument[0] == '-' && platform::IsAsciiLetter(argument[1]);
}

std::string UsageText() {
  return "Usage: vesk [DELAY]\n"
         "       vesk --check [--online]\n"
         "       vesk --status\n"
         "       vesk --help | -h\n"
         "       vesk --version\n";
}

std::string HelpText() {
  const std::string directory = zub32::GetEXEPath("");
  const zub32::Configuration config = zub32::LoadConfiguration(directory);
  std::string text = UsageText();
  text += "\n";
  text += "Runs one refresh of the weather-radar loop publication in the program\n";
  text += "directory, prints its progress and exits with 0; a failure leaves the\n";
  text += "report e!vesk.xml there. A scheduler starts it every few minutes.\n";
  text += "\n";
  text += "  DELAY        animation step of the loop pages in milliseconds, a decimal\n";
  text += "               integer; absent or anything else gives 333\n";
  text += "  --check      check the program directory, the configuration, the hosts'\n";
  text += "               names, the background bitmap and the font without running;\n";
  text += "               writes nothing, sends nothing but name look-ups; exits 1 on\n";
  text += "               a problem\n";
  text += "  --online     with --check: also fetch the radar loop page and the station\n";
  text += "               feed once and show their status lines and sizes\n";
  text += "  --status     show the last run's status.json for a person; exits 0 OK,\n";
  text += "               1 WARNING, 2 CRITICAL, 3 UNKNOWN\n";
  text += "  -h, --help   show this help and the configuration in force, then exit\n";
  text += "  --version    show the version, then exit\n";
  text += "\n";
  text += "Every run ends with a line \"Summary: ...\". Exit status: 0 for every run,\n";
  text += "a failed one included; 2 when the program directory cannot be entered or,\n";
  text += "without VESK_HOME, is a system directory (under /usr, /bin, /sbin or /opt,\n";
  text += "or not writable), and for an unknown option; nothing is written then.\n";
  text += "The manual page vesk(1) describes the files and the deployment.\n";
  text += "\n";
  text += "Program directory: " + directory + "\n";
  text +=
      std::string("  ") +
      (VeskHomeIsSet() ? "from VESK_HOME" : "the executable's directory; VESK_HOME names another") +
      "\n";
  text += "  Every file of a run is read and written there.\n";
  text += "\n";
  text += "Configuration: an environment variable wins over the key in " +
          std::string(zub32::kConfigFileName) + "\n";
  text += "(Key=Value lines in the program directory), which wins over the default.\n";
  text += "A malformed value is reported and the default is used (for Syslog: off).\n";
  text += "\n";
  for (const zub32::ConfigEntry& entry : config.entries) {
    text += "  " + entry.environment + " / " + entry.key + "=\n";
    text += "      " + entry.description + "\n";
    text += "      current: " + (entry.value.empty() ? std::string("(not set)") : entry.value) +
            " (" + zub32::SourceText(entry.source) + ")\n";
  }
  if (!config.warnings.empty()) {
    text += "\nProblems:\n";
    for (const std::string& warning : config.warnings) text += "  " + warning + "\n";
  }
  return text;
}

int RunMain(const std::vector<std::string>& arguments) {
  // A closed standard output or a peer that went away must give an error,
  // not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  const char* first = arguments.empty() ? nullptr : arguments.front().c_str();
  if (first != nullptr && (arguments.front() == "--help" || arguments.front() == "-h")) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  if (first != nullptr && arguments.front() == "--check") {
    const bool online = arguments.size() > 1 && arguments[1] == "--online";
    if (arguments.size() > 1 && !online && LooksLikeOption(arguments[1])) {
      return RefuseOption(arguments[1], kCheckOptions);
    }
    return RunCheck(online);
  }
  if (first != nullptr && arguments.front() == "--status") return RunStatusCommand();
  if (first != nullptr && arguments.front() == "--version") {
    std::printf("vesk %s\n", kVersion);
    return 0;
  }
  // A mistyped option must not start a real run with the default delay.
  if (first != nullptr && LooksLikeOption(arguments.front())) {
    return RefuseOption(arguments.front(), kFirstOptions);
  }
  return Run(first);
}

int Run(const char* first_parameter) {
  const auto started = std::chrono::steady_clock::now();
  const auto started_on_clock = platform::ClockNow();
  RunContext run;
  const zub32::WriteFailureScope failure_scope(run.write_failures);
  bool failed = false;
  bool writes_reported = false;
  // Set once the configuration is loaded in a run that holds the lock: from
  // then on every end of the run writes status.json.
  bool status_due = false;
  bool status_published = false;
  bool in_radar_update = false;
  std::optional<RunStatus> previous;
  // Held until the run returns, the failure reports included.
  std::optional<platform::FileLock> lock;
  try {
    run.Log.Trace = 100;
    const zub32::ProgramDirectoryEntry entered = zub32::EnterProgramDirectory();
    if (!entered.entered) {
      // Without its own directory the run would read and write its files
      // wherever it was started; nothing is written and nothing is sent.
      const std::string& directory = entered.directory;
      platform::WriteErrorLine(
          "Cannot enter the program directory \"" + directory + "\" (" +
          (platform::EntryExists(directory) ? "not an accessible directory" : "it does not exist") +
          "); check VESK_HOME");
      return kExitNoProgramDirectory;
    }
    // Without VESK_HOME a packaged program would publish into /usr/bin, or
    // fail on every write; nothing is written and nothing is sent.
    if (!VeskHomeIsSet()) {
      if (const std::optional<std::string> problem =
              zub32::SystemDirectoryProblem(entered.directory)) {
        platform::WriteErrorLine("The executable's directory " + entered.directory + " is " +
                                 *problem + "; set VESK_HOME to the program directory");
        return kExitNoProgramDirectory;
      }
    }
    zub32::GlobalSettings.ExceptionFileName = kExceptionFileName;
    zub32::GlobalSettings.SelfName = kSelfName;
    zub32::GlobalSettings.Version = kVersion;
    zub32::GlobalSettings.EXEPath = zub32::GetEXEPath("");
    // A directory this user cannot create files in would have every file of
    // the run fail after all was fetched; nothing is fetched or written, and
    // the syslog line tells whoever does not read the console.
    if (const std::optional<std::string> problem = FileCreationProblem()) {
      platform::WriteErrorLine("Cannot create a file in the program directory \"" +
                               entered.directory + "\" (" + *problem +
                               "); this run fetches nothing");
      LoadRunConfiguration(run);
      zub32::BeginRunReports(run.config.syslog);
      zub32::tExceptionRec rec;
      rec.Function = "Main()";
      rec.Trace = run.Log.Trace;
      zub32::PostExceptionSummary(rec);
      return kExitNoProgramDirectory;
    }
    if (!TakeRunLock(lock)) {
      PrintSummary(run, true, false, started);
      return 0;
    }
    // A run that was killed may have left temporary files; with the lock
    // held, none of those older than this run can belong to a run still
    // going.
    if (lock->GetState() == platform::FileLock::State::kAcquired) {
      platform::RemoveStaleTemporaries(".", started_on_clock);
    }
    LoadRunConfiguration(run);
    // Each run's first report replaces the last run's; later failures of
    // this run leave it in place.
    zub32::BeginRunReports(run.config.syslog);
    // The run's deadline counts from its start, as its elapsed time in the
    // summary does.
    run.config.run_started = started;
    previous = ReadPreviousStatus();
    if (previous) run.not_before = previous->not_before;
    // A run without the lock leaves no status: it could not tell its status
    // from a concurrent run's.
    status_due = lock->GetState() == platform::FileLock::State::kAcquired;

    run.html_delay = ParseHtmlDelay(first_parameter);
    platform::WriteLine("HTML delay: " + std::to_string(run.html_delay) + "ms (Param1)");
    platform::WriteLine(std::string("v") + zub32::GlobalSettings.Version);

    WriteLoopPage30(run);
    WriteLoopPage24(run);
    // The viewer reads status.json in the browser, so it names no file and
    // only needs the delay and the product.
    WriteViewerPage(run);

    in_radar_update = true;
    run.frame_changed = UpdateRadarFrames(run);
    in_radar_update = false;
    if (run.frame_changed) {
      platform::WriteLine("Calling Generate_SESOverlay...");
      run.overlay_drawn = overlay::Generate_SESOverlay(run.config);
      if (!*run.overlay_drawn) run.overlay_report = zub32::LastReportOutcome();
      RefreshMapLayers(run, platform::ClockNow());
      WriteLoopPicture(run);
    }

    PublishStatus(run, previous, false, started_on_clock, started);
    status_published = true;
    // Before "Done!", so that a report that cannot be written is named
    // there; nothing but the summary follows it.
    ReportWriteFailures(run);
    writes_reported = true;
    platform::WriteLine("Done!");
  } catch (const std::exception& error) {
    ReportRunFailure(run, error);
    if (in_radar_update) NoteBackOff(run, error);
    if (status_due && !status_published) {
      PublishStatus(run, previous, true, started_on_clock, started);
    }
    if (!writes_reported) ReportWriteFailures(run);
    failed = true;
  }
  PrintSummary(run, false, failed, started);
  return 0;
}

}  // namespace refresh
