#include "nowcast/MotionField.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace nowcast {
namespace {

// The echo field the motion is read from: levels averaged over cells of
// scale x scale pixels and blurred, so that single pixels and colour steps
// do not dominate.
FloatField CellLevels(const LevelField& frame, int scale) {
  FloatField cells =
      FloatField::Zero((frame.width + scale - 1) / scale, (frame.height + scale - 1) / scale);
  std::vector<int> row_sums(static_cast<std::size_t>(cells.width));
  for (int j = 0; j < cells.height; ++j) {
    std::fill(row_sums.begin(), row_sums.end(), 0);
    const int bottom = std::min((j + 1) * scale, frame.height);
    for (int y = j * scale; y < bottom; ++y) {
      const std::uint8_t* row =
          &frame.levels[static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.width)];
      for (int x = 0; x < frame.width; ++x) row_sums[static_cast<std::size_t>(x / scale)] += row[x];
    }
    // Cells cut by the frame's edge are averaged over the pixels they hold.
    const int rows = bottom - j * scale;
    for (int i = 0; i < cells.width; ++i) {
      const int columns = std::min((i + 1) * scale, frame.width) - i * scale;
      cells.At(i, j) = static_cast<float>(row_sums[static_cast<std::size_t>(i)]) /
                       static_cast<float>(rows * columns);
    }
  }
  BoxBlur(cells, 1);
  return cells;
}

// The field on a grid twice as fine (of the given size), values doubled.
FloatField Upsample(const FloatField& coarse, int width, int height) {
  FloatField fine = FloatField::Zero(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      fine.At(x, y) = 2.0f * Sample(coarse, (static_cast<float>(x) - 0.5f) / 2,
                                    (static_cast<float>(y) - 0.5f) / 2);
    }
  }
  return fine;
}

// The sums of one least-squares fit, each a field over the grid.
struct Normals {
  FloatField xx, xy, yy, xt, yt;

  explicit Normals(int width, int height)
      : xx(FloatField::Zero(width, height)),
        xy(FloatField::Zero(width, height)),
        yy(FloatField::Zero(width, height)),
        xt(FloatField::Zero(width, height)),
        yt(FloatField::Zero(width, height)) {}
};

// Adds the equations of the pair (older, newer), step five-minute units
// apart, for the motion (u, v) per five minutes; the first pair replaces
// what the sums held.
void AddPair(const FloatField& older, const FloatField& newer, float step, const FloatField& u,
             const FloatField& v, float outlier_scale, bool first, Normals& normals,
             FloatField& warped) {
  const float keep = first ? 0.0f : 1.0f;
  const int width = older.width, height = older.height;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      warped.At(x, y) = Sample(newer, static_cast<float>(x) + step * u.At(x, y),
                               static_cast<float>(y) + step * v.At(x, y));
    }
  }
  const float outlier_sq = outlier_scale * outlier_scale;
  for (int y = 0; y < height; ++y) {
    const int up = std::max(y - 1, 0), down = std::min(y + 1, height - 1);
    for (int x = 0; x < width; ++x) {
      const int left = std::max(x - 1, 0), right = std::min(x + 1, width - 1);
      const float gx =
          0.25f * step *
          (older.At(right, y) - older.At(left, y) + warped.At(right, y) - warped.At(left, y));
      const float gy =
          0.25f * step *
          (older.At(x, down) - older.At(x, up) + warped.At(x, down) - warped.At(x, up));
      const float gt = warped.At(x, y) - older.At(x, y);
      const float weight = outlier_sq / (outlier_sq + gt * gt);
      const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                            static_cast<std::size_t>(x);
      normals.xx.values[i] = keep * normals.xx.values[i] + weight * gx * gx;
      normals.xy.values[i] = keep * normals.xy.values[i] + weight * gx * gy;
      normals.yy.values[i] = keep * normals.yy.values[i] + weight * gy * gy;
      normals.xt.values[i] = keep * normals.xt.values[i] + weight * gx * gt;
      normals.yt.values[i] = keep * normals.yt.values[i] + weight * gy * gt;
    }
  }
}

// Normalised convolution of the motion with the weight, falling back to the
// weighted mean motion where the weight around a point is small.
void SmoothByWeight(FloatField& u, FloatField& v, FloatField weight, float sigma) {
  double total = 0, mean_u = 0, mean_v = 0;
  for (std::size_t i = 0; i < weight.values.size(); ++i) {
    total += weight.values[i];
    mean_u += static_cast<double>(weight.values[i]) * u.values[i];
    mean_v += static_cast<double>(weight.values[i]) * v.values[i];
  }
  if (total <= 0) {
    std::fill(u.values.begin(), u.values.end(), 0.0f);
    std::fill(v.values.begin(), v.values.end(), 0.0f);
    return;
  }
  mean_u /= total;
  mean_v /= total;
  for (std::size_t i = 0; i < weight.values.size(); ++i) {
    u.values[i] *= weight.values[i];
    v.values[i] *= weight.values[i];
  }
  GaussianBlur(u, sigma);
  GaussianBlur(v, sigma);
  GaussianBlur(weight, sigma);
  // A point whose surroundings carry a hundredth of the mean weight is half
  // its neighbours' motion and half the mean motion.
  const float floor = static_cast<float>(0.01 * total / static_cast<double>(weight.values.size()));
  for (std::size_t i = 0; i < weight.values.size(); ++i) {
    const float w = weight.values[i];
    u.values[i] = (u.values[i] + floor * static_cast<float>(mean_u)) / (w + floor);
    v.values[i] = (v.values[i] + floor * static_cast<float>(mean_v)) / (w + floor);
  }
}

// pyramid[k][g]: frame first + k on grid g, grid 0 the finest.
std::vector<std::vector<FloatField>> BuildPyramids(const std::vector<const LevelField*>& frames,
                                                   std::size_t first,
                                                   const MotionOptions& options) {
  std::vector<std::vector<FloatField>> pyramid;
  for (std::size_t k = first; k < frames.size(); ++k) {
    std::vector<FloatField> grids;
    grids.push_back(CellLevels(*frames[k], options.grid_scale));
    for (int g = 0; g < options.pyramid_levels; ++g) {
      if (grids.back().width < 16 || grids.back().height < 16) break;
      grids.push_back(Halve(grids.back()));
    }
    pyramid.push_back(std::move(grids));
  }
  return pyramid;
}

// One step of the least-squares fit: the normal equations, summed over the
// window, solved at every grid point for the change of the motion, which is
// bounded so that a step cannot jump past the fit's reach.
void SolveStep(Normals& normals, float lambda, int window_radius, FloatField& u, FloatField& v) {
  BoxBlur(normals.xx, window_radius);
  BoxBlur(normals.xy, window_radius);
  BoxBlur(normals.yy, window_radius);
  BoxBlur(normals.xt, window_radius);
  BoxBlur(normals.yt, window_radius);
  for (std::size_t i = 0; i < u.values.size(); ++i) {
    const float a = normals.xx.values[i] + lambda;
    const float b = normals.xy.values[i];
    const float c = normals.yy.values[i] + lambda;
    const float det = a * c - b * b;
    const float du = -(c * normals.xt.values[i] - b * normals.yt.values[i]) / det;
    const float dv = -(a * normals.yt.values[i] - b * normals.xt.values[i]) / det;
    u.values[i] += std::clamp(du, -1.5f, 1.5f);
    v.values[i] += std::clamp(dv, -1.5f, 1.5f);
  }
}

}  // namespace

MotionField EstimateMotion(const std::vector<const LevelField*>& frames,
                           const std::vector<float>& steps, const MotionOptions& options) {
  const std::size_t pairs =
      std::min(frames.size() - 1, static_cast<std::size_t>(std::max(options.pairs, 1)));
  const std::size_t first = frames.size() - 1 - pairs;
  const std::vector<std::vector<FloatField>> pyramid = BuildPyramids(frames, first, options);
  const std::size_t grid_count = pyramid.front().size();
  const float lambda = options.regularisation * static_cast<float>(pairs);

  FloatField u, v;
  FloatField weight;
  for (std::size_t g = grid_count; g-- > 0;) {
    const int width = pyramid.front()[g].width, height = pyramid.front()[g].height;
    if (u.values.empty()) {
      u = FloatField::Zero(width, height);
      v = FloatField::Zero(width, height);
    } else {
      u = Upsample(u, width, height);
      v = Upsample(v, width, height);
    }
    FloatField warped = FloatField::Zero(width, height);
    Normals normals(width, height);
    for (int iteration = 0; iteration < options.iterations; ++iteration) {
      for (std::size_t p = 0; p < pairs; ++p) {
        AddPair(pyramid[p][g], pyramid[p + 1][g], steps[first + p], u, v, options.outlier_scale,
                p == 0, normals, warped);
      }
      SolveStep(normals, lambda, options.window_radius, u, v);
      if (g == 0 && iteration + 1 == options.iterations) {
        weight = std::move(normals.xx);
        for (std::size_t i = 0; i < weight.values.size(); ++i) {
          weight.values[i] += normals.yy.values[i];
        }
      }
    }
  }
  // From grid points to frame pixels.
  const auto scale = static_cast<float>(options.grid_scale);
  for (float& value : u.values) value *= scale;
  for (float& value : v.values) value *= scale;
  SmoothByWeight(u, v, std::move(weight), options.smoothing_sigma / scale);
  return MotionField{std::move(u), std::move(v), options.grid_scale};
}

}  // namespace nowcast
