// The newest levels carried forward along the motion: backward
// semi-Lagrangian advection with the motion held constant. Each forecast
// pixel follows the motion back, one five-minute step at a time, to the
// point it came from and takes the level found there (nearest pixel); a
// point that comes from outside the frame is no echo.
#pragma once

#include <vector>

#include "nowcast/EchoLevels.h"
#include "nowcast/MotionField.h"

namespace nowcast {

// The levels 5, 10, ... 5 * steps minutes after the newest frame.
std::vector<LevelField> Extrapolate(const LevelField& newest, const MotionField& motion, int steps);

}  // namespace nowcast
