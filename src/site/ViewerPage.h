// The viewer page "loop.html": one self-contained page with its own style
// and script that reads status.json and plays the 30-minute or the 24-hour
// loop over the map layers, with controls, time labels and a stale banner.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zub32/Config.h"

namespace site {

// The page text with the HTML delay, the product and its map layer names,
// the colour legend, and the link to loop.webp when loop_picture. It reads
// neither clock nor settings, so a run with the same values writes the same
// bytes.
std::string BuildViewerPage(std::int32_t html_delay, const std::string& product,
                            const std::vector<zub32::LegendEntry>& legend, bool loop_picture);

// Writes the page with the HTML delay and the product, legend and export
// settings of config to "loop.html" in the working directory. A failed write
// keeps the old page and counts among the run's files not written.
void WriteViewerPage(std::int32_t html_delay, const zub32::Configuration& config);

}  // namespace site
