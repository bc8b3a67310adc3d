#include "picture/Bitmap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/Exceptions.h"

namespace {

using picture::Bitmap;
using picture::ChannelMasks;
using picture::kBlack;
using picture::kWhite;
using picture::PaletteEntry;
using picture::Rgb;

TEST(BitmapTest, PaintingMapsColoursIntoEachFormat) {
  // Indexed: the nearest entry, even when neither pure colour is present.
  Bitmap indexed(4, 1, 8, {{10, 10, 10, 0}, {250, 250, 240, 0}, {255, 0, 0, 0}}, {});
  indexed.PaintPixel(0, 0, kWhite);
  indexed.PaintPixel(1, 0, kBlack);
  indexed.PaintPixel(2, 0, Rgb{200, 30, 30});
  EXPECT_EQ(indexed.PixelValue(0, 0), 1u);
  EXPECT_EQ(indexed.PixelValue(1, 0), 0u);
  EXPECT_EQ(indexed.PixelValue(2, 0), 2u);

  // 5-6-5 white fills every bit; 5-5-5 leaves the unused top bit as it was.
  Bitmap rgb565(1, 1, 16, {}, {0xF800, 0x07E0, 0x001F, 0});
  rgb565.PaintPixel(0, 0, kWhite);
  EXPECT_EQ(rgb565.PixelValue(0, 0), 0xFFFFu);
  Bitmap rgb555(1, 1, 16);
  rgb555.SetPixelValue(0, 0, 0x8000);
  rgb555.PaintPixel(0, 0, kWhite);
  EXPECT_EQ(rgb555.PixelValue(0, 0), 0xFFFFu);
  rgb555.PaintPixel(0, 0, kBlack);
  EXPECT_EQ(rgb555.PixelValue(0, 0), 0x8000u);

  // 32 bits: the unused byte is kept; an alpha channel becomes opaque.
  Bitmap plain(1, 1, 32);
  plain.SetPixelValue(0, 0, 0xAB123456);
  plain.PaintPixel(0, 0, kWhite);
  EXPECT_EQ(plain.PixelValue(0, 0), 0xABFFFFFFu);
  Bitmap alpha(1, 1, 32, {}, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000});
  alpha.PaintPixel(0, 0, kBlack);
  EXPECT_EQ(alpha.PixelValue(0, 0), 0xFF000000u);

  Bitmap rgb(1, 1, 24);
  rgb.PaintPixel(0, 0, Rgb{1, 2, 3});
  EXPECT_EQ(rgb.PixelValue(0, 0), 0x010203u);
  EXPECT_EQ(rgb.PixelColor(0, 0), (Rgb{1, 2, 3}));
}

TEST(BitmapTest, FillIsClippedToThePicture) {
  for (int bit_count : {1, 4, 8, 16, 24, 32}) {
    SCOPED_TRACE(bit_count);
    Bitmap bitmap(5, 4, bit_count);
    bitmap.FillRect(3, -2, 100, 2, kWhite);
    bitmap.FillRect(INT64_MIN / 2, 10, INT64_MAX / 2, 20, kWhite);  // wholly below
    bitmap.FillRect(2, 2, 2, 4, kWhite);                            // empty
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 5; ++x) {
        const bool inside = x >= 3 && y < 2;
        EXPECT_EQ(bitmap.PixelColor(x, y), inside ? kWhite : kBlack) << x << "," << y;
      }
    }
    // Bits past the width stay zero, so saved rows are clean.
    if (bit_count == 1) {
      EXPECT_EQ(bitmap.Row(0)[0], 0b00011000);
    }
  }
  // A new 1-bit picture can show black and white.
  EXPECT_EQ(Bitmap(1, 1, 1).Palette(),
            (std::vector<PaletteEntry>{{0, 0, 0, 0}, {255, 255, 255, 0}}));
}

}  // namespace
