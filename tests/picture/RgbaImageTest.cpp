// Alpha blending of one layer over a picture, against values worked out by
// hand from the "over" operator, and the clipping of layers of another size.
#include "picture/RgbaImage.h"

#include "picture/Bitmap.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace {

using picture::CompositeOver;
using picture::RgbaImage;
using Rgba = std::array<int, 4>;

RgbaImage Filled(int width, int height, Rgba color) {
  RgbaImage image = RgbaImage::Transparent(width, height);
  for (std::size_t i = 0; i < image.pixels.size(); ++i) {
    image.pixels[i] = static_cast<std::uint8_t>(color[i % 4]);
  }
  return image;
}

Rgba At(const RgbaImage& image, int x, int y) {
  const std::uint8_t* pixel = image.Pixel(x, y);
  return {pixel[0], pixel[1], pixel[2], pixel[3]};
}

// A 24-bit picture's rows hold blue, green and red; an 8-bit one's indices
// into its palette. Each pixel becomes its colour, opaque.
TEST(RgbaImageTest, BitmapsBecomeTheirColoursOpaque) {
  picture::Bitmap deep(3, 2, 24);
  deep.SetPixelValue(2, 1, 0x102030);  // red 0x10, green 0x20, blue 0x30
  deep.SetPixelValue(0, 0, 0xFFFFFF);
  const RgbaImage from_deep = RgbaImage::FromBitmap(deep);
  EXPECT_EQ(At(from_deep, 2, 1), (Rgba{0x10, 0x20, 0x30, 255}));
  EXPECT_EQ(At(from_deep, 0, 0), (Rgba{255, 255, 255, 255}));
  EXPECT_EQ(At(from_deep, 1, 0), (Rgba{0, 0, 0, 255}));
  picture::Bitmap indexed(2, 1, 8, {{1, 2, 3, 0}, {40, 50, 60, 0}}, {});
  indexed.SetPixelValue(1, 0, 1);
  const RgbaImage from_indexed = RgbaImage::FromBitmap(indexed);
  EXPECT_EQ(At(from_indexed, 0, 0), (Rgba{1, 2, 3, 255}));
  EXPECT_EQ(At(from_indexed, 1, 0), (Rgba{40, 50, 60, 255}));
}

TEST(RgbaImageTest, BlendsByTheOverOperator) {
  // Alpha 128 over opaque: each channel 128/255 of the layer's and 127/255
  // of the picture's; 200 * 127/255 = 99.6, 100 * 127/255 = 49.8,
  // 255 * 128/255 = 128.
  RgbaImage canvas = Filled(1, 1, {200, 100, 0, 255});
  CompositeOver(canvas, Filled(1, 1, {0, 0, 255, 128}));
  EXPECT_EQ(At(canvas, 0, 0), (Rgba{100, 50, 128, 255}));

  // Alpha 128 over alpha 128: the result's alpha is 1 - (127/255)^2 of 255 =
  // 191.8, and the colours are weighted by 128 and 128 * 127/255, so red is
  // 255 * 128 / (128 + 63.75) = 170.2 and blue 255 * 63.75 / 191.75 = 84.8.
  canvas = Filled(1, 1, {0, 0, 255, 128});
  CompositeOver(canvas, Filled(1, 1, {255, 0, 0, 128}));
  EXPECT_EQ(At(canvas, 0, 0), (Rgba{170, 0, 85, 192}));

  // Over nothing, a layer shows as it is; a transparent one changes nothing.
  canvas = RgbaImage::Transparent(1, 1);
  CompositeOver(canvas, Filled(1, 1, {10, 20, 30, 128}));
  EXPECT_EQ(At(canvas, 0, 0), (Rgba{10, 20, 30, 128}));
  CompositeOver(canvas, Filled(1, 1, {255, 255, 255, 0}));
  EXPECT_EQ(At(canvas, 0, 0), (Rgba{10, 20, 30, 128}));
}

TEST(RgbaImageTest, DrawsLayersFromTheTopLeftClipped) {
  RgbaImage canvas = Filled(3, 2, {0, 0, 0, 255});
  // Larger than the canvas: its pixel (2, 1) lands on (2, 1), the rest is cut.
  RgbaImage large = Filled(5, 4, {9, 9, 9, 255});
  large.pixels[(1 * 5 + 2) * 4] = 77;
  CompositeOver(canvas, large);
  EXPECT_EQ(canvas.width, 3);
  EXPECT_EQ(canvas.height, 2);
  EXPECT_EQ(At(canvas, 2, 1), (Rgba{77, 9, 9, 255}));
  EXPECT_EQ(At(canvas, 0, 0), (Rgba{9, 9, 9, 255}));

  // Smaller: only the top-left corner changes.
  CompositeOver(canvas, Filled(1, 1, {1, 2, 3, 255}));
  EXPECT_EQ(At(canvas, 0, 0), (Rgba{1, 2, 3, 255}));
  EXPECT_EQ(At(canvas, 1, 0), (Rgba{9, 9, 9, 255}));
  EXPECT_EQ(At(canvas, 0, 1), (Rgba{9, 9, 9, 255}));
}

}  // namespace
