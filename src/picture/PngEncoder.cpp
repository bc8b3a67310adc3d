#include "picture/PngEncoder.h"

#include <png.h>

#include <algorithm>

#include "picture/Bitmap.h"
#include "platform/Exceptions.h"

namespace picture {

std::string EncodePalettePng(int width, int height, const std::vector<PaletteColour>& palette,
                             const std::vector<std::uint8_t>& indices) {
  if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension ||
      palette.empty() || palette.size() > 256 ||
      indices.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) ||
      *std::max_element(indices.begin(), indices.end()) >= palette.size()) {
    throw platform::EInvalidGraphic("Palette picture " + std::to_string(width) + " x " +
                                    std::to_string(height) + " with " +
                                    std::to_string(palette.size()) + " colours cannot be written");
  }
  std::vector<std::uint8_t> colour_map;
  colour_map.reserve(palette.size() * 4);
  for (const PaletteColour& colour : palette) {
    colour_map.insert(colour_map.end(), {colour.red, colour.green, colour.blue, colour.alpha});
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGBA_COLORMAP;
  image.colormap_entries = static_cast<png_uint_32>(palette.size());
  // A palette picture compresses to less than its indices and a row filter
  // byte each, so one pass into that much room (and the chunks' overhead)
  // nearly always suffices; otherwise libpng tells the size it needs and a
  // second pass writes it.
  const std::size_t raw = static_cast<std::size_t>(height) * (static_cast<std::size_t>(width) + 1);
  png_alloc_size_t size = raw + raw / 64 + 4096;
  std::string bytes(size, '\0');
  for (int pass = 0; pass < 2; ++pass) {
    const png_alloc_size_t room = size;
    if (png_image_write_to_memory(&image, bytes.data(), &size, 0, indices.data(), 0,
                                  colour_map.data()) != 0) {
      break;
    }
    if (pass == 1 || size <= room) {
      const std::string reason = image.message;
      png_image_free(&image);
      throw platform::EInvalidGraphic("Palette picture cannot be written: " + reason);
    }
    bytes.resize(size);
  }
  bytes.resize(size);
  return bytes;
}

}  // namespace picture
