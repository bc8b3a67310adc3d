// The run-wide values of one refresh run, which the run driver owns and
// hands to each stage.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "http/TIdHTTP.h"
#include "site/LoopPage24.h"
#include "site/StatusDocument.h"
#include "zub32/Config.h"
#include "zub32/ExceptionReport.h"
#include "zub32/Records.h"
#include "zub32/TextFiles.h"

namespace refresh {

inline constexpr std::int32_t kDefaultHtmlDelay = 333;

// An answer outside 2xx that ended the radar stage: its status code and its
// Retry-After values, from which the driver tells whether the radar source
// asked the runs to wait.
struct RadarRefusal {
  int status_code = 0;
  std::string retry_after;
};

struct RunContext {
  // The run's configuration, loaded at its start.
  zub32::Configuration config;
  // Animation step of both loop pages in milliseconds (first parameter).
  std::int32_t html_delay = kDefaultHtmlDelay;
  // The loop page being assembled; each page writer replaces it.
  std::string page_text;
  // The driver's step marker; 100 for the whole run.
  zub32::tLogRec Log;
  // What the top-level handler reports; stages may fill Notes beforehand.
  zub32::tExceptionRec ExceptionRec;
  // Created by the radar frame update for all its requests; it lives, with
  // its connection, until the driver's context goes away at the end of the
  // run, also after a failure.
  std::optional<http::TIdHTTP> radar_client;
  // The radar frame update's result: a new newest frame arrived, so the
  // station overlay is due.
  bool frame_changed = false;
  // Recorded by the radar frame update when an answer outside 2xx ended it.
  std::optional<RadarRefusal> radar_refusal;
  // For the run's summary line: the frames saved to Image0.png ...
  // Image6.png, and whether the station overlay was drawn (empty when it
  // was not due).
  int frames_downloaded = 0;
  std::optional<bool> overlay_drawn;
  // Map layers that were due and could not be fetched or published; they
  // keep their old files and write no report.
  int layers_not_fetched = 0;
  // loop.webp was due and kept its old content (no report).
  bool loop_picture_failed = false;
  // The nowcast this run made, or why it made none; unset when it was not
  // due (no new frame, or Nowcast off).
  std::optional<site::NowcastRecord> nowcast;
  // What became of the reports of the run's failure, of the overlay's and
  // of the files not written, for the summary line.
  zub32::ReportOutcome failure_report;
  zub32::ReportOutcome overlay_report;
  zub32::ReportOutcome write_report;
  // The slots the 24-hour page of this run shows, in its order.
  std::vector<site::ShownArchiveSlot> archive;
  // The frame files this run put in place, each with the address it was
  // fetched from.
  std::map<std::string, std::string> frame_addresses;
  // The radar source asked not to be asked before this moment (seconds since
  // the Unix epoch); until then runs send it no request.
  std::optional<std::int64_t> not_before;
  // The writes the run could not make, for the report of files not written
  // and the summary line.
  zub32::WriteFailureList write_failures;
};

}  // namespace refresh
