#include "picture/Bitmap.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <utility>

#include "platform/Exceptions.h"

namespace picture {
namespace {

constexpr const char* kInvalidGraphic = "Bitmap image is not valid";

// A palette longer than this is refused; no depth can index more entries.
constexpr std::size_t kMaxPaletteEntries = 256;

bool IsSupportedDepth(int bit_count) {
  switch (bit_count) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      return true;
    default:
      return false;
  }
}

uint32_t PixelBits(int bit_count) {
  return bit_count >= 32 ? 0xFFFFFFFFu : (uint32_t{1} << bit_count) - 1;
}

// A single run of set bits (or no bits at all).
bool IsContiguous(uint32_t mask) {
  if (mask == 0) return true;
  const uint32_t shifted = mask >> std::countr_zero(mask);
  return (shifted & (shifted + 1)) == 0;
}

// An 8-bit channel value scaled to the width of a mask and moved into place.
uint32_t ScaleToMask(uint8_t channel, uint32_t mask) {
  if (mask == 0) return 0;
  const uint64_t max_value = (uint64_t{1} << std::popcount(mask)) - 1;
  const uint64_t scaled = (uint64_t{channel} * max_value + 127) / 255;
  return static_cast<uint32_t>(scaled << std::countr_zero(mask));
}

// A channel taken out of a pixel value and scaled to 0..255.
uint8_t ScaleFromMask(uint32_t value, uint32_t mask) {
  if (mask == 0) return 0;
  const uint64_t max_value = (uint64_t{1} << std::popcount(mask)) - 1;
  const uint64_t channel = (value & mask) >> std::countr_zero(mask);
  return static_cast<uint8_t>((channel * 255 + max_value / 2) / max_value);
}

}  // namespace

ChannelMasks DefaultMasks(int bit_count) {
  if (bit_count == 16) return ChannelMasks{0x7C00, 0x03E0, 0x001F, 0};
  if (bit_count == 32) return ChannelMasks{0x00FF0000, 0x0000FF00, 0x000000FF, 0};
  return ChannelMasks{};
}

bool MasksAreValid(const ChannelMasks& masks, int bit_count) {
  if (bit_count != 16 && bit_count != 32) return masks == ChannelMasks{};
  const uint32_t outside = ~PixelBits(bit_count);
  const uint32_t all[] = {masks.red, masks.green, masks.blue, masks.alpha};
  if (masks.red == 0 || masks.green == 0 || masks.blue == 0) return false;
  uint32_t seen = 0;
  for (uint32_t mask : all) {
    if ((mask & outside) != 0 || !IsContiguous(mask) || (mask & seen) != 0) return false;
    seen |= mask;
  }
  return true;
}

Bitmap::Bitmap(int width, int height, int bit_count)
    : Bitmap(width, height, bit_count, {}, DefaultMasks(bit_count)) {}

Bitmap::Bitmap(int width, int height, int bit_count, std::vector<PaletteEntry> palette,
               ChannelMasks masks)
    : width_(width),
      height_(height),
      bit_count_(bit_count),
      palette_(std::move(palette)),
      masks_(masks) {
  if (width < 1 || width > kMaxDimension || height < 1 || height > kMaxDimension ||
      !IsSupportedDepth(bit_count) || !MasksAreValid(masks, bit_count)) {
    throw platform::EInvalidGraphic(kInvalidGraphic);
  }
  if (IsIndexed()) {
    const std::size_t entries = std::size_t{1} << bit_count;
    if (palette_.empty()) {
      // A grey ramp, so that a new indexed picture holds black and white.
      for (std::size_t i = 0; i < entries; ++i) {
        const auto level = static_cast<uint8_t>(i * 255 / (entries - 1));
        palette_.push_back(PaletteEntry{level, level, level, 0});
      }
    }
    if (palette_.size() > entries) throw platform::EInvalidGraphic(kInvalidGraphic);
  } else if (palette_.size() > kMaxPaletteEntries) {
    throw platform::EInvalidGraphic(kInvalidGraphic);
  }
  // Both factors are bounded by kMaxDimension and 32 bits, so this cannot
  // overflow: at most 64 KiB per row and 1 GiB in all.
  stride_ = (static_cast<std::size_t>(width) * static_cast<std::size_t>(bit_count) + 31) / 32 * 4;
  pixels_.assign(stride_ * static_cast<std::size_t>(height), 0);
}

void Bitmap::SetResolution(int32_t x_pels_per_meter, int32_t y_pels_per_meter) {
  x_pels_per_meter_ = x_pels_per_meter;
  y_pels_per_meter_ = y_pels_per_meter;
}

std::span<const uint8_t> Bitmap::Row(int y) const {
  return {pixels_.data() + static_cast<std::size_t>(y) * stride_, stride_};
}

std::span<uint8_t> Bitmap::Row(int y) {
  return {pixels_.data() + static_cast<std::size_t>(y) * stride_, stride_};
}

uint32_t Bitmap::PixelValue(int x, int y) const {
  const uint8_t* row = Row(y).data();
  const auto ux = static_cast<std::size_t>(x);
  switch (bit_count_) {
    case 1:
      return (row[ux >> 3] >> (7 - (ux & 7))) & 1u;
    case 4:
      return (ux & 1) == 0 ? row[ux >> 1] >> 4 : row[ux >> 1] & 0x0Fu;
    case 8:
      return row[ux];
    case 16:
      return row[2 * ux] | (uint32_t{row[2 * ux + 1]} << 8);
    case 24:
      return row[3 * ux] | (uint32_t{row[3 * ux + 1]} << 8) | (uint32_t{row[3 * ux + 2]} << 16);
    default:
      return row[4 * ux] | (uint32_t{row[4 * ux + 1]} << 8) | (uint32_t{row[4 * ux + 2]} << 16) |
             (uint32_t{row[4 * ux + 3]} << 24);
  }
}

void Bitmap::SetPixelValue(int x, int y, uint32_t value) {
  uint8_t* row = Row(y).data();
  const auto ux = static_cast<std::size_t>(x);
  value &= PixelBits(bit_count_);
  switch (bit_count_) {
    case 1: {
      const auto bit = static_cast<uint8_t>(0x80u >> (ux & 7));
      row[ux >> 3] = static_cast<uint8_t>(value != 0 ? row[ux >> 3] | bit : row[ux >> 3] & ~bit);
      break;
    }
    case 4:
      row[ux >> 1] = static_cast<uint8_t>((ux & 1) == 0 ? (row[ux >> 1] & 0x0F) | (value << 4)
                                                        : (row[ux >> 1] & 0xF0) | value);
      break;
    case 8:
      row[ux] = static_cast<uint8_t>(value);
      break;
    default: {
      const std::size_t bytes = static_cast<std::size_t>(bit_count_) / 8;
      for (std::size_t i = 0; i < bytes; ++i) {
        row[bytes * ux + i] = static_cast<uint8_t>(value >> (8 * i));
      }
      break;
    }
  }
}

Rgb Bitmap::PixelColor(int x, int y) const {
  const uint32_t value = PixelValue(x, y);
  if (IsIndexed()) {
    // Decoders refuse out-of-range indices, but a caller may store one.
    if (value >= palette_.size()) return kBlack;
    const PaletteEntry& entry = palette_[value];
    return Rgb{entry.red, entry.green, entry.blue};
  }
  if (bit_count_ == 24) {
    return Rgb{static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
               static_cast<uint8_t>(value)};
  }
  return Rgb{ScaleFromMask(value, masks_.red), ScaleFromMask(value, masks_.green),
             ScaleFromMask(value, masks_.blue)};
}

uint32_t Bitmap::NearestPaletteIndex(Rgb color) const {
  uint32_t best = 0;
  int best_distance = std::numeric_limits<int>::max();
  for (std::size_t i = 0; i < palette_.size(); ++i) {
    const int dr = int{palette_[i].red} - color.red;
    const int dg = int{palette_[i].green} - color.green;
    const int db = int{palette_[i].blue} - color.blue;
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < best_distance) {
      best_distance = distance;
      best = static_cast<uint32_t>(i);
    }
  }
  return best;
}

Bitmap::PaintValue Bitmap::PaintValueFor(Rgb color) const {
  if (IsIndexed()) return PaintValue{NearestPaletteIndex(color), 0};
  if (bit_count_ == 24) {
    return PaintValue{(uint32_t{color.red} << 16) | (uint32_t{color.green} << 8) | color.blue, 0};
  }
  const uint32_t used = masks_.red | masks_.green | masks_.blue | masks_.alpha;
  return PaintValue{ScaleToMask(color.red, masks_.red) | ScaleToMask(color.green, masks_.green) |
                        ScaleToMask(color.blue, masks_.blue) | masks_.alpha,
                    ~used & PixelBits(bit_count_)};
}

void Bitmap::Store(int x, int y, const PaintValue& paint) {
  const uint32_t old = paint.keep != 0 ? PixelValue(x, y) : 0;
  SetPixelValue(x, y, (old & paint.keep) | paint.value);
}

void Bitmap::PaintPixel(int x, int y, Rgb color) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  Store(x, y, PaintValueFor(color));
}

void Bitmap::FillRect(int64_t left, int64_t top, int64_t right, int64_t bottom, Rgb color) {
  left = std::max<int64_t>(left, 0);
  top = std::max<int64_t>(top, 0);
  right = std::min<int64_t>(right, width_);
  bottom = std::min<int64_t>(bottom, height_);
  if (left >= right || top >= bottom) return;
  const PaintValue paint = PaintValueFor(color);
  if (bit_count_ >= 8 && paint.keep == 0) {
    // Whole-byte pixels that replace the old value: the first row's span is
    // painted once and copied to the others (a full new picture is filled
    // this way).
    const std::size_t bytes = static_cast<std::size_t>(bit_count_) / 8;
    const std::size_t offset = static_cast<std::size_t>(left) * bytes;
    const std::size_t length = static_cast<std::size_t>(right - left) * bytes;
    uint8_t* first = Row(static_cast<int>(top)).data() + offset;
    for (std::size_t i = 0; i < length; ++i) {
      first[i] = static_cast<uint8_t>(paint.value >> (8 * (i % bytes)));
    }
    for (auto y = static_cast<int>(top) + 1; y < bottom; ++y) {
      std::copy(first, first + length, Row(y).data() + offset);
    }
    return;
  }
  for (auto y = static_cast<int>(top); y < bottom; ++y) {
    for (auto x = static_cast<int>(left); x < right; ++x) Store(x, y, paint);
  }
}

}  // namespace picture
