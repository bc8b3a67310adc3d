#include "nowcast/Extrapolation.h"

#include <cmath>
#include <cstddef>

namespace nowcast {

std::vector<LevelField> Extrapolate(const LevelField& newest, const MotionField& motion,
                                    int steps) {
  const int width = newest.width, height = newest.height;
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  // Where each pixel's trajectory stands after the steps so far.
  std::vector<float> from_x(count), from_y(count);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                            static_cast<std::size_t>(x);
      from_x[i] = static_cast<float>(x);
      from_y[i] = static_cast<float>(y);
    }
  }
  std::vector<LevelField> leads;
  for (int step = 0; step < steps; ++step) {
    LevelField lead = LevelField::Empty(width, height);
    for (std::size_t i = 0; i < count; ++i) {
      const float x = from_x[i], y = from_y[i];
      const float back_x = x - motion.DxAt(x + 0.5f, y + 0.5f);
      const float back_y = y - motion.DyAt(x + 0.5f, y + 0.5f);
      from_x[i] = back_x;
      from_y[i] = back_y;
      const long source_x = std::lround(back_x), source_y = std::lround(back_y);
      if (source_x >= 0 && source_x < width && source_y >= 0 && source_y < height) {
        lead.levels[i] = newest.At(static_cast<int>(source_x), static_cast<int>(source_y));
      }
    }
    leads.push_back(std::move(lead));
  }
  return leads;
}

}  // namespace nowcast
