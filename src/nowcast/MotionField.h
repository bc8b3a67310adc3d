// The motion of the echoes: a dense, smooth displacement field estimated
// from consecutive level fields by a pyramidal Lucas–Kanade method.
//
// One field is fitted to the last few frame pairs at once: each pair adds
// its brightness-constancy equations (the older frame's levels found again
// in the newer frame, displaced), weighted down where the two disagree by
// far, as where an echo appears or dies. The least-squares solution over a
// window around each point is refined coarse to fine with warping, and the
// result is smoothed by normalised convolution with the echoes' texture as
// the weight, so that points far from any echo take the motion of the
// echoes around them, or the mean motion where there are none.
#pragma once

#include <vector>

#include "nowcast/EchoLevels.h"
#include "nowcast/FloatField.h"

namespace nowcast {

struct MotionOptions {
  int pairs = 3;                 // the newest frame pairs fitted together
  int grid_scale = 4;            // frame pixels a side of the finest grid's cells
  int pyramid_levels = 2;        // coarser grids the field is first estimated on
  int iterations = 3;            // warping steps on each grid
  int window_radius = 2;         // box window of the least-squares fit, in grid points
  float regularisation = 0.02f;  // added to the structure tensor's diagonal
  float outlier_scale = 3.0f;    // level differences beyond which a pixel counts less
  float smoothing_sigma = 8.0f;  // of the final field, in frame pixels
};

// The motion per five minutes in frame pixels, on a grid of cells of
// scale x scale frame pixels (point (i, j) stands for the centre of its
// cell).
struct MotionField {
  FloatField dx;
  FloatField dy;
  int scale = 1;

  // The frame pixel position of a grid point's coordinate.
  float FramePosition(int grid) const {
    return static_cast<float>(scale * grid) + 0.5f * static_cast<float>(scale - 1);
  }
  // The displacement at a frame pixel position, interpolated.
  float DxAt(float x, float y) const { return Sample(dx, GridPosition(x), GridPosition(y)); }
  float DyAt(float x, float y) const { return Sample(dy, GridPosition(x), GridPosition(y)); }

 private:
  float GridPosition(float frame) const {
    return (frame - 0.5f * static_cast<float>(scale - 1)) / static_cast<float>(scale);
  }
};

// The motion from frames of one size, oldest first; steps[i] is the time
// from frame i to frame i + 1 in units of five minutes. Uses the newest
// options.pairs pairs (all when there are fewer).
MotionField EstimateMotion(const std::vector<const LevelField*>& frames,
                           const std::vector<float>& steps, const MotionOptions& options = {});

}  // namespace nowcast
