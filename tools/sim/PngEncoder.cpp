#include "PngEncoder.h"

#include <zlib.h>

#include <stdexcept>
#include <string_view>

namespace sim {
namespace {

// PNG caps both dimensions at 2^31 - 1; the simulator's frames are far
// smaller, so a tighter bound keeps the row arithmetic well inside size_t.
constexpr int kMaxDimension = 16384;

void AppendBigEndian32(std::string& out, std::uint32_t value) {
  out.push_back(static_cast<char>(value >> 24));
  out.push_back(static_cast<char>(value >> 16));
  out.push_back(static_cast<char>(value >> 8));
  out.push_back(static_cast<char>(value));
}

// Length, type, data and the CRC over type and data.
void AppendChunk(std::string& out, std::string_view type, std::string_view data) {
  AppendBigEndian32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t type_start = out.size();
  out.append(type);
  out.append(data);
  const auto* crc_bytes = reinterpret_cast<const Bytef*>(out.data() + type_start);
  const uLong crc =
      crc32(crc32(0L, Z_NULL, 0), crc_bytes, static_cast<uInt>(out.size() - type_start));
  AppendBigEndian32(out, static_cast<std::uint32_t>(crc));
}

void Validate(const IndexedImage& image) {
  if (image.width <= 0 || image.height <= 0 || image.width > kMaxDimension ||
      image.height > kMaxDimension) {
    throw std::invalid_argument("PNG dimensions out of range");
  }
  if (image.palette.empty() || image.palette.size() > 256) {
    throw std::invalid_argument("PNG palette must hold 1 to 256 entries");
  }
  const std::size_t count =
      static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
  if (image.pixels.size() != count) throw std::invalid_argument("PNG pixel count mismatch");
  for (const std::uint8_t index : image.pixels) {
    if (index >= image.palette.size())
      throw std::invalid_argument("PNG pixel index outside palette");
  }
}

}  // namespace

std::string EncodePng(const IndexedImage& image) {
  Validate(image);
  const std::size_t width = static_cast<std::size_t>(image.width);
  const std::size_t height = static_cast<std::size_t>(image.height);

  std::string out("\x89PNG\r\n\x1a\n", 8);

  std::string header;
  AppendBigEndian32(header, static_cast<std::uint32_t>(width));
  AppendBigEndian32(header, static_cast<std::uint32_t>(height));
  header.push_back(8);  // bit depth
  header.push_back(3);  // colour type: indexed
  header.push_back(0);  // compression: deflate
  header.push_back(0);  // filter method: adaptive
  header.push_back(0);  // no interlace
  AppendChunk(out, "IHDR", header);

  std::string colours;
  std::string alphas;
  std::size_t last_translucent = 0;
  for (std::size_t i = 0; i < image.palette.size(); ++i) {
    const PaletteEntry& entry = image.palette[i];
    colours.push_back(static_cast<char>(entry.red));
    colours.push_back(static_cast<char>(entry.green));
    colours.push_back(static_cast<char>(entry.blue));
    alphas.push_back(static_cast<char>(entry.alpha));
    if (entry.alpha != 255) last_translucent = i + 1;
  }
  AppendChunk(out, "PLTE", colours);
  // tRNS may stop after the last entry that is not opaque.
  if (last_translucent > 0)
    AppendChunk(out, "tRNS", std::string_view(alphas).substr(0, last_translucent));

  // Every row gets filter type 0 (none): indexed images gain little from the
  // other filters.
  std::string raw;
  raw.reserve(height * (width + 1));
  for (std::size_t y = 0; y < height; ++y) {
    raw.push_back(0);
    raw.append(reinterpret_cast<const char*>(image.pixels.data() + y * width), width);
  }
  uLongf compressed_size = compressBound(static_cast<uLong>(raw.size()));
  std::string compressed(compressed_size, '\0');
  const int status = compress2(reinterpret_cast<Bytef*>(compressed.data()), &compressed_size,
                               reinterpret_cast<const Bytef*>(raw.data()),
                               static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION);
  if (status != Z_OK) throw std::runtime_error("zlib compress2 failed");
  compressed.resize(compressed_size);
  AppendChunk(out, "IDAT", compressed);
  AppendChunk(out, "IEND", {});
  return out;
}

}  // namespace sim
