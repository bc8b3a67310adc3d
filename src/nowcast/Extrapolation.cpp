#include "nowcast/Extrapolation.h"

#include <cstddef>

namespace nowcast {

// The trajectories are followed on the motion's grid, over which the
// motion is smooth; each frame pixel takes the displacement of the grid
// cell it lies in.
std::vector<LevelField> Extrapolate(const LevelField& newest, const MotionField& motion,
                                    int steps) {
  const int width = newest.width, height = newest.height;
  const int grid_width = motion.dx.width, grid_height = motion.dx.height;
  const std::size_t grid_count =
      static_cast<std::size_t>(grid_width) * static_cast<std::size_t>(grid_height);
  // How far back each grid point's trajectory reaches so far, in frame
  // pixels.
  std::vector<float> back_x(grid_count, 0.0f), back_y(grid_count, 0.0f);
  // The grid column of each frame column.
  std::vector<std::size_t> column_cell(static_cast<std::size_t>(width));
  for (int x = 0; x < width; ++x) {
    column_cell[static_cast<std::size_t>(x)] = static_cast<std::size_t>(x / motion.scale);
  }
  std::vector<LevelField> leads;
  for (int step = 0; step < steps; ++step) {
    for (int j = 0; j < grid_height; ++j) {
      for (int i = 0; i < grid_width; ++i) {
        const std::size_t k = static_cast<std::size_t>(j) * static_cast<std::size_t>(grid_width) +
                              static_cast<std::size_t>(i);
        // The grid point's frame position, moved back along the trajectory.
        const float x = motion.FramePosition(i) - back_x[k];
        const float y = motion.FramePosition(j) - back_y[k];
        back_x[k] += motion.DxAt(x, y);
        back_y[k] += motion.DyAt(x, y);
      }
    }
    LevelField lead = LevelField::Empty(width, height);
    for (int y = 0; y < height; ++y) {
      const std::size_t grid_row =
          static_cast<std::size_t>(y / motion.scale) * static_cast<std::size_t>(grid_width);
      std::uint8_t* out =
          &lead.levels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width)];
      for (int x = 0; x < width; ++x) {
        const std::size_t k = grid_row + column_cell[static_cast<std::size_t>(x)];
        // Rounded to the nearest pixel; anything from outside the frame
        // is no echo.
        const float source_x = static_cast<float>(x) - back_x[k] + 0.5f;
        const float source_y = static_cast<float>(y) - back_y[k] + 0.5f;
        if (source_x < 0 || source_y < 0) continue;
        const int sx = static_cast<int>(source_x), sy = static_cast<int>(source_y);
        if (sx < width && sy < height) out[x] = newest.At(sx, sy);
      }
    }
    leads.push_back(std::move(lead));
  }
  return leads;
}

}  // namespace nowcast
