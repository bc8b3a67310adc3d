#include "picture/RgbaImage.h"

#include <algorithm>

#include "platform/Exceptions.h"

namespace picture {

RgbaImage RgbaImage::Transparent(int width, int height) {
  if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension) {
    throw platform::EInvalidGraphic("Picture size " + std::to_string(width) + " x " +
                                    std::to_string(height) + " is not supported");
  }
  RgbaImage image;
  image.width = width;
  image.height = height;
  image.pixels.assign(static_cast<std::size_t>(width) * height * 4, 0);
  return image;
}

RgbaImage RgbaImage::FromBitmap(const Bitmap& bitmap) {
  RgbaImage image = Transparent(bitmap.Width(), bitmap.Height());
  uint8_t* out = image.pixels.data();
  // The overlays are 24-bit pictures, whose rows hold blue, green and red
  // bytes: read straight from the rows, they convert several times faster.
  if (bitmap.BitCount() == 24) {
    for (int y = 0; y < image.height; ++y) {
      const uint8_t* in = bitmap.Row(y).data();
      for (int x = 0; x < image.width; ++x, in += 3) {
        *out++ = in[2];
        *out++ = in[1];
        *out++ = in[0];
        *out++ = 255;
      }
    }
    return image;
  }
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const Rgb color = bitmap.PixelColor(x, y);
      *out++ = color.red;
      *out++ = color.green;
      *out++ = color.blue;
      *out++ = 255;
    }
  }
  return image;
}

void CompositeOver(RgbaImage& canvas, const RgbaImage& layer, int top) {
  top = std::max(top, 0);
  if (top >= canvas.height) return;
  const int width = std::min(canvas.width, layer.width);
  const int height = std::min(canvas.height - top, layer.height);
  for (int y = 0; y < height; ++y) {
    const uint8_t* source = layer.Pixel(0, y);
    uint8_t* target = &canvas.pixels[static_cast<std::size_t>(y + top) * canvas.width * 4];
    for (int x = 0; x < width; ++x, source += 4, target += 4) {
      const uint32_t source_alpha = source[3];
      if (source_alpha == 0) continue;
      if (source_alpha == 255) {
        std::copy(source, source + 4, target);
        continue;
      }
      // In units of 1/255²: the source's share and what shows through it of
      // the target; their sum is the result's alpha.
      const uint32_t source_share = source_alpha * 255;
      const uint32_t target_share = target[3] * (255 - source_alpha);
      const uint32_t alpha = source_share + target_share;
      for (int channel = 0; channel < 3; ++channel) {
        target[channel] = static_cast<uint8_t>(
            (source[channel] * source_share + target[channel] * target_share + alpha / 2) / alpha);
      }
      target[3] = static_cast<uint8_t>((alpha + 127) / 255);
    }
  }
}

}  // namespace picture
