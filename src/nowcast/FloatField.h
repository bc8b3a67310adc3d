// A grid of floats, rows top to bottom, and the filters the motion estimate
// runs on it: box and Gaussian blurs as separable running sums, halving and
// bilinear sampling.
#pragma once

#include <cstddef>
#include <vector>

namespace nowcast {

struct FloatField {
  int width = 0;
  int height = 0;
  std::vector<float> values;

  static FloatField Zero(int width, int height);
  float& At(int x, int y) {
    return values[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
  float At(int x, int y) const {
    return values[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
};

// The mean over the (2 radius + 1)² square around each point, with zero
// outside the grid, so that a quotient of two blurred fields (normalised
// convolution) is not biased at the edges.
void BoxBlur(FloatField& field, int radius);

// Three box blurs whose combined spread is about sigma points.
void GaussianBlur(FloatField& field, float sigma);

// Half the size, each point the mean of the 2 x 2 points it covers (an odd
// last row or column is averaged with itself).
FloatField Halve(const FloatField& field);

// The value at a fractional position by bilinear interpolation; positions
// outside the grid take the nearest edge value.
float Sample(const FloatField& field, float x, float y);

}  // namespace nowcast
