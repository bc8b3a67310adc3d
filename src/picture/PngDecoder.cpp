#include "picture/PngDecoder.h"

#include <png.h>

#include <string>

#include "platform/Exceptions.h"

namespace picture {
namespace {

constexpr std::size_t kRgbaBytesPerPixel = 4;

// The simplified libpng reader; it frees what libpng holds on every way
// out, also when a read stops half-way.
class PngReader {
 public:
  PngReader() {
    image_.version = PNG_IMAGE_VERSION;
    image_.opaque = nullptr;
  }
  ~PngReader() { png_image_free(&image_); }
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;

  png_image& image() { return image_; }

  [[noreturn]] void Fail() const {
    throw platform::EInvalidGraphic(std::string("PNG picture is not valid: ") + image_.message);
  }

 private:
  png_image image_{};
};

}  // namespace

RgbaImage DecodePng(std::string_view bytes, int max_dimension, std::size_t max_pixel_bytes) {
  PngReader reader;
  png_image& image = reader.image();
  if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) == 0) reader.Fail();
  // The pixel limit is compared by division, so that no product of the
  // header's sides can overflow.
  if (image.width < 1 || image.height < 1 ||
      image.width > static_cast<png_uint_32>(max_dimension) ||
      image.height > static_cast<png_uint_32>(max_dimension) ||
      image.height > max_pixel_bytes / kRgbaBytesPerPixel / image.width) {
    throw platform::EInvalidGraphic("PNG picture is not valid: size " +
                                    std::to_string(image.width) + " x " +
                                    std::to_string(image.height) + " is not supported");
  }
  image.format = PNG_FORMAT_RGBA;
  RgbaImage result =
      RgbaImage::Transparent(static_cast<int>(image.width), static_cast<int>(image.height));
  if (png_image_finish_read(&image, nullptr, result.pixels.data(), 0, nullptr) == 0) {
    reader.Fail();
  }
  return result;
}

}  // namespace picture
