// The 30-minute loop as one animated picture, loop.webp, for forums, chats
// and e-mail, where pages with scripts do not run.
#pragma once

#include <cstdint>
#include <string>

#include "refresh/RunContext.h"

namespace refresh {

inline constexpr const char* kLoopPictureFile = "loop.webp";
// The shortest display time of a frame, whatever the HTML delay.
inline constexpr int kMinLoopFrameMs = 20;
// The newest frame is shown this many times as long as the others, as the
// 30-minute page holds it.
inline constexpr int kNewestFrameHold = 3;

// The display time of every frame but the newest: the HTML delay, at least
// kMinLoopFrameMs, and short enough for the newest frame's longer time to
// fit a WebP frame.
int LoopFrameMs(std::int32_t html_delay);

// The animation of the seven current frames in the working directory,
// Image6.png (oldest) to Image0.png, as the 30-minute page stacks them: each
// frame over the map layers the page shows (topography, locations and range
// of the product; one that is missing or does not decode through
// DecodeMapLayer is left out with one line naming it) over the ring overlay
// SESOverlay<n>.bmp shown with Image<n>.png (when present). The canvas has
// the newest frame's size; every layer is drawn from the top-left corner and
// clipped. The animation is encoded lossy at quality 80 and lossless, and
// the smaller one is returned. Throws platform::Exception naming the file for a missing frame,
// or a frame or ring overlay that cannot be read or decoded.
std::string BuildLoopPicture(const std::string& product, std::int32_t html_delay);

// When run.config exports the loop: writes BuildLoopPicture's animation to
// loop.webp atomically. A failure prints one line, keeps the old file and
// sets run.loop_picture_failed; nothing is reported and nothing is thrown.
void WriteLoopPicture(RunContext& run);

}  // namespace refresh
