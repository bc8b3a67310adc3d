// The 24-hour loop page "index24.html": the archived frames of the last day
// found in the working directory, each with the overlay of its own slot,
// animated by an embedded script.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "site/PageText.h"
#include "zub32/Config.h"

namespace site {

// A slot the 24-hour page shows: its tag ("WE000"), its archived frame, its
// overlay (empty when the page shows none) and when the slot began.
struct ShownArchiveSlot {
  std::string tag;
  std::string frame;
  std::string overlay;
  std::int64_t slot_start = 0;  // seconds since the Unix epoch
};

// Everything the page shows besides the archive and the clock.
struct LoopPage24Inputs {
  std::string self_name;  // GlobalSettings.SelfName
  std::string version;    // GlobalSettings.Version
  PageAddresses addresses;
  std::int32_t html_delay = 333;
  std::string product = zub32::kDefaultProduct;  // names the map layers
  zub32::ArchiveLines archive_lines = zub32::ArchiveLines::kEach;
};

// Receives one console line (without its line end).
using ConsoleSink = std::function<void(std::string_view)>;

// Probes the 288 slots of archived frames and overlays in the working
// directory and returns the page text. A slot is shown when its archived
// frame is present and less than a day old; shown slots are numbered from 0
// in time order (zub32::SlotsOldestFirst: from the slot after the current
// one, the day before's, around midnight to the current one), and each one's
// overlay (same slot and weekday, when present and fresh) and divs carry the
// same number. Reads the clock once for the current slot and the weekdays,
// afresh for every age and cache-buster. Prints two lines for each
// missing archived frame through write_line; with ArchiveLines::kSummary it
// prints instead the single line "Archive: " + shown frames + " of 288
// frames, " + overlays shown with them + " overlays". A frame that is present
// but a day old or older is not shown and so not counted, nor is an overlay
// whose frame is not shown. With shown_slots, fills it with the shown slots in
// page order.
std::string BuildLoopPage24(const LoopPage24Inputs& inputs, const ConsoleSink& write_line,
                            std::vector<ShownArchiveSlot>* shown_slots = nullptr);

// The run's step: assembles the page, prints its missing-file lines at once
// and "Writing index24.html....", and writes the text whole to
// "index24.html" in the working directory; returns the page text, and fills
// shown_slots as BuildLoopPage24 does. A failed write leaves the old page in
// place.
std::string WriteLoopPage24(const LoopPage24Inputs& inputs,
                            std::vector<ShownArchiveSlot>* shown_slots);

}  // namespace site
