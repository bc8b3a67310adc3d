#include "picture/BmpCodec.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <string_view>
#include <utility>

#include "picture/BmpLayout.h"

namespace picture {
namespace bmp {
namespace {

bool DepthAllowed(int bit_count, bool core) {
  switch (bit_count) {
    case 1:
    case 4:
    case 8:
    case 24:
      return true;
    case 16:
    case 32:
      return !core;
    default:
      return false;
  }
}

// The bytes the pixels take, in the file when stored uncompressed and in
// memory either way: rows padded to four bytes.
std::size_t PixelBytes(const Layout& layout) {
  const auto width = static_cast<std::size_t>(layout.width);
  const auto bits = static_cast<std::size_t>(layout.bit_count);
  return (width * bits + 31) / 32 * 4 * static_cast<std::size_t>(layout.height);
}

}  // namespace

namespace {

// The size, depth and compression fields of the info or core header at
// kFileHeaderSize, checked; returns the count of palette entries the header
// declares (0: as many as the depth allows).
uint32_t ReadHeaderFields(const ByteReader& in, bool core, int max_dimension, Layout& layout) {
  const std::size_t h = kFileHeaderSize;
  int64_t width = 0;
  int64_t height = 0;
  uint16_t planes = 0;
  uint32_t colors_used = 0;
  if (core) {
    width = in.U16(h + 4);
    height = in.U16(h + 6);
    planes = in.U16(h + 8);
    layout.bit_count = in.U16(h + 10);
  } else {
    width = in.I32(h + 4);
    height = in.I32(h + 8);
    planes = in.U16(h + 12);
    layout.bit_count = in.U16(h + 14);
    layout.compression = in.U32(h + 16);
    layout.x_pels_per_meter = in.I32(h + 24);
    layout.y_pels_per_meter = in.I32(h + 28);
    colors_used = in.U32(h + 32);
  }
  // The height is widened before its sign is taken, so INT32_MIN is safe.
  layout.top_down = height < 0;
  if (height < 0) height = -height;
  if (width < 1 || height < 1 || width > max_dimension || height > max_dimension ||
      width > kMaxDimension || height > kMaxDimension) {
    Invalid();
  }
  layout.width = static_cast<int>(width);
  layout.height = static_cast<int>(height);
  if (planes != 1 || !DepthAllowed(layout.bit_count, core)) Invalid();

  switch (layout.compression) {
    case kCompressionRgb:
      break;
    case kCompressionRle8:
      if (layout.bit_count != 8 || layout.top_down) Invalid();
      break;
    case kCompressionRle4:
      if (layout.bit_count != 4 || layout.top_down) Invalid();
      break;
    case kCompressionBitfields:
      if (layout.bit_count != 16 && layout.bit_count != 32) Invalid();
      break;
    default:
      Invalid();
  }
  return colors_used;
}

// The channel masks; position is where the data after the header starts and
// moves past masks stored there.
void ReadMasks(const ByteReader& in, uint32_t header_size, std::size_t& position, Layout& layout) {
  if (layout.compression != kCompressionBitfields) {
    layout.masks = DefaultMasks(layout.bit_count);
    return;
  }
  // The 40-byte header keeps the three masks after itself, the longer
  // headers inside; only the 56-byte and longer headers have an alpha mask.
  const std::size_t h = kFileHeaderSize;
  const std::size_t at = header_size == kInfoHeaderSize ? position : h + kInfoHeaderSize;
  layout.masks.red = in.U32(at);
  layout.masks.green = in.U32(at + 4);
  layout.masks.blue = in.U32(at + 8);
  if (header_size >= kAlphaMaskHeaderSize) layout.masks.alpha = in.U32(h + kMasksHeaderSize);
  if (header_size == kInfoHeaderSize) position += 12;
  if (!MasksAreValid(layout.masks, layout.bit_count)) Invalid();
}

// The palette stored at position, which then moves past it.
void ReadPalette(const ByteReader& in, bool core, uint32_t colors_used, uint32_t pixel_offset,
                 std::size_t& position, Layout& layout) {
  const std::size_t entry_size = core ? 3 : 4;
  std::size_t entries = 0;
  if (layout.bit_count <= 8) {
    const uint32_t full = uint32_t{1} << layout.bit_count;
    entries = colors_used == 0 ? full : colors_used;
    if (entries > full) Invalid();
    // Core-header files often store fewer entries than the depth allows;
    // the pixel offset tells how many are there.
    if (core && pixel_offset >= position && (pixel_offset - position) / entry_size < entries) {
      entries = (pixel_offset - position) / entry_size;
    }
    if (entries == 0) Invalid();
  } else {
    if (colors_used > kMaxPaletteEntries) Invalid();
    entries = colors_used;
  }
  if (!in.Has(position, entries * entry_size)) Invalid();
  layout.palette.reserve(entries);
  for (std::size_t i = 0; i < entries; ++i) {
    const std::size_t at = position + i * entry_size;
    layout.palette.push_back(
        PaletteEntry{in.U8(at + 2), in.U8(at + 1), in.U8(at), core ? uint8_t{0} : in.U8(at + 3)});
  }
  position += entries * entry_size;
}

}  // namespace

Layout ReadLayout(const ByteReader& in, int max_dimension) {
  if (in.U8(0) != 'B' || in.U8(1) != 'M') Invalid();
  // The file-size field at offset 2 is not used: many writers get it wrong,
  // and every read below is checked against the real length instead.
  const uint32_t pixel_offset = in.U32(10);
  const uint32_t header_size = in.U32(kFileHeaderSize);
  const bool core = header_size == kCoreHeaderSize;
  if (!core && header_size != kInfoHeaderSize && header_size != kMasksHeaderSize &&
      header_size != kAlphaMaskHeaderSize && header_size != kV4HeaderSize &&
      header_size != kV5HeaderSize) {
    Invalid();
  }
  if (!in.Has(kFileHeaderSize, header_size)) Invalid();

  Layout layout;
  const uint32_t colors_used = ReadHeaderFields(in, core, max_dimension, layout);
  std::size_t position = kFileHeaderSize + header_size;
  ReadMasks(in, header_size, position, layout);
  ReadPalette(in, core, colors_used, pixel_offset, position, layout);

  if (pixel_offset < position || pixel_offset > in.Size()) Invalid();
  layout.pixel_offset = pixel_offset;
  if (layout.compression == kCompressionRle8 || layout.compression == kCompressionRle4) {
    const uint32_t size_image = in.U32(kFileHeaderSize + 20);
    const std::size_t available = in.Size() - pixel_offset;
    if (size_image > available) Invalid();
    layout.rle_length = size_image == 0 ? available : size_image;
  }
  return layout;
}

// Every stored palette index must name an entry of the palette.
void CheckIndices(const Bitmap& bitmap) {
  const std::size_t entries = bitmap.Palette().size();
  if (entries >= (std::size_t{1} << bitmap.BitCount())) return;
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) {
      if (bitmap.PixelValue(x, y) >= entries) Invalid();
    }
  }
}

// Copies the row stored as the file's row'th (counted in storage order) into
// the picture. Bits past the width are dropped so that they never reach a
// saved file.
void CopyStoredRow(const uint8_t* source, std::size_t row, const Layout& layout, Bitmap& bitmap) {
  const std::size_t used_bits = static_cast<std::size_t>(layout.width) * layout.bit_count;
  const std::size_t full_bytes = used_bits / 8;
  const auto tail_mask = static_cast<uint8_t>(0xFF00u >> (used_bits % 8));
  const auto height = static_cast<std::size_t>(layout.height);
  const int y = static_cast<int>(layout.top_down ? row : height - 1 - row);
  std::span<uint8_t> target = bitmap.Row(y);
  std::copy(source, source + full_bytes, target.begin());
  if (used_bits % 8 != 0) target[full_bytes] = source[full_bytes] & tail_mask;
}

void CheckPixelMemory(const Layout& layout, std::size_t file_bytes, std::size_t max_pixel_bytes) {
  const std::size_t pixel_bytes = PixelBytes(layout);
  if (pixel_bytes > max_pixel_bytes) Invalid();
  const bool compressed =
      layout.compression == kCompressionRle8 || layout.compression == kCompressionRle4;
  if (!compressed &&
      (file_bytes < layout.pixel_offset || file_bytes - layout.pixel_offset < pixel_bytes)) {
    Invalid();
  }
}

namespace {

void DecodeUncompressed(const ByteReader& in, const Layout& layout, Bitmap& bitmap) {
  const std::size_t stride = bitmap.Stride();
  const auto height = static_cast<std::size_t>(layout.height);
  // stride * height is at most 1 GiB, so the product cannot overflow.
  if (!in.Has(layout.pixel_offset, stride * height)) Invalid();
  for (std::size_t row = 0; row < height; ++row) {
    CopyStoredRow(in.At(layout.pixel_offset + row * stride), row, layout, bitmap);
  }
  if (bitmap.IsIndexed()) CheckIndices(bitmap);
}

// The palette index of the i-th pixel of a run drawn from byte: the byte
// itself in RLE8, its high and low halves in turn in RLE4.
uint32_t RleIndex(bool four_bit, uint8_t byte, int i) {
  return four_bit ? ((i & 1) == 0 ? byte >> 4 : byte & 0x0F) : byte;
}

// RLE8 and RLE4: pairs of (count, value) runs, and escapes after a zero
// count: 0 end of line, 1 end of picture, 2 a move right and up, 3..255 that
// many pixels stored literally, padded to a 16-bit boundary. Rows run from
// the bottom. Pixels the data skips keep palette index 0.
void DecodeRle(const ByteReader& in, const Layout& layout, Bitmap& bitmap) {
  const bool four_bit = layout.compression == kCompressionRle4;
  const std::size_t entries = bitmap.Palette().size();
  const std::size_t end = layout.pixel_offset + layout.rle_length;
  const int64_t width = layout.width;
  const int64_t height = layout.height;
  int64_t x = 0;
  int64_t y = 0;  // counted from the bottom row
  std::size_t p = layout.pixel_offset;

  const auto put = [&](uint32_t index) {
    if (index >= entries) Invalid();
    bitmap.SetPixelValue(static_cast<int>(x), static_cast<int>(height - 1 - y), index);
    ++x;
  };

  while (true) {
    if (end - p < 2) {
      // Data may end without the end-of-picture mark once every row is done.
      if (y >= height && p == end) return;
      Invalid();
    }
    const uint8_t count = in.U8(p);
    const uint8_t value = in.U8(p + 1);
    p += 2;
    if (count > 0) {
      if (y >= height || count > width - x) Invalid();
      for (int i = 0; i < count; ++i) put(RleIndex(four_bit, value, i));
      continue;
    }
    switch (value) {
      case 0:
        if (y >= height) Invalid();
        x = 0;
        ++y;
        break;
      case 1:
        return;
      case 2: {
        if (end - p < 2) Invalid();
        const uint8_t dx = in.U8(p);
        const uint8_t dy = in.U8(p + 1);
        p += 2;
        if (dx > width - x || dy >= height - y) Invalid();
        x += dx;
        y += dy;
        break;
      }
      default: {
        const std::size_t data_bytes = four_bit ? (value + 1u) / 2 : value;
        const std::size_t padded = data_bytes + (data_bytes & 1);
        if (end - p < padded || y >= height || value > width - x) Invalid();
        for (int i = 0; i < value; ++i)
          put(RleIndex(four_bit, in.U8(p + (four_bit ? i / 2 : i)), i));
        p += padded;
        break;
      }
    }
  }
}

}  // namespace
}  // namespace bmp

Bitmap DecodeBmp(std::string_view bytes, int max_dimension, std::size_t max_pixel_bytes) {
  const bmp::ByteReader in(bytes);
  bmp::Layout layout = bmp::ReadLayout(in, max_dimension);
  bmp::CheckPixelMemory(layout, bytes.size(), max_pixel_bytes);
  try {
    Bitmap bitmap(layout.width, layout.height, layout.bit_count, std::move(layout.palette),
                  layout.masks);
    bitmap.SetResolution(layout.x_pels_per_meter, layout.y_pels_per_meter);
    if (layout.compression == bmp::kCompressionRle8 ||
        layout.compression == bmp::kCompressionRle4) {
      bmp::DecodeRle(in, layout, bitmap);
    } else {
      bmp::DecodeUncompressed(in, layout, bitmap);
    }
    return bitmap;
  } catch (const std::bad_alloc&) {
    bmp::Invalid();
  }
}

}  // namespace picture
