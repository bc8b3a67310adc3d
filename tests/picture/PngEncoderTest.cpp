// Palette pictures written and read back through the PNG decoder: every
// index becomes its colour and alpha, also for random indices, which do not
// compress and so fill the room the writer sets aside in one pass.
#include "picture/PngEncoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "picture/PngDecoder.h"
#include "platform/Exceptions.h"

namespace {

using picture::PaletteColour;

TEST(PngEncoderTest, IndicesReadBackAsTheirColours) {
  std::vector<PaletteColour> palette(256);
  for (int n = 0; n < 256; ++n) {
    palette[n] = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(255 - n),
                  static_cast<std::uint8_t>(n / 2), static_cast<std::uint8_t>(n == 0 ? 0 : 255)};
  }
  std::mt19937 random(7);
  for (const bool noise : {false, true}) {
    SCOPED_TRACE(noise ? "random indices" : "a ramp");
    const int width = 301;
    const int height = 97;
    std::vector<std::uint8_t> indices(static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < indices.size(); ++i) {
      indices[i] = static_cast<std::uint8_t>(noise ? random() : i % 256);
    }
    const picture::RgbaImage image =
        picture::DecodePng(picture::EncodePalettePng(width, height, palette, indices));
    ASSERT_EQ(image.width, width);
    ASSERT_EQ(image.height, height);
    for (std::size_t i = 0; i < indices.size(); ++i) {
      const PaletteColour& colour = palette[indices[i]];
      const std::uint8_t* pixel = &image.pixels[i * 4];
      ASSERT_EQ((std::vector<int>{pixel[0], pixel[1], pixel[2], pixel[3]}),
                (std::vector<int>{colour.red, colour.green, colour.blue, colour.alpha}))
          << "pixel " << i;
    }
  }
  EXPECT_THROW(picture::EncodePalettePng(2, 1, {{}}, {0, 1}), platform::EInvalidGraphic);
}

}  // namespace
