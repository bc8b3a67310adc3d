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
inline float Sample(const FloatField& field, float x, float y) {
  const float max_x = static_cast<float>(field.width - 1);
  const float max_y = static_cast<float>(field.height - 1);
  x = x < 0 ? 0 : (x > max_x ? max_x : x);
  y = y < 0 ? 0 : (y > max_y ? max_y : y);
  int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
  if (x0 > 0 && x0 == field.width - 1) --x0;
  if (y0 > 0 && y0 == field.height - 1) --y0;
  const int x1 = x0 + 1 < field.width ? x0 + 1 : x0;
  const std::size_t row = static_cast<std::size_t>(field.width);
  const std::size_t next_row = y0 + 1 < field.height ? row : 0;
  const float* p = &field.values[static_cast<std::size_t>(y0) * row + static_cast<std::size_t>(x0)];
  const float fx = x - static_cast<float>(x0);
  const float fy = y - static_cast<float>(y0);
  const std::size_t dx = static_cast<std::size_t>(x1 - x0);
  const float top = p[0] + (p[dx] - p[0]) * fx;
  const float bottom = p[next_row] + (p[next_row + dx] - p[next_row]) * fx;
  return top + (bottom - top) * fy;
}

}  // namespace nowcast
