#include "refresh/LoopPicture.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <webp/demux.h>

#include "picture/BmpCodec.h"
#include "picture/PngDecoder.h"
#include "picture/WebpAnimation.h"
#include "site/SiteNames.h"
#include "support/TempDir.h"
#include "support/TestPng.h"

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

// One frame of a decoded animation and how long it shows.
struct ShownFrame {
  std::vector<std::uint8_t> pixels;
  int duration_ms = 0;
};

// Every frame of the animation as libwebp's animation decoder draws it;
// empty for bytes it cannot decode.
std::vector<ShownFrame> DecodeAnimation(const std::string& bytes, int& loop_count) {
  WebPData data{reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
  WebPAnimDecoderOptions options;
  WebPAnimDecoderOptionsInit(&options);
  options.color_mode = MODE_RGBA;
  std::unique_ptr<WebPAnimDecoder, void (*)(WebPAnimDecoder*)> decoder(
      WebPAnimDecoderNew(&data, &options), WebPAnimDecoderDelete);
  WebPAnimInfo info;
  std::vector<ShownFrame> frames;
  if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info)) return frames;
  loop_count = static_cast<int>(info.loop_count);
  const std::size_t size = std::size_t{info.canvas_width} * info.canvas_height * 4;
  int shown_until = 0;
  while (WebPAnimDecoderHasMoreFrames(decoder.get())) {
    std::uint8_t* pixels = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &pixels, &timestamp)) return {};
    frames.push_back({{pixels, pixels + size}, timestamp - shown_until});
    shown_until = timestamp;
  }
  return frames;
}

// A loop in a program directory, built as a run would with and without the
// encodings earlier runs kept.
class LoopPictureCacheTest : public ::testing::Test {
 protected:
  static constexpr const char* kProduct = "IDR641";

  void SetUp() override {
    std::filesystem::current_path(dir_.path());
    caption_.station = "TEMP: 9.1  WIND: NW 20";
    // Frames of different sizes and transparency: the newest sets the
    // canvas, the others are clipped or leave parts of it to what is below.
    for (int n = 0; n < 7; ++n) AddFrame(n, n);
    dir_.Write(site::MapLayerFileName(kProduct, 2),
               testing_support::OneColourPng(30, 20, 0x2040F080));
  }

  void AddFrame(int index, int seed) {
    const std::uint32_t alpha = seed % 3 == 0 ? 0xFF : 0x60 + 0x10 * seed;
    dir_.Write(site::FrameFileName(index),
               testing_support::OneColourPng(96 - 2 * seed, 80 - 3 * seed,
                                             (0x11223300U * (seed + 1)) | alpha));
    if (seed % 4 != 3) {
      picture::Bitmap overlay(50, 40, 24);
      overlay.FillRect(0, 0, 50, 40, {255, 255, 255});
      overlay.FillRect(5 + seed, 7, 12 + 3 * seed, 9 + seed, {0, 0, 0});
      dir_.Write(site::RingMemberName(index), picture::EncodeBmp(overlay));
    } else {
      std::filesystem::remove(dir_.File(site::RingMemberName(index)));
    }
    caption_.frame_addresses[site::FrameFileName(index)] =
        "/radar/IDR641.T.2024072211" + std::to_string(10 + seed) + ".png";
  }

  // Gives frame to the frame, overlay and address of frame from.
  void CopyFrame(int from, int to) {
    dir_.Write(site::FrameFileName(to), dir_.Read(site::FrameFileName(from)));
    if (dir_.Exists(site::RingMemberName(from))) {
      dir_.Write(site::RingMemberName(to), dir_.Read(site::RingMemberName(from)));
    } else {
      std::filesystem::remove(dir_.File(site::RingMemberName(to)));
    }
    caption_.frame_addresses[site::FrameFileName(to)] =
        caption_.frame_addresses[site::FrameFileName(from)];
  }

  // The frames as the 30-minute page stacks them, oldest first, each with
  // the time it shows; a frame equal to the one before only lengthens it.
  std::vector<ShownFrame> Composites() {
    const picture::RgbaImage newest = picture::DecodePng(dir_.Read(site::FrameFileName(0)));
    std::vector<ShownFrame> expected;
    for (int n = 6; n >= 0; --n) {
      picture::RgbaImage canvas = picture::RgbaImage::Transparent(newest.width, newest.height);
      if (dir_.Exists(site::RingMemberName(n))) {
        picture::CompositeOver(canvas, picture::RgbaImage::FromBitmap(
                                           picture::DecodeBmp(dir_.Read(site::RingMemberName(n)))));
      }
      for (std::size_t layer = 1; layer < 4; ++layer) {
        if (dir_.Exists(site::MapLayerFileName(kProduct, layer))) {
          picture::CompositeOver(
              canvas, picture::DecodePng(dir_.Read(site::MapLayerFileName(kProduct, layer))));
        }
      }
      picture::CompositeOver(canvas, picture::DecodePng(dir_.Read(site::FrameFileName(n))));
      const std::string address = caption_.frame_addresses[site::FrameFileName(n)];
      const auto kept = caption_.frame_stations.find(address);
      DrawCaption(canvas,
                  {CaptionTime(address),
                   kept != caption_.frame_stations.end() ? kept->second : caption_.station},
                  picture::TextRenderer::For(caption_.font));
      const int duration = n == 0 ? LoopFrameMs(delay_) * kNewestFrameHold : LoopFrameMs(delay_);
      if (!expected.empty() && expected.back().pixels == canvas.pixels) {
        expected.back().duration_ms += duration;
      } else {
        expected.push_back({std::move(canvas.pixels), duration});
      }
    }
    return expected;
  }

  // Builds the loop with the cache as it is, then again from an empty
  // cache: both files are the same, and they show the composites exactly.
  void ExpectSameLoopWarmAndCold() {
    const std::string warm = BuildLoopPicture(kProduct, delay_, caption_);
    std::filesystem::remove_all(dir_.File(site::kLoopCacheDirectory));
    const std::string cold = BuildLoopPicture(kProduct, delay_, caption_);
    EXPECT_EQ(warm, cold);
    EXPECT_LE(cold.size(), std::size_t{1500000});
    int loop_count = -1;
    const std::vector<ShownFrame> shown = DecodeAnimation(warm, loop_count);
    const std::vector<ShownFrame> expected = Composites();
    EXPECT_EQ(loop_count, 0);
    ASSERT_EQ(shown.size(), expected.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
      EXPECT_TRUE(shown[i].pixels == expected[i].pixels) << "frame " << i;
      EXPECT_EQ(shown[i].duration_ms, expected[i].duration_ms) << "frame " << i;
    }
  }

  void ChangeEntries(const std::function<void(std::string&)>& change) {
    for (const std::string& entry : CacheEntries()) {
      std::string bytes = dir_.Read(entry);
      change(bytes);
      dir_.Write(entry, bytes);
    }
  }

  std::vector<std::string> CacheEntries() const {
    std::vector<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(dir_.File(site::kLoopCacheDirectory))) {
      names.push_back(std::string(site::kLoopCacheDirectory) + "/" +
                      entry.path().filename().string());
    }
    return names;
  }

  testing_support::TempDir dir_;
  LoopCaption caption_;
  std::int32_t delay_ = 500;
};

TEST_F(LoopPictureCacheTest, EveryRunShowsTheCompositesWhateverTheCacheHeld) {
  const std::vector<std::pair<const char*, std::function<void()>>> runs = {
      {"first run", [] {}},
      {"new frame",
       [&] {
         for (int n = 6; n > 0; --n) CopyFrame(n - 1, n);
         AddFrame(0, 7);
       }},
      {"changed layer",
       [&] {
         dir_.Write(site::MapLayerFileName(kProduct, 3),
                    testing_support::OneColourPng(8, 60, 0xFF000040));
       }},
      {"changed delay", [&] { delay_ = 250; }},
      {"changed station text", [&] { caption_.station = "TEMP: 9.2  WIND: NW 20"; }},
      {"new frame with new station text, the others keep theirs",
       [&] {
         for (const auto& [file, address] : caption_.frame_addresses) {
           caption_.frame_stations[address] = caption_.station;
         }
         for (int n = 6; n > 0; --n) CopyFrame(n - 1, n);
         AddFrame(0, 8);
         caption_.station = "TEMP: 9.3  WIND: N 5";
       }},
      {"entries cut short",
       [&] { ChangeEntries([](std::string& bytes) { bytes.resize(bytes.size() / 2); }); }},
      {"entries with a bit changed",
       [&] { ChangeEntries([](std::string& bytes) { bytes[bytes.size() * 3 / 4] ^= 0x10; }); }},
      {"foreign entries",
       [&] {
         ChangeEntries([](std::string& bytes) { bytes = "vesk-loop-entry-1 0 0 1 1 0 0 x\n"; });
       }},
      {"equal frames", [&] { CopyFrame(0, 1); }},
  };
  for (const auto& [name, change] : runs) {
    SCOPED_TRACE(name);
    BuildLoopPicture(kProduct, delay_, caption_);
    change();
    dir_.Write(std::string(site::kLoopCacheDirectory) + "/stray", "x");
    ExpectSameLoopWarmAndCold();
    // Only the current loop's entries stay: at most a whole picture and a
    // difference for each frame.
    EXPECT_LE(CacheEntries().size(), std::size_t{13});
    EXPECT_FALSE(dir_.Exists(std::string(site::kLoopCacheDirectory) + "/stray"));
  }
}

TEST(LoopPictureTest, StationLinesAreKeptOnlyWhereTheyReadBackTheSame) {
  const std::map<std::string, std::string> kept = {{"/radar/a.202407221150.png", "TEMP: 9.1"},
                                                   {"/radar/b.png", ""}};
  std::map<std::string, std::string> written = kept;
  written["/radar/tab\t.png"] = "x";
  written["/radar/c.png"] = "TEMP:\n9.1";
  written[""] = "x";
  const std::string text = FormatLoopStations(written);
  EXPECT_EQ(ParseLoopStations(text), kept);
  // A last line without its line break was cut short.
  EXPECT_EQ(ParseLoopStations(text + "/radar/d.png\tTEMP"), kept);
  EXPECT_EQ(ParseLoopStations("no tab\n\tno address\n"), (std::map<std::string, std::string>{}));
}

}  // namespace
}  // namespace refresh
