#include "refresh/RunSummary.h"

#include "site/SiteNames.h"
#include "zub32/PrintableText.h"

namespace refresh {
namespace {

// Where the report of a failure is, or why there is none.
std::string ReportHint(const zub32::ReportOutcome& report) {
  if (report.written) return " (report " + report.file_name + ")";
  if (report.reason.empty()) return "";
  return " (report not written: " + zub32::OneLine(report.reason, kMaxSummaryMessage) + ")";
}

std::string OverlayText(const RunOutcome& outcome) {
  switch (outcome.overlay) {
    case OverlayOutcome::kDrawn:
      return "overlay drawn";
    case OverlayOutcome::kFailed:
      return "overlay failed" + ReportHint(outcome.overlay_report);
    case OverlayOutcome::kNotDue:
      break;
  }
  return "overlay not drawn";
}

}  // namespace

std::string SummaryLine(const RunOutcome& outcome) {
  std::string line = "Summary: ";
  if (outcome.skipped) line += "skipped, another run is going on; ";
  if (outcome.failed) {
    line += "run failed: " + outcome.failure_class + ": " +
            zub32::OneLine(outcome.failure_message, kMaxSummaryMessage) +
            ReportHint(outcome.failure_report) + "; ";
  }
  line += "frames downloaded " + std::to_string(outcome.frames_downloaded) + ", ";
  line += OverlayText(outcome) + ", ";
  if (outcome.files_not_written > 0) {
    line += std::to_string(outcome.files_not_written) +
            (outcome.files_not_written == 1 ? " file" : " files") + " not written" +
            ReportHint(outcome.write_report) + ", ";
  }
  if (outcome.layers_not_fetched > 0) {
    line += std::to_string(outcome.layers_not_fetched) +
            (outcome.layers_not_fetched == 1 ? " map layer" : " map layers") + " not fetched, ";
  }
  if (outcome.loop_picture_failed) line += std::string(site::kLoopPictureFile) + " not written, ";
  line += std::to_string(outcome.elapsed_ms) + " ms";
  return line;
}

}  // namespace refresh
