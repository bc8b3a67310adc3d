#include "nowcast/Nowcast.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "nowcast/Extrapolation.h"

namespace nowcast {
namespace {

std::string SizeText(const picture::RgbaImage& picture) {
  return std::to_string(picture.width) + " x " + std::to_string(picture.height);
}

// Why the frames cannot make a forecast; empty when they can.
std::string Unusable(const std::vector<TimedFrame>& frames, const Legend& legend) {
  if (legend.empty()) return "no legend to read the frames' levels by";
  if (frames.size() < kMinFrames) {
    return std::to_string(frames.size()) + " usable frames, at least " +
           std::to_string(kMinFrames) + " needed";
  }
  for (std::size_t i = 1; i < frames.size(); ++i) {
    const picture::RgbaImage& first = *frames.front().picture;
    const picture::RgbaImage& frame = *frames[i].picture;
    if (frame.width != first.width || frame.height != first.height) {
      return "frame " + std::to_string(i + 1) + " is " + SizeText(frame) + ", frame 1 " +
             SizeText(first);
    }
    const std::int64_t gap = frames[i].minutes - frames[i - 1].minutes;
    if (gap <= 0 || gap > kMaxGapMinutes) {
      return "frames " + std::to_string(i) + " and " + std::to_string(i + 1) + " are " +
             std::to_string(gap) + " minutes apart, at most " + std::to_string(kMaxGapMinutes) +
             " allowed";
    }
  }
  return {};
}

// The mean motion over the pixels with an echo (all pixels when none has).
void MeanMotion(const LevelField& newest, const MotionField& motion, Forecast& forecast) {
  double sum_x = 0, sum_y = 0, count = 0;
  for (int pass = 0; pass < 2 && count == 0; ++pass) {
    for (int y = 1; y < newest.height; y += 2) {
      for (int x = 1; x < newest.width; x += 2) {
        if (pass == 0 && newest.At(x, y) == 0) continue;
        sum_x += motion.DxAt(static_cast<float>(x), static_cast<float>(y));
        sum_y += motion.DyAt(static_cast<float>(x), static_cast<float>(y));
        count += 1;
      }
    }
  }
  if (count == 0) return;
  const double per_step_x = sum_x / count, per_step_y = sum_y / count;
  const double steps_per_hour = 60.0 / kStepMinutes;
  forecast.speed_pixels_per_hour = std::hypot(per_step_x, per_step_y) * steps_per_hour;
  double direction = std::atan2(per_step_x, -per_step_y) * 180.0 / std::numbers::pi;
  if (direction < 0) direction += 360.0;
  forecast.direction_degrees = direction;
}

}  // namespace

Forecast MakeNowcast(const std::vector<TimedFrame>& frames, const Legend& legend,
                     const MotionOptions& options) {
  Forecast forecast;
  forecast.failure = Unusable(frames, legend);
  if (!forecast.Made()) return forecast;

  // Only the frames of the pairs the motion is fitted to are read.
  const std::size_t used = std::min(frames.size(), static_cast<std::size_t>(options.pairs) + 1);
  const std::size_t first = frames.size() - used;
  std::vector<LevelField> levels;
  levels.reserve(used);
  for (std::size_t i = first; i < frames.size(); ++i) {
    levels.push_back(EchoLevels(*frames[i].picture, legend));
  }
  std::vector<const LevelField*> fields;
  std::vector<float> steps;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    fields.push_back(&levels[i]);
    if (i > 0) {
      steps.push_back(
          static_cast<float>(frames[first + i].minutes - frames[first + i - 1].minutes) /
          static_cast<float>(kStepMinutes));
    }
  }
  const MotionField motion = EstimateMotion(fields, steps, options);
  forecast.issued_minutes = frames.back().minutes;
  forecast.leads = Extrapolate(levels.back(), motion, kLeadSteps);
  MeanMotion(levels.back(), motion, forecast);
  return forecast;
}

}  // namespace nowcast
