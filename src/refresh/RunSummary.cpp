#include "refresh/RunSummary.h"

namespace refresh {
namespace {

constexpr std::string_view kEllipsis = "...";

std::string ReportHint(const std::string& report_file) {
  return report_file.empty() ? std::string() : " (report " + report_file + ")";
}

std::string OverlayText(const RunOutcome& outcome) {
  switch (outcome.overlay) {
    case OverlayOutcome::kDrawn:
      return "overlay drawn";
    case OverlayOutcome::kFailed:
      return "overlay failed" + ReportHint(outcome.report_file);
    case OverlayOutcome::kNotDue:
      break;
  }
  return "overlay not drawn";
}

}  // namespace

std::string OneLine(std::string_view text, std::size_t max_length) {
  std::string line;
  bool pending_blank = false;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == ' ') {
      pending_blank = !line.empty();
      continue;
    }
    if (pending_blank) line += ' ';
    pending_blank = false;
    line += c;
  }
  if (line.size() > max_length) {
    if (max_length <= kEllipsis.size()) {
      line.resize(max_length);
    } else {
      line.resize(max_length - kEllipsis.size());
      line += kEllipsis;
    }
  }
  return line;
}

std::string SummaryLine(const RunOutcome& outcome) {
  std::string line = "Summary: ";
  if (outcome.skipped) line += "skipped, another run is going on; ";
  if (outcome.failed) {
    line += "run failed: " + outcome.failure_class + ": " +
            OneLine(outcome.failure_message, kMaxSummaryMessage) + ReportHint(outcome.report_file) +
            "; ";
  }
  line += "frames downloaded " + std::to_string(outcome.frames_downloaded) + ", ";
  line += OverlayText(outcome) + ", ";
  if (outcome.files_not_written > 0) {
    line += std::to_string(outcome.files_not_written) +
            (outcome.files_not_written == 1 ? " file" : " files") + " not written" +
            ReportHint(outcome.report_file) + ", ";
  }
  line += std::to_string(outcome.elapsed_ms) + " ms";
  return line;
}

}  // namespace refresh
