// The line that ends every refresh run: how many frames it downloaded,
// whether it drew the station overlay, how long it took and, after a
// failure, what failed. One line, so that a scheduler's log shows each run's
// outcome at a glance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "zub32/ExceptionReport.h"

namespace refresh {

// The longest error message the summary line shows; a longer one is cut.
inline constexpr std::size_t kMaxSummaryMessage = 200;

enum class OverlayOutcome {
  kNotDue,  // no new frame, or the run failed before the overlay stage
  kDrawn,   // saved under the slot and turned into the ring
  kFailed,  // the stage ran and reported its failure itself
};

struct RunOutcome {
  // Another run was still going, so this one left every file to it.
  bool skipped = false;
  int frames_downloaded = 0;
  OverlayOutcome overlay = OverlayOutcome::kNotDue;
  // Set when the top-level handler caught an error.
  bool failed = false;
  std::string failure_class;
  std::string failure_message;
  // Files the run could not write (each also reported).
  int files_not_written = 0;
  // Map layers that were due but could not be fetched (no report).
  int layers_not_fetched = 0;
  // loop.webp was due but could not be made or written (no report).
  bool loop_picture_failed = false;
  // What became of the reports of the run's failure, of the overlay's
  // failure and of the files not written.
  zub32::ReportOutcome failure_report;
  zub32::ReportOutcome overlay_report;
  zub32::ReportOutcome write_report;
  std::int64_t elapsed_ms = 0;
};

// "Summary: frames downloaded 7, overlay drawn, 412 ms", or after a failure
// "Summary: run failed: <class>: <message> (report e!vesk.xml); frames
// downloaded 0, overlay not drawn, 4 ms". An overlay that failed reads
// "overlay failed (report e!vesk.xml)"; files that could not be written add
// "2 files not written (report e!vesk.xml)" and layers that could not be
// fetched "1 map layer not fetched", and a loop picture that kept its old
// content "loop.webp not written", before the time. Each failure
// names its report only when that was written, and says "(report not
// written: <reason>)" otherwise. A run that found another one going reads
// "Summary: skipped, another run is going on; ...".
std::string SummaryLine(const RunOutcome& outcome);

}  // namespace refresh
