#include "refresh/RunDriver.h"

#include <chrono>
#include <exception>
#include <optional>

#include "http/RetryAfter.h"
#include "overlay/Generate_SESOverlay.h"
#include "platform/Console.h"
#include "platform/DateTime.h"
#include "platform/FileLock.h"
#include "platform/FileSystem.h"
#include "refresh/BackOff.h"
#include "refresh/CommandLine.h"
#include "refresh/LoopPicture.h"
#include "refresh/MapLayers.h"
#include "refresh/NowcastPublication.h"
#include "refresh/ProgramDirectory.h"
#include "refresh/RadarFrameUpdate.h"
#include "refresh/RunStatus.h"
#include "refresh/RunSummary.h"
#include "site/LoopPage24.h"
#include "site/LoopPage30.h"
#include "site/SiteNames.h"
#include "site/ViewerPage.h"
#include "zub32/Config.h"
#include "zub32/ExceptionReport.h"
#include "zub32/Records.h"
#include "zub32/SystemInfo.h"
#include "zub32/TextFiles.h"

namespace refresh {
namespace {

// The answers of the radar source that may ask the runs to wait.
constexpr int kTooManyRequests = 429;
constexpr int kServiceUnavailable = 503;

// What a stage of the run came to. Only the radar stage fetches, finds no
// new frame or backs off; the other stages end as kUnchanged, and a stage
// that raises as kFailed.
enum class StageOutcome {
  kFetched,    // a new newest frame arrived: the stages that draw on it are due
  kUnchanged,  // the stage did its work; nothing new for the stages after it
  kFailed,     // the stage raised; only the stages due after a failure run
  kBackedOff,  // the radar source asked to wait, so nothing was sent to it
};

// What a run holds beside its context: when it started, its lock, the last
// run's status, whether it owes status.json and its outcome so far.
struct RunState {
  const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  const std::chrono::system_clock::time_point started_on_clock = platform::ClockNow();
  RunContext run;
  // Held until the run returns, the failure reports included.
  std::optional<platform::FileLock> lock;
  std::optional<site::RunStatus> previous;
  // Set once the configuration is loaded in a run that holds the lock: from
  // then on every end of the run writes status.json.
  bool status_due = false;
  StageOutcome outcome = StageOutcome::kUnchanged;
};

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

// A 429 or 503 answer of the radar source with Retry-After asks the runs to
// wait; the wait replaces one asked for earlier. The radar stage recorded
// the answer that ended it.
void NoteBackOff(RunContext& run) {
  if (!run.radar_refusal) return;
  const int code = run.radar_refusal->status_code;
  if (code != kTooManyRequests && code != kServiceUnavailable) return;
  const std::int64_t now = platform::UnixNow();
  const std::optional<std::int64_t> wait =
      http::RetryAfterSeconds(run.radar_refusal->retry_after, now, kMaxBackOffSeconds);
  if (wait) run.not_before = now + *wait;
}

// The radar frame update, unless the radar source asked to wait: then the
// run sends it nothing and has no new frame. A stored wait farther ahead
// than any answer asks for would keep the runs from the source for good, so
// it is ignored.
StageOutcome UpdateRadarFrames(RunState& state) {
  RunContext& run = state.run;
  const std::int64_t now = platform::UnixNow();
  if (run.not_before && WaitTooFarAhead(*run.not_before, now)) {
    platform::WriteLine("Radar source wait until " + platform::FormatIsoLocal(*run.not_before) +
                        " in " + site::kStatusFileName + " lies more than " +
                        std::to_string(kMaxBackOffHours) + " hours ahead; this run ignores it.");
    run.not_before.reset();
  }
  if (run.not_before && *run.not_before > now) {
    platform::WriteLine("Radar source asked to wait until " +
                        platform::FormatIsoLocal(*run.not_before) + "; this run fetches nothing.");
    return StageOutcome::kBackedOff;
  }
  run.not_before.reset();
  run.frame_changed = RadarFrameUpdate(run);
  return run.frame_changed ? StageOutcome::kFetched : StageOutcome::kUnchanged;
}

std::int64_t ElapsedMs(std::chrono::steady_clock::time_point started) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               started)
      .count();
}

// Writes status.json and the metrics; a failure of its own (memory) must not
// keep the run from its summary.
void PublishStatus(RunContext& run, const std::optional<site::RunStatus>& previous, bool failed,
                   std::chrono::system_clock::time_point started_on_clock,
                   std::chrono::steady_clock::time_point started) {
  try {
    PublishRunStatus(run, previous, failed, platform::UnixSeconds(started_on_clock),
                     ElapsedMs(started));
  } catch (const std::exception&) {
    // As in the top-level handler: nothing more can be done without memory.
  }
}

// Takes the run lock, loads the configuration and the last run's status;
// false when another run holds the lock.
bool TakeOver(RunState& state) {
  RunContext& run = state.run;
  if (!TakeRunLock(state.lock)) return false;
  // A run that was killed may have left temporary files; with the lock
  // held, none of those older than this run can belong to a run still
  // going.
  if (state.lock->GetState() == platform::FileLock::State::kAcquired) {
    platform::RemoveStaleTemporaries(".", state.started_on_clock);
  }
  LoadRunConfiguration(run);
  // Each run's first report replaces the last run's; later failures of
  // this run leave it in place.
  zub32::BeginRunReports(run.config.syslog);
  // The run's deadline counts from its start, as its elapsed time in the
  // summary does.
  run.config.run_started = state.started;
  state.previous = site::ReadPreviousStatus();
  if (state.previous) run.not_before = state.previous->not_before;
  // A run without the lock leaves no status: it could not tell its status
  // from a concurrent run's.
  state.status_due = state.lock->GetState() == platform::FileLock::State::kAcquired;
  return true;
}

// Everything before the stages. The exit code when the run ends here,
// without a stage.
std::optional<int> StartRun(RunState& state, const char* first_parameter) {
  RunContext& run = state.run;
  run.Log.Trace = 100;
  if (const std::optional<int> exit_code = EnterDirectory(run)) return exit_code;
  if (!TakeOver(state)) {
    PrintSummary(run, true, false, state.started);
    return 0;
  }
  run.html_delay = ParseHtmlDelay(first_parameter);
  platform::WriteLine("HTML delay: " + std::to_string(run.html_delay) + "ms (Param1)");
  platform::WriteLine(std::string("v") + zub32::GlobalSettings.Version);
  return std::nullopt;
}

// The top-level handler's part: the failure is reported, a wait the radar
// source asked for is kept, and the stages still due after a failure run.
void FailRun(RunState& state, const std::exception& error) {
  ReportRunFailure(state.run, error);
  NoteBackOff(state.run);
  state.outcome = StageOutcome::kFailed;
}

StageOutcome WritePages(RunState& state) {
  RunContext& run = state.run;
  const site::PageAddresses addresses = site::PageAddresses::For(run.config);
  run.page_text = site::WriteLoopPage30(run.html_delay, addresses, run.config.product);
  site::LoopPage24Inputs inputs;
  inputs.self_name = zub32::GlobalSettings.SelfName;
  inputs.version = zub32::GlobalSettings.Version;
  inputs.addresses = addresses;
  inputs.html_delay = run.html_delay;
  inputs.product = run.config.product;
  inputs.archive_lines = run.config.archive_lines;
  run.archive.clear();
  run.page_text = site::WriteLoopPage24(inputs, &run.archive);
  // The viewer reads status.json in the browser, so it names no file and
  // only needs the delay and the settings.
  site::WriteViewerPage(run.html_delay, run.config);
  return StageOutcome::kUnchanged;
}

StageOutcome DrawOverlay(RunState& state) {
  RunContext& run = state.run;
  platform::WriteLine("Calling Generate_SESOverlay...");
  run.overlay_drawn = overlay::Generate_SESOverlay(run.config);
  if (!*run.overlay_drawn) run.overlay_report = zub32::LastReportOutcome();
  return StageOutcome::kUnchanged;
}

StageOutcome RefreshLayers(RunState& state) {
  RefreshMapLayers(state.run, platform::ClockNow());
  return StageOutcome::kUnchanged;
}

StageOutcome WritePicture(RunState& state) {
  WriteLoopPicture(state.run);
  return StageOutcome::kUnchanged;
}

StageOutcome WriteNowcast(RunState& state) {
  PublishNowcast(state.run);
  return StageOutcome::kUnchanged;
}

StageOutcome WriteStatus(RunState& state) {
  if (state.status_due) {
    PublishStatus(state.run, state.previous, state.outcome == StageOutcome::kFailed,
                  state.started_on_clock, state.started);
  }
  return StageOutcome::kUnchanged;
}

StageOutcome ReportWrites(RunState& state) {
  ReportWriteFailures(state.run);
  return StageOutcome::kUnchanged;
}

StageOutcome SayDone(RunState&) {
  platform::WriteLine("Done!");
  return StageOutcome::kUnchanged;
}

// When a stage runs, by the run's outcome so far.
enum class Due {
  kUnlessFailed,
  kOnNewFrame,  // the radar stage fetched a new newest frame
  kAlways,      // after a failure too
};

struct Stage {
  StageOutcome (*run)(RunState& state);
  Due due;
};

// The stages in their order. The files not written are reported before
// "Done!", so that a report that cannot be written is named there; nothing
// but the summary follows it.
constexpr Stage kStages[] = {
    {WritePages, Due::kUnlessFailed},         // the loop pages and the viewer
    {UpdateRadarFrames, Due::kUnlessFailed},  // root.html and the frames
    {DrawOverlay, Due::kOnNewFrame},
    {RefreshLayers, Due::kOnNewFrame},
    {WritePicture, Due::kOnNewFrame},  // loop.webp
    {WriteNowcast, Due::kOnNewFrame},  // Nowcast1.png ... Nowcast6.png
    {WriteStatus, Due::kAlways},
    {ReportWrites, Due::kAlways},
    {SayDone, Due::kUnlessFailed},
};

bool IsDue(Due due, StageOutcome so_far) {
  switch (due) {
    case Due::kUnlessFailed:
      return so_far != StageOutcome::kFailed;
    case Due::kOnNewFrame:
      return so_far == StageOutcome::kFetched;
    case Due::kAlways:
      return true;
  }
  return false;
}

// Runs each stage that is due. A stage's outcome other than kUnchanged
// becomes the run's; one that raises fails the run.
void RunStages(RunState& state) {
  for (const Stage& stage : kStages) {
    if (!IsDue(stage.due, state.outcome)) continue;
    try {
      const StageOutcome outcome = stage.run(state);
      if (outcome != StageOutcome::kUnchanged) state.outcome = outcome;
    } catch (const std::exception& error) {
      FailRun(state, error);
    }
  }
}

}  // namespace

int Run(const char* first_parameter) {
  RunState state;
  const zub32::WriteFailureScope failure_scope(state.run.write_failures);
  try {
    if (const std::optional<int> exit_code = StartRun(state, first_parameter)) return *exit_code;
  } catch (const std::exception& error) {
    FailRun(state, error);
  }
  RunStages(state);
  PrintSummary(state.run, false, state.outcome == StageOutcome::kFailed, state.started);
  return 0;
}

}  // namespace refresh
