#include "platform/BmpCodec.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/FileDescriptor.h"
#include "platform/FileSystem.h"

namespace platform {
namespace {

constexpr const char* kInvalidGraphic = "Bitmap image is not valid";

constexpr std::size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
// The 40-byte header extended by three masks, and by an alpha mask too.
constexpr uint32_t kMasksHeaderSize = 52;
constexpr uint32_t kAlphaMaskHeaderSize = 56;
constexpr uint32_t kV4HeaderSize = 108;
constexpr uint32_t kV5HeaderSize = 124;

constexpr uint32_t kCompressionRgb = 0;
constexpr uint32_t kCompressionRle8 = 1;
constexpr uint32_t kCompressionRle4 = 2;
constexpr uint32_t kCompressionBitfields = 3;

// Colour space tag of the 108-byte header: the picture is sRGB.
constexpr uint32_t kColorSpaceSrgb = 0x73524742;

// A palette longer than this is refused; no depth can index more entries.
constexpr uint32_t kMaxPaletteEntries = 256;

// The largest file read: the largest picture's pixels (16384 rows of 64 KiB)
// plus room for headers, a palette and an embedded colour profile.
constexpr std::size_t kMaxFileBytes = (std::size_t{1} << 30) + (std::size_t{1} << 20);

[[noreturn]] void Invalid() { throw EInvalidGraphic(kInvalidGraphic); }

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
  const std::size_t h = kFileHeaderSize;

  Layout layout;
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

  std::size_t position = h + header_size;
  if (layout.compression == kCompressionBitfields) {
    // The 40-byte header keeps the three masks after itself, the longer
    // headers inside; only the 56-byte and longer headers have an alpha mask.
    const std::size_t at = header_size == kInfoHeaderSize ? position : h + kInfoHeaderSize;
    layout.masks.red = in.U32(at);
    layout.masks.green = in.U32(at + 4);
    layout.masks.blue = in.U32(at + 8);
    if (header_size >= kAlphaMaskHeaderSize) layout.masks.alpha = in.U32(h + kMasksHeaderSize);
    if (header_size == kInfoHeaderSize) position += 12;
    if (!MasksAreValid(layout.masks, layout.bit_count)) Invalid();
  } else {
    layout.masks = DefaultMasks(layout.bit_count);
  }

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

  if (pixel_offset < position || pixel_offset > in.Size()) Invalid();
  layout.pixel_offset = pixel_offset;
  if (layout.compression == kCompressionRle8 || layout.compression == kCompressionRle4) {
    const uint32_t size_image = in.U32(h + 20);
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

// The bytes the pixels take, in the file when stored uncompressed and in
// memory either way: rows padded to four bytes.
std::size_t PixelBytes(const Layout& layout) {
  const auto width = static_cast<std::size_t>(layout.width);
  const auto bits = static_cast<std::size_t>(layout.bit_count);
  return (width * bits + 31) / 32 * 4 * static_cast<std::size_t>(layout.height);
}

// Refuses, before anything is allocated, a picture whose pixels would take
// more than max_pixel_bytes, and an uncompressed one whose pixels would not
// fit in the file_bytes of the file from the pixel offset on: a small file
// cannot make the reader reserve memory it will never fill.
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
      for (int i = 0; i < count; ++i) {
        put(four_bit ? ((i & 1) == 0 ? value >> 4 : value & 0x0F) : value);
      }
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
        for (int i = 0; i < value; ++i) {
          const uint8_t byte = in.U8(p + (four_bit ? i / 2 : i));
          put(four_bit ? ((i & 1) == 0 ? byte >> 4 : byte & 0x0F) : byte);
        }
        p += padded;
        break;
      }
    }
  }
}

void Put16(std::string& out, uint16_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8));
}

void Put32(std::string& out, uint32_t value) {
  Put16(out, static_cast<uint16_t>(value & 0xFFFF));
  Put16(out, static_cast<uint16_t>(value >> 16));
}

std::string OpenErrorMessage(const std::string& path, int error_number) {
  return "Cannot open file \"" + path + "\". " + SystemErrorText(error_number);
}

}  // namespace

Bitmap DecodeBmp(std::string_view bytes, int max_dimension, std::size_t max_pixel_bytes) {
  const ByteReader in(bytes);
  Layout layout = ReadLayout(in, max_dimension);
  CheckPixelMemory(layout, bytes.size(), max_pixel_bytes);
  try {
    Bitmap bitmap(layout.width, layout.height, layout.bit_count, std::move(layout.palette),
                  layout.masks);
    bitmap.SetResolution(layout.x_pels_per_meter, layout.y_pels_per_meter);
    if (layout.compression == kCompressionRle8 || layout.compression == kCompressionRle4) {
      DecodeRle(in, layout, bitmap);
    } else {
      DecodeUncompressed(in, layout, bitmap);
    }
    return bitmap;
  } catch (const std::bad_alloc&) {
    Invalid();
  }
}

namespace {

// Everything of the file before its pixels: both headers, the masks and the
// palette.
std::string EncodeBmpHead(const Bitmap& bitmap) {
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
std::vector<std::string_view> BmpPieces(const Bitmap& bitmap, const std::string& head) {
  std::vector<std::string_view> pieces;
  pieces.reserve(static_cast<std::size_t>(bitmap.Height()) + 1);
  pieces.push_back(head);
  for (int y = bitmap.Height() - 1; y >= 0; --y) {
    const std::span<const uint8_t> row = bitmap.Row(y);
    pieces.emplace_back(reinterpret_cast<const char*>(row.data()), row.size());
  }
  return pieces;
}

}  // namespace

std::string EncodeBmp(const Bitmap& bitmap) {
  const std::string head = EncodeBmpHead(bitmap);
  std::string out;
  out.reserve(head.size() + bitmap.Stride() * static_cast<std::size_t>(bitmap.Height()));
  for (std::string_view piece : BmpPieces(bitmap, head)) out.append(piece);
  return out;
}

namespace {

// The start of a file read before its layout is known: every header, the
// masks and the largest palette fit in far less.
constexpr std::size_t kHeadBytes = 64 * 1024;
// Uncompressed pixels are read into a buffer of about this size at a time.
constexpr std::size_t kPixelChunkBytes = 64 * 1024;

// Appends what the file gives until `wanted` bytes were appended or it
// ends; returns the count appended.
std::size_t AppendFromFile(int fd, std::string& bytes, std::size_t wanted,
                           const std::string& path) {
  char buffer[65536];
  std::size_t appended = 0;
  while (appended < wanted) {
    const ssize_t got = read(fd, buffer, std::min(sizeof buffer, wanted - appended));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw EFOpenError(OpenErrorMessage(path, errno));
    }
    if (got == 0) break;
    if (kMaxFileBytes - bytes.size() < static_cast<std::size_t>(got)) Invalid();
    bytes.append(buffer, static_cast<std::size_t>(got));
    appended += static_cast<std::size_t>(got);
  }
  return appended;
}

// Fills data with exactly count bytes: first what is left of `pending`, then
// from the file. A file that ends first is not a valid picture.
void ReadExactly(int fd, std::string_view& pending, uint8_t* data, std::size_t count,
                 const std::string& path) {
  const std::size_t from_pending = std::min(pending.size(), count);
  std::copy(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(from_pending), data);
  pending.remove_prefix(from_pending);
  std::size_t filled = from_pending;
  while (filled < count) {
    const ssize_t got = read(fd, data + filled, count - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw EFOpenError(OpenErrorMessage(path, errno));
    }
    if (got == 0) Invalid();
    filled += static_cast<std::size_t>(got);
  }
}

// An uncompressed picture whose pixels start within the head, read from the
// file in chunks straight into the picture; nullopt for any other layout.
// A copy of the whole file in memory beside the picture would cost more in
// fresh pages than the reading does.
std::optional<Bitmap> LoadStreamed(int fd, const std::string& head, std::size_t file_bytes,
                                   std::size_t max_pixel_bytes, const std::string& path) {
  const ByteReader in(head);
  if (!in.Has(0, kFileHeaderSize + 4 + 20)) return std::nullopt;
  const bool core = in.U32(kFileHeaderSize) == kCoreHeaderSize;
  const uint32_t compression = core ? kCompressionRgb : in.U32(kFileHeaderSize + 16);
  if (compression != kCompressionRgb && compression != kCompressionBitfields) return std::nullopt;
  if (in.U32(10) > head.size()) return std::nullopt;
  // Every field the layout is made of lies before the pixels, so the head
  // gives the same layout as the whole file would.
  Layout layout = ReadLayout(in, kMaxDimension);
  CheckPixelMemory(layout, file_bytes, max_pixel_bytes);
  std::optional<Bitmap> bitmap;
  std::vector<uint8_t> chunk;
  try {
    bitmap.emplace(layout.width, layout.height, layout.bit_count, std::move(layout.palette),
                   layout.masks);
    bitmap->SetResolution(layout.x_pels_per_meter, layout.y_pels_per_meter);
    chunk.resize(std::max(kPixelChunkBytes / bitmap->Stride(), std::size_t{1}) * bitmap->Stride());
  } catch (const std::bad_alloc&) {
    Invalid();
  }
  const std::size_t stride = bitmap->Stride();
  const std::size_t rows_per_chunk = chunk.size() / stride;
  const auto height = static_cast<std::size_t>(layout.height);
  std::string_view pending = std::string_view(head).substr(layout.pixel_offset);
  for (std::size_t first = 0; first < height; first += rows_per_chunk) {
    const std::size_t rows = std::min(rows_per_chunk, height - first);
    ReadExactly(fd, pending, chunk.data(), rows * stride, path);
    for (std::size_t i = 0; i < rows; ++i) {
      CopyStoredRow(chunk.data() + i * stride, first + i, layout, *bitmap);
    }
  }
  if (bitmap->IsIndexed()) CheckIndices(*bitmap);
  return bitmap;
}

}  // namespace

Bitmap LoadBmpFile(const std::string& path, std::size_t max_pixel_bytes) {
  // Opened without waiting, so that a FIFO or a device at the name cannot
  // hold the run; anything but a regular file is refused before a byte is
  // read.
  const FileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.valid()) throw EFOpenError(OpenErrorMessage(path, errno));
  struct stat status;
  if (fstat(file.get(), &status) != 0) throw EFOpenError(OpenErrorMessage(path, errno));
  if (S_ISDIR(status.st_mode)) throw EFOpenError(OpenErrorMessage(path, EISDIR));
  if (!S_ISREG(status.st_mode)) {
    throw EFOpenError("Cannot open file \"" + path + "\". Not a regular file");
  }
  if (static_cast<uint64_t>(status.st_size) > kMaxFileBytes) Invalid();
  const auto file_bytes = static_cast<std::size_t>(status.st_size);

  std::string bytes;
  try {
    if (AppendFromFile(file.get(), bytes, kHeadBytes, path) == kHeadBytes) {
      if (std::optional<Bitmap> bitmap =
              LoadStreamed(file.get(), bytes, file_bytes, max_pixel_bytes, path)) {
        return *std::move(bitmap);
      }
      // Compressed pixels, or pixels far into the file: read it whole.
      bytes.reserve(file_bytes);
      AppendFromFile(file.get(), bytes, kMaxFileBytes, path);
    }
  } catch (const std::bad_alloc&) {
    Invalid();
  }
  return DecodeBmp(bytes, kMaxDimension, max_pixel_bytes);
}

StagedFile StageBmpFile(const Bitmap& bitmap, const std::string& path, Flush flush) {
  // The rows are written from the picture itself: a copy of the whole file
  // in memory would cost more in fresh pages than the writing does.
  const std::string head = EncodeBmpHead(bitmap);
  const std::vector<std::string_view> pieces = BmpPieces(bitmap, head);
  return StagedFile::Write(path, pieces, flush);
}

void CommitBmpFile(StagedFile& staged, const std::string& path) {
  if (!staged.Commit().empty()) {
    throw EFCreateError("Cannot create file \"" + path + "\". " +
                        SystemErrorText(staged.ErrorNumber()));
  }
}

void SaveBmpFile(const Bitmap& bitmap, const std::string& path) {
  StagedFile staged = StageBmpFile(bitmap, path, Flush::kNow);
  CommitBmpFile(staged, path);
}

}  // namespace platform
