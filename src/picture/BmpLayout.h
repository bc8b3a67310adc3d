// The layout of BMP files, shared by the decoder, the encoder and the file
// reader: header sizes and codes, a bounds-checked reader of little-endian
// fields, and what the headers of a file say once checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "picture/Bitmap.h"
#include "platform/Exceptions.h"

namespace picture::bmp {

inline constexpr const char* kInvalidGraphic = "Bitmap image is not valid";

inline constexpr std::size_t kFileHeaderSize = 14;
inline constexpr uint32_t kCoreHeaderSize = 12;
inline constexpr uint32_t kInfoHeaderSize = 40;
// The 40-byte header extended by three masks, and by an alpha mask too.
inline constexpr uint32_t kMasksHeaderSize = 52;
inline constexpr uint32_t kAlphaMaskHeaderSize = 56;
inline constexpr uint32_t kV4HeaderSize = 108;
inline constexpr uint32_t kV5HeaderSize = 124;

inline constexpr uint32_t kCompressionRgb = 0;
inline constexpr uint32_t kCompressionRle8 = 1;
inline constexpr uint32_t kCompressionRle4 = 2;
inline constexpr uint32_t kCompressionBitfields = 3;

// Colour space tag of the 108-byte header: the picture is sRGB.
inline constexpr uint32_t kColorSpaceSrgb = 0x73524742;

// A palette longer than this is refused; no depth can index more entries.
inline constexpr uint32_t kMaxPaletteEntries = 256;

// The largest file read: the largest picture's pixels (16384 rows of 64 KiB)
// plus room for headers, a palette and an embedded colour profile.
inline constexpr std::size_t kMaxFileBytes = (std::size_t{1} << 30) + (std::size_t{1} << 20);

[[noreturn]] inline void Invalid() { throw platform::EInvalidGraphic(kInvalidGraphic); }

// Little-endian fields read at absolute offsets, each checked against the
// end of the data.
class ByteReader {
 public:
  explicit ByteReader(std::string_view bytes) : bytes_(bytes) {}

  std::size_t Size() const { return bytes_.size(); }
  bool Has(std::size_t offset, std::size_t count) const {
    return offset <= bytes_.size() && count <= bytes_.size() - offset;
  }
  uint8_t U8(std::size_t offset) const {
    if (!Has(offset, 1)) Invalid();
    return static_cast<uint8_t>(bytes_[offset]);
  }
  uint16_t U16(std::size_t offset) const {
    if (!Has(offset, 2)) Invalid();
    return static_cast<uint16_t>(U8(offset) | (U8(offset + 1) << 8));
  }
  uint32_t U32(std::size_t offset) const {
    if (!Has(offset, 4)) Invalid();
    return uint32_t{U16(offset)} | (uint32_t{U16(offset + 2)} << 16);
  }
  int32_t I32(std::size_t offset) const { return static_cast<int32_t>(U32(offset)); }
  const uint8_t* At(std::size_t offset) const {
    return reinterpret_cast<const uint8_t*>(bytes_.data()) + offset;
  }

 private:
  std::string_view bytes_;
};

// What the headers say, checked.
struct Layout {
  int width = 0;
  int height = 0;
  bool top_down = false;
  int bit_count = 0;
  uint32_t compression = kCompressionRgb;
  ChannelMasks masks;
  std::vector<PaletteEntry> palette;
  int32_t x_pels_per_meter = 0;
  int32_t y_pels_per_meter = 0;
  std::size_t pixel_offset = 0;
  // The compressed data's length for RLE pictures.
  std::size_t rle_length = 0;
};

// Reads and checks every header field, the masks and the palette. Throws
// EInvalidGraphic for anything not valid or not supported.
Layout ReadLayout(const ByteReader& in, int max_dimension);

// Refuses, before anything is allocated, a picture whose pixels would take
// more than max_pixel_bytes, and an uncompressed one whose pixels would not
// fit in the file_bytes of the file from the pixel offset on.
void CheckPixelMemory(const Layout& layout, std::size_t file_bytes, std::size_t max_pixel_bytes);

// Copies the row stored as the file's row'th (counted in storage order) into
// the picture, dropping bits past the width.
void CopyStoredRow(const uint8_t* source, std::size_t row, const Layout& layout, Bitmap& bitmap);

// Refuses a picture with a stored palette index beyond its palette.
void CheckIndices(const Bitmap& bitmap);

// Everything of the file before its pixels: both headers, the masks and the
// palette.
std::string EncodeHead(const Bitmap& bitmap);

// The file's pieces in order: the head, then the rows from the bottom up,
// straight from the picture's memory.
std::vector<std::string_view> Pieces(const Bitmap& bitmap, const std::string& head);

}  // namespace picture::bmp
