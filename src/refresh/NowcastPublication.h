// The run's nowcast: on a run with a new frame, the forecast of the next 30
// minutes from the current frames, published as Nowcast1.png ...
// Nowcast6.png, with the station's rain warning.
#pragma once

#include <string>

#include "nowcast/EchoLevels.h"
#include "refresh/RunContext.h"

namespace refresh {

// The legend's colours for reading frames ("#rrggbb" each).
nowcast::Legend LegendColours(const std::vector<zub32::LegendEntry>& legend);

// When run.config asks for it: reads the current frames that decode and
// whose addresses (this run's, else those status.json kept) name a time,
// makes the nowcast and replaces each forecast picture atomically, and
// sets run.nowcast. A failure (frames that cannot make one, a picture not
// written) prints one line, leaves run.nowcast with the reason and no
// frames, writes no report and throws nothing.
void PublishNowcast(RunContext& run);

}  // namespace refresh
