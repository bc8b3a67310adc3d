#include "picture/BmpCodec.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "picture/BmpLayout.h"

namespace picture {
namespace bmp {
namespace {

void Put16(std::string& out, uint16_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8));
}

void Put32(std::string& out, uint32_t value) {
  Put16(out, static_cast<uint16_t>(value & 0xFFFF));
  Put16(out, static_cast<uint16_t>(value >> 16));
}

}  // namespace

// Everything of the file before its pixels: both headers, the masks and the
// palette.
std::string EncodeHead(const Bitmap& bitmap) {
  const ChannelMasks& masks = bitmap.Masks();
  const int bit_count = bitmap.BitCount();
  const bool bitfields = (bit_count == 16 || bit_count == 32) && masks != DefaultMasks(bit_count);
  const uint32_t header_size = masks.alpha != 0 ? kV4HeaderSize : kInfoHeaderSize;
  const std::size_t masks_after_header = bitfields && header_size == kInfoHeaderSize ? 12 : 0;
  const std::size_t palette_bytes = bitmap.Palette().size() * 4;
  const std::size_t pixel_offset =
      kFileHeaderSize + header_size + masks_after_header + palette_bytes;
  const std::size_t image_bytes = bitmap.Stride() * static_cast<std::size_t>(bitmap.Height());
  // At most 1 GiB of pixels and a few KiB of headers: fits the 32-bit fields.
  const std::size_t file_size = pixel_offset + image_bytes;

  std::string out;
  out.reserve(pixel_offset);
  out += "BM";
  Put32(out, static_cast<uint32_t>(file_size));
  Put32(out, 0);
  Put32(out, static_cast<uint32_t>(pixel_offset));

  Put32(out, header_size);
  Put32(out, static_cast<uint32_t>(bitmap.Width()));
  Put32(out, static_cast<uint32_t>(bitmap.Height()));  // positive: rows bottom-up
  Put16(out, 1);
  Put16(out, static_cast<uint16_t>(bit_count));
  Put32(out, bitfields ? kCompressionBitfields : kCompressionRgb);
  Put32(out, static_cast<uint32_t>(image_bytes));
  Put32(out, static_cast<uint32_t>(bitmap.XPelsPerMeter()));
  Put32(out, static_cast<uint32_t>(bitmap.YPelsPerMeter()));
  Put32(out, static_cast<uint32_t>(bitmap.Palette().size()));
  Put32(out, 0);
  if (header_size == kV4HeaderSize) {
    Put32(out, masks.red);
    Put32(out, masks.green);
    Put32(out, masks.blue);
    Put32(out, masks.alpha);
    Put32(out, kColorSpaceSrgb);
    // Colour end points and gamma, unused with sRGB.
    out.append(36 + 12, '\0');
  } else if (bitfields) {
    Put32(out, masks.red);
    Put32(out, masks.green);
    Put32(out, masks.blue);
  }
  for (const PaletteEntry& entry : bitmap.Palette()) {
    out.push_back(static_cast<char>(entry.blue));
    out.push_back(static_cast<char>(entry.green));
    out.push_back(static_cast<char>(entry.red));
    out.push_back(static_cast<char>(entry.reserved));
  }
  return out;
}

// The file's pieces in order: the head, then the rows from the bottom up,
// straight from the picture's memory.
std::vector<std::string_view> Pieces(const Bitmap& bitmap, const std::string& head) {
  std::vector<std::string_view> pieces;
  pieces.reserve(static_cast<std::size_t>(bitmap.Height()) + 1);
  pieces.push_back(head);
  for (int y = bitmap.Height() - 1; y >= 0; --y) {
    const std::span<const uint8_t> row = bitmap.Row(y);
    pieces.emplace_back(reinterpret_cast<const char*>(row.data()), row.size());
  }
  return pieces;
}

}  // namespace bmp

std::string EncodeBmp(const Bitmap& bitmap) {
  const std::string head = bmp::EncodeHead(bitmap);
  std::string out;
  out.reserve(head.size() + bitmap.Stride() * static_cast<std::size_t>(bitmap.Height()));
  for (std::string_view piece : bmp::Pieces(bitmap, head)) out.append(piece);
  return out;
}

}  // namespace picture
