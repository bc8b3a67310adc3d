// A nowcast: the motion of the echoes estimated from the current frames and
// the newest frame carried forward along it, 5 to 30 minutes ahead. Frames
// that cannot make one (too few, of different sizes, with a gap) give no
// forecast and the reason, in a line for the console.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "nowcast/EchoLevels.h"
#include "nowcast/MotionField.h"
#include "picture/RgbaImage.h"

namespace nowcast {

inline constexpr int kLeadSteps = 6;
inline constexpr int kStepMinutes = 5;
inline constexpr std::size_t kMinFrames = 4;
inline constexpr std::int64_t kMaxGapMinutes = 10;

struct TimedFrame {
  const picture::RgbaImage* picture = nullptr;
  std::int64_t minutes = 0;  // the frame's time, UTC minutes since 1970
};

struct Forecast {
  // Empty when the forecast was made; otherwise why not, and nothing else
  // below is set.
  std::string failure;
  std::int64_t issued_minutes = 0;  // the newest frame's time
  // The levels at issued_minutes + 5 (k + 1), k from 0 to kLeadSteps - 1.
  std::vector<LevelField> leads;
  // The echoes' mean motion (over the newest frame's echoes, or the whole
  // field when it has none): frame pixels per hour, and the compass
  // direction it goes towards in degrees, 0 up and 90 right.
  double speed_pixels_per_hour = 0;
  double direction_degrees = 0;

  bool Made() const { return failure.empty(); }
  int LeadMinutes(std::size_t index) const { return kStepMinutes * (static_cast<int>(index) + 1); }
};

// The forecast from frames oldest first (all of them at most
// kMaxGapMinutes apart, at least kMinFrames, of one size).
Forecast MakeNowcast(const std::vector<TimedFrame>& frames, const Legend& legend,
                     const MotionOptions& options = {});

}  // namespace nowcast
