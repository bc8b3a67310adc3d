// An 8-bit RGBA picture in memory, not premultiplied, rows top to bottom,
// and the one compositing step the loop picture needs: a layer drawn over
// it from its left edge with alpha blending.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/Bitmap.h"

namespace picture {

struct RgbaImage {
  int width = 0;
  int height = 0;
  // width * height * 4 bytes: red, green, blue, alpha of each pixel.
  std::vector<uint8_t> pixels;

  // A picture of the given size with every pixel transparent black. Throws
  // EInvalidGraphic for a size outside 1 to kMaxDimension.
  static RgbaImage Transparent(int width, int height);

  // The colours a BMP picture shows, every pixel opaque.
  static RgbaImage FromBitmap(const Bitmap& bitmap);

  const uint8_t* Pixel(int x, int y) const {
    return &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
  }
};

// Draws layer over canvas with its top-left corner on the canvas's left
// edge, top (at least 0) rows down, with the "over" operator of alpha
// blending; the parts of the layer outside the canvas are clipped.
void CompositeOver(RgbaImage& canvas, const RgbaImage& layer, int top = 0);

}  // namespace picture
