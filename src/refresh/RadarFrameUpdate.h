// The radar frame update: fetches the radar source's loop page, keeps a copy
// as root.html and, when the page names a newer frame than the last complete
// download, fetches the seven frames into Image0.png (newest) to Image6.png
// and archives the frames under the current five-minute slot.
#pragma once

#include <string>

#include "refresh/RunContext.h"

namespace refresh {

// The loop's entries theImageNames[0] (oldest) to [6] (newest).
inline constexpr int kLoopEntries = 7;

// The path of a product's radar loop page: "/products/IDR641.loop.shtml".
std::string RadarRequestPath(const std::string& product);

// Runs the stage in the working directory with run.radar_client, which it
// creates for the radar host of run.config, fetches the loop page of
// run.config's product, and copies the user agent
// into run.ExceptionRec.Notes. Returns true when the frames were fetched
// because the newest one is new.
//
// LastImageURI.txt is rewritten only after every frame the page names has
// been saved, so that an interrupted download is repeated by the next run.
// A failed request raises the client's error, a page that names no newest
// frame raises platform::EContentError before any frame is requested, and
// an empty frame raises it too; each leaves the stage at once for the
// driver to report; an answer outside 2xx is recorded in run.radar_refusal
// first. Only the newest frame is archived under the slot.
bool RadarFrameUpdate(RunContext& run);

}  // namespace refresh
