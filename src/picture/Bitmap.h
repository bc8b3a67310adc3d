// An in-memory raster picture that keeps the pixel format it was made or
// loaded with: its bit depth, its palette and, for 16- and 32-bit pixels, where
// the colour channels lie. Pixels are stored packed in that format, rows top
// to bottom, so a loaded picture is saved back exactly as it came apart from
// the pixels that were painted over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace picture {

// The largest width or height accepted; a bigger picture is a memory bomb,
// not a background.
inline constexpr int kMaxDimension = 16384;

// Pixels per metre at 96 pixels per inch, the resolution a new picture
// records.
inline constexpr int32_t kScreenPixelsPerMeter = 3780;

struct Rgb {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};

// One palette entry; the fourth byte is kept as the file had it.
struct PaletteEntry {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  uint8_t reserved = 0;
  friend bool operator==(const PaletteEntry&, const PaletteEntry&) = default;
};

// The bits of a 16- or 32-bit pixel that hold each channel. Every mask is a
// single run of bits and no two overlap; a zero alpha mask means the picture
// has no alpha channel. Bits outside all four masks are unused.
struct ChannelMasks {
  uint32_t red = 0;
  uint32_t green = 0;
  uint32_t blue = 0;
  uint32_t alpha = 0;
  friend bool operator==(const ChannelMasks&, const ChannelMasks&) = default;
};

// The layout of uncompressed 16-bit (5-5-5) and 32-bit (8-8-8) pixels; all
// zero for the other depths.
ChannelMasks DefaultMasks(int bit_count);

// True when the masks are usable for the depth: each a single run of bits
// inside the pixel, no two overlapping.
bool MasksAreValid(const ChannelMasks& masks, int bit_count);

class Bitmap {
 public:
  // A picture of the given size and depth (1, 4, 8, 16, 24 or 32 bits per
  // pixel) with every pixel value zero: black, or palette entry 0. Indexed
  // depths get a grey ramp palette from black to white, 16 and 32 bits the
  // default masks. Throws EInvalidGraphic for a size outside 1 to
  // kMaxDimension or another depth.
  Bitmap(int width, int height, int bit_count);

  // A picture with its own palette and masks, as a decoder finds them. An
  // indexed picture needs 1 to 2^depth palette entries; a deeper one may
  // carry up to 256 entries as a hint for display. Throws EInvalidGraphic
  // when the palette or masks do not fit the depth.
  Bitmap(int width, int height, int bit_count, std::vector<PaletteEntry> palette,
         ChannelMasks masks);

  int Width() const { return width_; }
  int Height() const { return height_; }
  int BitCount() const { return bit_count_; }
  bool IsIndexed() const { return bit_count_ <= 8; }
  // Bytes per stored row: the pixel bits padded to a multiple of 32.
  std::size_t Stride() const { return stride_; }
  const std::vector<PaletteEntry>& Palette() const { return palette_; }
  const ChannelMasks& Masks() const { return masks_; }

  // Resolution in pixels per metre, carried from file to file.
  int32_t XPelsPerMeter() const { return x_pels_per_meter_; }
  int32_t YPelsPerMeter() const { return y_pels_per_meter_; }
  void SetResolution(int32_t x_pels_per_meter, int32_t y_pels_per_meter);

  // The stored value of a pixel: a palette index, the packed 16- or 32-bit
  // value, or 0xRRGGBB for 24 bits. (0, 0) is the top-left pixel; the
  // coordinates must lie inside the picture.
  uint32_t PixelValue(int x, int y) const;
  void SetPixelValue(int x, int y, uint32_t value);

  // The colour a pixel shows.
  Rgb PixelColor(int x, int y) const;

  // Paints one pixel in the colour nearest to `color` that the format can
  // show: the nearest palette entry of an indexed picture, the colour scaled
  // to the channel masks otherwise. Alpha becomes opaque; unused bits of a
  // 16- or 32-bit pixel keep their value. Coordinates outside are ignored.
  void PaintPixel(int x, int y, Rgb color);

  // Paints the rectangle [left, right) x [top, bottom), clipped to the
  // picture, like PaintPixel.
  void FillRect(int64_t left, int64_t top, int64_t right, int64_t bottom, Rgb color);

  // The palette index nearest to `color` (smallest squared distance, lowest
  // index on a tie). The picture must be indexed.
  uint32_t NearestPaletteIndex(Rgb color) const;

  // One stored row, top row 0; bits past the width are zero.
  std::span<const uint8_t> Row(int y) const;
  std::span<uint8_t> Row(int y);

  friend bool operator==(const Bitmap&, const Bitmap&) = default;

 private:
  // A colour in this format: the bits to set and the bits of the old value
  // to keep.
  struct PaintValue {
    uint32_t value;
    uint32_t keep;
  };
  PaintValue PaintValueFor(Rgb color) const;
  void Store(int x, int y, const PaintValue& paint);

  int width_ = 0;
  int height_ = 0;
  int bit_count_ = 0;
  std::size_t stride_ = 0;
  std::vector<PaletteEntry> palette_;
  ChannelMasks masks_;
  int32_t x_pels_per_meter_ = kScreenPixelsPerMeter;
  int32_t y_pels_per_meter_ = kScreenPixelsPerMeter;
  std::vector<uint8_t> pixels_;
};

}  // namespace picture
