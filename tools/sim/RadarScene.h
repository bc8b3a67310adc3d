// A synthetic radar echo: a few rain cells that grow, drift with a steady
// wind and decay, drawn in the usual rain-rate colours on a transparent
// background. The picture is a pure function of the frame's time, so every
// request for a frame yields the same bytes and consecutive frames show the
// echo moving.
#pragma once

#include "FrameSchedule.h"
#include "PngEncoder.h"

namespace sim {

inline constexpr int kFrameSize = 512;

// The frame observed at that time: kFrameSize square, palette index 0
// transparent, 1 to 15 increasing rain rate.
IndexedImage RenderRadarFrame(Minutes frame_time);

}  // namespace sim
