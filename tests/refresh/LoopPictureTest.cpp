#include "refresh/LoopPicture.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <set>

#include "picture/WebpAnimation.h"

namespace refresh {
namespace {

TEST(LoopPictureTest, FrameTimeIsTheDelayWithinWhatAWebpFrameHolds) {
  EXPECT_EQ(LoopFrameMs(500), 500);
  EXPECT_EQ(LoopFrameMs(19), kMinLoopFrameMs);
  EXPECT_EQ(LoopFrameMs(-5), kMinLoopFrameMs);
  // The newest frame's time, three frames long, still fits 24 bits.
  const int longest = LoopFrameMs(std::numeric_limits<std::int32_t>::max());
  EXPECT_LE(longest * kNewestFrameHold, picture::kMaxWebpFrameMs);
  EXPECT_GT((longest + 1) * kNewestFrameHold, picture::kMaxWebpFrameMs);
}

TEST(LoopPictureTest, CaptionReadsOverAFullyOpaqueFrame) {
  setenv("TZ", "AEST-10", 1);
  tzset();
  EXPECT_EQ(CaptionTime("/radar/IDR641.T.202407221150.png"), "2024-07-22 21:50 AEST");
  EXPECT_EQ(CaptionTime("/radar/IDR641.T.latest.png"), "time unknown");

  const std::uint8_t echo[4] = {40, 200, 30, 255};
  picture::RgbaImage canvas = picture::RgbaImage::Transparent(200, 60);
  for (std::size_t at = 0; at < canvas.pixels.size(); ++at) canvas.pixels[at] = echo[at % 4];
  picture::TextRenderer& renderer = picture::TextRenderer::For(LoopCaption{}.font);
  DrawCaption(canvas, {"2024-07-22 21:50 AEST", "TEMP: 9.1  WIND: NW 20"}, renderer);
  const int band_top = canvas.height - 2 * renderer.LineHeight() - 2 * kCaptionPadding;
  std::set<std::array<std::uint8_t, 4>> seen;
  for (int y = 0; y < canvas.height; ++y) {
    for (int x = 0; x < canvas.width; ++x) {
      const std::uint8_t* pixel = canvas.Pixel(x, y);
      const std::array<std::uint8_t, 4> color = {pixel[0], pixel[1], pixel[2], pixel[3]};
      if (y < band_top) {
        ASSERT_EQ(color, (std::array<std::uint8_t, 4>{40, 200, 30, 255})) << x << "," << y;
      } else {
        seen.insert(color);
      }
    }
  }
  const picture::Rgb band = kCaptionBandColor;
  const picture::Rgb text = kCaptionTextColor;
  EXPECT_EQ(seen, (std::set<std::array<std::uint8_t, 4>>{{band.red, band.green, band.blue, 255},
                                                         {text.red, text.green, text.blue, 255}}));
}

}  // namespace
}  // namespace refresh
