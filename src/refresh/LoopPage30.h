// The 30-minute loop page "index.html": the seven newest radar frames and
// station overlays over the fixed map layers, stepped through by a script
// every HTML delay milliseconds.
#pragma once

#include <cstdint>
#include <string>

#include "refresh/PageText.h"
#include "refresh/RunContext.h"

namespace refresh {

// The page text: 321 lines, each ending in CR LF, with the map layers of
// product. Reads the clock once for the creation time and once more for each
// of the 16 cache-busters, and GlobalSettings for the version and the self
// name.
std::string BuildLoopPage30(std::int32_t html_delay, const PageAddresses& addresses,
                            const std::string& product = zub32::kDefaultProduct);

// Prints "Writing index.html", assembles the page into run.page_text with the
// addresses and product of run.config and writes it whole to "index.html" in the
// working directory. A failed write leaves the old page in place.
void WriteLoopPage30(RunContext& run);

}  // namespace refresh
