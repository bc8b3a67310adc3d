#include "RadarScene.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace sim {
namespace {

constexpr int kCellCount = 9;  // showers
constexpr int kBandCount = 2;  // long bands of light rain
constexpr int kLevels = 15;
// The echo drifts towards the north-east, about 42 pixels per half hour.
constexpr double kDriftX = 1.4;   // pixels per minute
constexpr double kDriftY = -0.7;  // pixels per minute (up)
constexpr double kCentre = kFrameSize / 2.0;
constexpr double kRangeRadius = kFrameSize / 2.0 - 6;  // the radar's reach
constexpr double kEchoThreshold = 0.08;                // weaker returns are not shown

constexpr std::array<PaletteEntry, kLevels + 1> kPalette = {{
    {0, 0, 0, 0},
    {245, 245, 255, 255},
    {180, 180, 255, 255},
    {120, 120, 255, 255},
    {20, 20, 255, 255},
    {0, 216, 195, 255},
    {0, 150, 144, 255},
    {0, 102, 102, 255},
    {255, 255, 0, 255},
    {255, 200, 0, 255},
    {255, 150, 0, 255},
    {255, 100, 0, 255},
    {255, 0, 0, 255},
    {200, 0, 0, 255},
    {120, 0, 0, 255},
    {40, 0, 0, 255},
}};

// A well-mixed 64-bit hash, so that neighbouring inputs give unrelated values.
std::uint64_t Mix(std::uint64_t value) {
  value ^= value >> 33;
  value *= 0xff51afd7ed558ccdULL;
  value ^= value >> 33;
  value *= 0xc4ceb9fe1a85ec53ULL;
  value ^= value >> 33;
  return value;
}

double Unit(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
  const std::uint64_t hash =
      Mix(Mix(Mix(a) ^ (b + 0x9e3779b97f4a7c15ULL)) ^ (c * 0x632be59bd9b4e019ULL));
  return static_cast<double>(hash >> 11) * (1.0 / 9007199254740992.0);
}

// Smooth lattice noise in [0, 1) with six octaves; it gives the cells their
// ragged, grainy look.
double LatticeNoise(double x, double y) {
  double sum = 0, weight = 0, amplitude = 1.0, cell = 48.0;
  for (std::uint64_t octave = 0; octave < 6; ++octave) {
    const double fx = std::floor(x / cell), fy = std::floor(y / cell);
    double tx = x / cell - fx, ty = y / cell - fy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    const auto ix = static_cast<std::uint64_t>(static_cast<std::int64_t>(fx));
    const auto iy = static_cast<std::uint64_t>(static_cast<std::int64_t>(fy));
    const double v00 = Unit(ix, iy, octave), v10 = Unit(ix + 1, iy, octave);
    const double v01 = Unit(ix, iy + 1, octave), v11 = Unit(ix + 1, iy + 1, octave);
    const double top = v00 + (v10 - v00) * tx, bottom = v01 + (v11 - v01) * tx;
    sum += amplitude * (top + (bottom - top) * ty);
    weight += amplitude;
    amplitude *= 0.7;
    cell /= 2.0;
  }
  return sum / weight;
}

struct Cell {
  double x = 0, y = 0;          // centre
  double cos_a = 1, sin_a = 0;  // orientation of the long axis
  double long_radius = 1, short_radius = 1;
  double strength = 0;  // peak intensity now, 0 when the cell is not alive
};

// Cell i lives through successive generations; each generation is born at a
// random place, grows, drifts and fades out over its lifetime. Bands live
// longer, are much longer than wide and carry lighter rain.
Cell CellAt(int index, double t) {
  const bool band = index >= kCellCount;
  const auto i = static_cast<std::uint64_t>(index);
  const double lifetime = (band ? 300.0 : 100.0) + 80.0 * Unit(i, 1, 0);
  const double phase = lifetime * Unit(i, 2, 0);
  const double generation = std::floor((t + phase) / lifetime);
  const double born = generation * lifetime - phase;
  const double age = (t - born) / lifetime;  // 0 to 1
  const auto g = static_cast<std::uint64_t>(static_cast<std::int64_t>(generation));

  Cell cell;
  const double elapsed = t - born;
  cell.x = -120.0 + 520.0 * Unit(i, g, 3) + kDriftX * elapsed;
  cell.y = 120.0 + 520.0 * Unit(i, g, 4) + kDriftY * elapsed;
  const double angle = std::numbers::pi * Unit(i, g, 5);
  cell.cos_a = std::cos(angle);
  cell.sin_a = std::sin(angle);
  const double envelope = std::pow(std::sin(std::numbers::pi * age), 1.3);
  if (band) {
    cell.x -= 0.3 * kDriftX * lifetime;  // start further upwind: a band crosses the picture
    cell.y -= 0.3 * kDriftY * lifetime;
    cell.long_radius = 160.0 + 120.0 * Unit(i, g, 6);
    cell.short_radius = 30.0 + 20.0 * Unit(i, g, 7);
    cell.strength = (0.25 + 0.2 * Unit(i, g, 8)) * envelope;
  } else {
    cell.long_radius = 28.0 + 42.0 * Unit(i, g, 6);
    cell.short_radius = cell.long_radius * (0.45 + 0.4 * Unit(i, g, 7));
    cell.strength = (0.55 + 0.55 * Unit(i, g, 8)) * envelope;
  }
  return cell;
}

}  // namespace

IndexedImage RenderRadarFrame(Minutes frame_time) {
  const double t = static_cast<double>(frame_time);
  std::array<Cell, kCellCount + kBandCount> cells;
  for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = CellAt(static_cast<int>(i), t);
  // The texture moves with the echo.
  const double drift_x = kDriftX * t;
  const double drift_y = kDriftY * t;

  IndexedImage image;
  image.width = kFrameSize;
  image.height = kFrameSize;
  image.palette.assign(kPalette.begin(), kPalette.end());
  image.pixels.assign(static_cast<std::size_t>(kFrameSize) * kFrameSize, 0);
  const auto clutter_seed = static_cast<std::uint64_t>(frame_time);

  for (int y = 0; y < kFrameSize; ++y) {
    for (int x = 0; x < kFrameSize; ++x) {
      const double dx = x - kCentre, dy = y - kCentre;
      const double distance_sq = dx * dx + dy * dy;
      if (distance_sq > kRangeRadius * kRangeRadius) continue;
      double field = 0;
      for (const Cell& cell : cells) {
        if (cell.strength <= 0) continue;
        const double px = x - cell.x, py = y - cell.y;
        const double along = (px * cell.cos_a + py * cell.sin_a) / cell.long_radius;
        const double across = (-px * cell.sin_a + py * cell.cos_a) / cell.short_radius;
        const double r2 = along * along + across * across;
        if (r2 < 9.0) field += cell.strength * std::exp(-0.5 * r2);
      }
      // Ground clutter close to the radar flickers from frame to frame.
      if (distance_sq < 28.0 * 28.0) {
        const auto ux = static_cast<std::uint64_t>(x), uy = static_cast<std::uint64_t>(y);
        if (Unit(ux, uy, clutter_seed) < 0.12) field += 0.35;
      }
      if (field < kEchoThreshold * 0.5) continue;
      field *= 0.25 + 1.3 * LatticeNoise(x - drift_x, y - drift_y);
      if (field < kEchoThreshold) continue;
      int level = 1 + static_cast<int>((field - kEchoThreshold) * 14.0);
      // Single range gates scatter by a level up or down, as measured
      // reflectivity does.
      const double scatter = Unit(
          static_cast<std::uint64_t>(x) << 16 | static_cast<std::uint64_t>(y), clutter_seed, 7);
      if (scatter < 0.3 && level > 1) --level;
      if (scatter > 0.7) ++level;
      image.pixels[static_cast<std::size_t>(y) * kFrameSize + static_cast<std::size_t>(x)] =
          static_cast<std::uint8_t>(level > kLevels ? kLevels : level);
    }
  }
  return image;
}

}  // namespace sim
