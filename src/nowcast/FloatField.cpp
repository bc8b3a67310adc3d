#include "nowcast/FloatField.h"

#include <algorithm>
#include <cmath>

namespace nowcast {

FloatField FloatField::Zero(int width, int height) {
  FloatField field;
  field.width = width;
  field.height = height;
  field.values.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0.0f);
  return field;
}

namespace {

// One running-sum pass over count values spaced stride apart, through a
// scratch copy of the line.
void BoxLine(float* line, int count, std::size_t stride, int radius, std::vector<float>& scratch) {
  scratch.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) scratch[static_cast<std::size_t>(i)] = line[i * stride];
  const float scale = 1.0f / static_cast<float>(2 * radius + 1);
  float sum = 0;
  for (int i = 0; i < radius && i < count; ++i) sum += scratch[static_cast<std::size_t>(i)];
  for (int i = 0; i < count; ++i) {
    const int enter = i + radius;
    const int leave = i - radius - 1;
    if (enter < count) sum += scratch[static_cast<std::size_t>(enter)];
    if (leave >= 0) sum -= scratch[static_cast<std::size_t>(leave)];
    line[i * stride] = sum * scale;
  }
}

}  // namespace

void BoxBlur(FloatField& field, int radius) {
  if (radius <= 0 || field.values.empty()) return;
  std::vector<float> scratch;
  const auto width = static_cast<std::size_t>(field.width);
  for (int y = 0; y < field.height; ++y) {
    BoxLine(&field.values[static_cast<std::size_t>(y) * width], field.width, 1, radius, scratch);
  }
  // Columns: a running sum for every column at once, row by row, which
  // reads the grid in memory order. A row leaves the sum radius + 1 rows
  // after it was overwritten, so the last radius + 1 original rows are kept
  // in a ring.
  const float scale = 1.0f / static_cast<float>(2 * radius + 1);
  const std::size_t kept = static_cast<std::size_t>(radius) + 1;
  std::vector<float> sums(width, 0.0f);
  std::vector<float> ring(kept * width);
  for (int y = 0; y < radius && y < field.height; ++y) {
    const float* row = &field.values[static_cast<std::size_t>(y) * width];
    for (std::size_t x = 0; x < width; ++x) sums[x] += row[x];
  }
  for (int y = 0; y < field.height; ++y) {
    const int enter = y + radius;
    const int leave = y - radius - 1;
    if (enter < field.height) {
      const float* row = &field.values[static_cast<std::size_t>(enter) * width];
      for (std::size_t x = 0; x < width; ++x) sums[x] += row[x];
    }
    if (leave >= 0) {
      const float* row = &ring[(static_cast<std::size_t>(leave) % kept) * width];
      for (std::size_t x = 0; x < width; ++x) sums[x] -= row[x];
    }
    float* out = &field.values[static_cast<std::size_t>(y) * width];
    float* saved = &ring[(static_cast<std::size_t>(y) % kept) * width];
    for (std::size_t x = 0; x < width; ++x) {
      saved[x] = out[x];
      out[x] = sums[x] * scale;
    }
  }
}

void GaussianBlur(FloatField& field, float sigma) {
  // Three passes of a box of width w have the variance 3 (w² - 1) / 12.
  const float width = std::sqrt(4.0f * sigma * sigma + 1.0f);
  const int radius = std::max(1, static_cast<int>(std::lround((width - 1.0f) / 2.0f)));
  for (int pass = 0; pass < 3; ++pass) BoxBlur(field, radius);
}

FloatField Halve(const FloatField& field) {
  FloatField half = FloatField::Zero((field.width + 1) / 2, (field.height + 1) / 2);
  for (int y = 0; y < half.height; ++y) {
    const int y0 = 2 * y;
    const int y1 = std::min(y0 + 1, field.height - 1);
    for (int x = 0; x < half.width; ++x) {
      const int x0 = 2 * x;
      const int x1 = std::min(x0 + 1, field.width - 1);
      half.At(x, y) =
          0.25f * (field.At(x0, y0) + field.At(x1, y0) + field.At(x0, y1) + field.At(x1, y1));
    }
  }
  return half;
}

}  // namespace nowcast
