// The 30-minute loop page "index.html": the seven newest radar frames and
// station overlays over the fixed map layers, stepped through by a script
// every HTML delay milliseconds.
#pragma once

#include <cstdint>
#include <string>

#include "site/PageText.h"
#include "zub32/Config.h"

namespace site {

// The page text: 321 lines, each ending in CR LF, with the map layers of
// product. Reads the clock once for the creation time and once more for each
// of the 16 cache-busters, and GlobalSettings for the version and the self
// name.
std::string BuildLoopPage30(std::int32_t html_delay, const PageAddresses& addresses,
                            const std::string& product = zub32::kDefaultProduct);

// Prints "Writing index.html", assembles the page and writes it whole to
// "index.html" in the working directory; returns the page text. A failed
// write leaves the old page in place.
std::string WriteLoopPage30(std::int32_t html_delay, const PageAddresses& addresses,
                            const std::string& product);

}  // namespace site
