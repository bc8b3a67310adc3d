// The 24-hour loop page "index24.html": one style rule and one div for each
// archived frame and overlay of the last day found in the working directory,
// animated by an embedded script.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "refresh/RunContext.h"

namespace refresh {

// Everything the page shows besides the archive and the clock.
struct LoopPage24Inputs {
  std::string self_name;     // GlobalSettings.SelfName
  std::string version;       // GlobalSettings.Version
  std::string publish_host;  // inserted as configured, e.g. "example.org:8080"
  std::int32_t html_delay = 333;
};

// Receives one console line (without its line end).
using ConsoleSink = std::function<void(std::string_view)>;

// Probes the 288 slots of archived frames and overlays in the working
// directory and returns the page text. Reads the clock afresh for every day
// slot, weekday, age and cache-buster. Prints two lines for each missing
// archived frame through write_line.
std::string BuildLoopPage24(const LoopPage24Inputs& inputs, const ConsoleSink& write_line);

// The run's step: assembles the page into run.page_text (replacing the
// 30-minute page held there), prints "Writing index24.html...." and writes
// the text whole to "index24.html" in the working directory. Inputs come from
// GlobalSettings, run.config's publishing host and run.html_delay; console
// lines go to standard output. A failed write leaves the old page in place.
void WriteLoopPage24(RunContext& run);

}  // namespace refresh
