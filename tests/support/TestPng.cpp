#include "support/TestPng.h"

#include <png.h>
#include <zlib.h>

#include <stdexcept>
#include <vector>

namespace testing_support {
namespace {

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

std::string BigEndianBytes(std::uint32_t value) {
  std::string bytes;
  for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>(value >> shift);
  return bytes;
}

}  // namespace

std::string OneColourPng(int width, int height, std::uint32_t rgba) {
  std::vector<std::uint8_t> pixels;
  pixels.reserve(static_cast<std::size_t>(width) * height * 4);
  for (int i = 0; i < width * height; ++i) {
    for (int shift = 24; shift >= 0; shift -= 8) pixels.push_back(rgba >> shift);
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr))
    throw std::runtime_error(image.message);
  std::string png(size, '\0');
  if (!png_image_write_to_memory(&image, png.data(), &size, 0, pixels.data(), 0, nullptr))
    throw std::runtime_error(image.message);
  png.resize(size);
  return png;
}

std::string WithChunkBytes(std::string png, std::string_view type, std::size_t offset,
                           std::string_view bytes) {
  // Chunks follow the 8-byte signature: length, type, data, CRC of type and data.
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::uint32_t length = BigEndian32(png, at);
    if (png.compare(at + 4, 4, type) == 0) {
      if (offset > length || bytes.size() > length - offset)
        throw std::out_of_range("past the chunk's data");
      png.replace(at + 8 + offset, bytes.size(), bytes);
      const auto* checked = reinterpret_cast<const Bytef*>(png.data() + at + 4);
      png.replace(at + 8 + length, 4, BigEndianBytes(crc32(0, checked, 4 + length)));
      return png;
    }
    at += 12 + length;
  }
  throw std::invalid_argument("no such chunk");
}

std::string WithDeclaredSize(std::string png, std::uint32_t width, std::uint32_t height) {
  return WithChunkBytes(std::move(png), "IHDR", 0, BigEndianBytes(width) + BigEndianBytes(height));
}

}  // namespace testing_support
