// The station overlay of a refresh run with a new radar frame: fetch the
// station feed, draw time, temperature and wind on the background, archive
// the picture under the current five-minute slot and turn the overlay ring.
#pragma once

#include "zub32/Config.h"

namespace overlay {

// The log name under which the routine's failures are reported.
inline constexpr const char* kOverlayFunctionName = "Generate_SESOverlay";

// Runs the whole stage against the publishing host of the run's config, in
// the working directory (the feed copy and the background) and in
// GlobalSettings.EXEPath (the overlay files). Every error of the program's
// own classes is caught and left as an exception report, with step marker
// 100 up to the overlay name and 200 from there to the end of the ring; the
// caller goes on. Other errors (out of memory) pass on to the caller.
// Returns true when the overlay was saved and turned into the ring, for the
// run's summary line.
bool Generate_SESOverlay(const zub32::Configuration& config);

}  // namespace overlay
