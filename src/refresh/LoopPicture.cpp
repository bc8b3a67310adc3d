#include "refresh/LoopPicture.h"

#include <algorithm>
#include <array>
#include <exception>
#include <optional>
#include <vector>

#include "platform/BmpCodec.h"
#include "platform/Console.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/PngDecoder.h"
#include "platform/RgbaImage.h"
#include "platform/WebpAnimation.h"
#include "refresh/MapLayers.h"
#include "zub32/PrintableText.h"

namespace refresh {
namespace {

constexpr int kFrameCount = 7;
// The map layers (indexes into kMapLayers) that the 30-minute page's script
// shows, bottom to top: it hides the background and shows the other three.
constexpr std::array<std::size_t, 3> kShownMapLayers = {1, 2, 3};
// A larger input file is refused rather than read.
constexpr std::size_t kMaxInputBytes = std::size_t{64} << 20;
// A picture whose pixels take more is refused before it is decoded, so that
// seven oversized frames cannot take the memory of the host (2048 x 2048
// RGBA pixels; the frames are 512 x 512).
constexpr std::size_t kMaxPixelBytes = std::size_t{16} << 20;
// The console line shows at most this much of why the picture failed.
constexpr std::size_t kMaxReasonLength = 300;

// The decoded PNG picture in a file; throws naming the file.
platform::RgbaImage LoadPng(const std::string& file) {
  const std::optional<std::string> bytes = platform::ReadWholeFile(file, kMaxInputBytes);
  if (!bytes) throw platform::EFOpenError(file + " cannot be read");
  try {
    return platform::DecodePng(*bytes, platform::kMaxDimension, kMaxPixelBytes);
  } catch (const platform::Exception& error) {
    throw platform::EInvalidGraphic(file + ": " + std::string(error.what()));
  }
}

// The picture of a map layer, or nullopt, with one line naming the file, for
// one that is missing or does not decode: the animation is drawn without it.
std::optional<platform::RgbaImage> LoadMapLayer(const std::string& file) {
  std::string reason = "missing";
  if (platform::EntryExists(file)) {
    try {
      const std::optional<std::string> bytes = platform::ReadWholeFile(file, kMaxInputBytes);
      if (bytes) return DecodeMapLayer(*bytes);
      reason = "cannot be read";
    } catch (const platform::Exception& error) {
      reason = error.what();
    }
  }
  try {
    platform::WriteLine(std::string(kLoopPictureFile) + " drawn without " + file + ": " +
                        zub32::OneLine(reason, kMaxReasonLength));
  } catch (const std::exception&) {
    // A line that cannot be printed leaves the picture as it is.
  }
  return std::nullopt;
}

std::optional<platform::RgbaImage> LoadOptionalBmp(const std::string& file) {
  if (!platform::EntryExists(file)) return std::nullopt;
  try {
    return platform::RgbaImage::FromBitmap(platform::LoadBmpFile(file, kMaxPixelBytes));
  } catch (const platform::Exception& error) {
    throw platform::EInvalidGraphic(file + ": " + std::string(error.what()));
  }
}

}  // namespace

int LoopFrameMs(std::int32_t html_delay) {
  return std::clamp<std::int32_t>(html_delay, kMinLoopFrameMs,
                                  platform::kMaxWebpFrameMs / kNewestFrameHold);
}

std::string BuildLoopPicture(const std::string& product, std::int32_t html_delay) {
  // Every frame is decoded before any encoding, so a bad one costs little.
  std::vector<platform::RgbaImage> frames;
  frames.reserve(kFrameCount);
  for (int n = 0; n < kFrameCount; ++n) {
    frames.push_back(LoadPng("Image" + std::to_string(n) + ".png"));
  }
  std::vector<platform::RgbaImage> map_layers;
  for (std::size_t layer : kShownMapLayers) {
    if (std::optional<platform::RgbaImage> image = LoadMapLayer(MapLayerFileName(product, layer))) {
      map_layers.push_back(std::move(*image));
    }
  }

  const int width = frames.front().width;
  const int height = frames.front().height;
  const int frame_ms = LoopFrameMs(html_delay);
  // Each frame is composited once and encoded both ways; the smaller file
  // is kept. Which one wins depends on the pictures: flat map colours and
  // dithered echoes favour lossless, shaded photographic maps lossy.
  platform::WebpAnimation lossy(width, height, platform::WebpEncoding::kLossy);
  platform::WebpAnimation lossless(width, height, platform::WebpEncoding::kLossless);
  for (int n = kFrameCount - 1; n >= 0; --n) {
    platform::RgbaImage canvas = platform::RgbaImage::Transparent(width, height);
    if (const std::optional<platform::RgbaImage> overlay =
            LoadOptionalBmp("SESOverlay" + std::to_string(n) + ".bmp")) {
      platform::CompositeOver(canvas, *overlay);
    }
    for (const platform::RgbaImage& layer : map_layers) platform::CompositeOver(canvas, layer);
    platform::CompositeOver(canvas, frames[n]);
    const int duration_ms = n == 0 ? frame_ms * kNewestFrameHold : frame_ms;
    lossy.Add(canvas, duration_ms);
    lossless.Add(canvas, duration_ms);
  }
  std::string lossy_bytes = lossy.Finish();
  std::string lossless_bytes = lossless.Finish();
  return lossless_bytes.size() < lossy_bytes.size() ? std::move(lossless_bytes)
                                                    : std::move(lossy_bytes);
}

void WriteLoopPicture(RunContext& run) {
  if (run.config.loop_export == zub32::LoopExport::kOff) return;
  std::string reason;
  try {
    const std::string bytes = BuildLoopPicture(run.config.product, run.html_delay);
    const platform::FileResult written = platform::ReplaceFileAtomically(kLoopPictureFile, bytes);
    if (written.ok()) return;
    reason = written.reason();
  } catch (const platform::Exception& error) {
    reason = error.what();
  } catch (const std::bad_alloc&) {
    reason = "out of memory";
  }
  run.loop_picture_failed = true;
  try {
    platform::WriteLine(std::string(kLoopPictureFile) + " not written, the old one stays: " +
                        zub32::OneLine(reason, kMaxReasonLength));
  } catch (const std::exception&) {
    // Standard output that cannot take the line changes nothing; the
    // summary line still counts the failure.
  }
}

}  // namespace refresh
