#include "refresh/LoopPicture.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <exception>
#include <optional>
#include <vector>

#include "overlay/StationFeed.h"
#include "picture/BmpCodec.h"
#include "picture/PngDecoder.h"
#include "picture/WebpAnimation.h"
#include "platform/Console.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "refresh/FrameLinks.h"
#include "refresh/MapLayers.h"
#include "site/SiteNames.h"
#include "site/StatusDocument.h"
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

constexpr const char* kUnknownTime = "time unknown";
// Between the temperature and the wind on the station line.
constexpr const char* kStationSeparator = "  ";

// One line about the picture that changes nothing about it; a line that
// cannot be printed leaves the picture as it is.
void NoteLine(const std::string& text, const std::string& reason) {
  try {
    platform::WriteLine(std::string(site::kLoopPictureFile) + " " + text + ": " +
                        zub32::OneLine(reason, kMaxReasonLength));
  } catch (const std::exception&) {
  }
}

// The decoded PNG picture in a file; throws naming the file.
picture::RgbaImage LoadPng(const std::string& file) {
  const std::optional<std::string> bytes = platform::ReadWholeFile(file, kMaxInputBytes);
  if (!bytes) throw platform::EFOpenError(file + " cannot be read");
  try {
    return picture::DecodePng(*bytes, picture::kMaxDimension, kMaxPixelBytes);
  } catch (const platform::Exception& error) {
    throw platform::EInvalidGraphic(file + ": " + std::string(error.what()));
  }
}

// The picture of a map layer, or nullopt, with one line naming the file, for
// one that is missing or does not decode: the animation is drawn without it.
std::optional<picture::RgbaImage> LoadMapLayer(const std::string& file) {
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
  NoteLine("drawn without " + file, reason);
  return std::nullopt;
}

std::optional<picture::RgbaImage> LoadOptionalBmp(const std::string& file) {
  if (!platform::EntryExists(file)) return std::nullopt;
  try {
    return picture::RgbaImage::FromBitmap(picture::LoadBmpFile(file, kMaxPixelBytes));
  } catch (const platform::Exception& error) {
    throw platform::EInvalidGraphic(file + ": " + std::string(error.what()));
  }
}

// The renderer of the captions, or nullptr, with one line, when the face
// cannot be loaded: the frames then go without captions.
picture::TextRenderer* CaptionRenderer(const picture::FontRequest& font) {
  try {
    return &picture::TextRenderer::For(font);
  } catch (const platform::Exception& error) {
    NoteLine("drawn without captions", error.what());
  }
  return nullptr;
}

}  // namespace

std::string CaptionTime(const std::string& address) {
  const std::optional<std::int64_t> time = site::FrameTimeFromAddress(address);
  if (!time) return kUnknownTime;
  const auto seconds = static_cast<std::time_t>(*time);
  std::tm local{};
  char text[64];
  // Digits and the zone's abbreviation only, whatever the locale.
  if (localtime_r(&seconds, &local) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M %Z", &local) == 0) {
    return kUnknownTime;
  }
  return text;
}

void DrawCaption(picture::RgbaImage& canvas, const std::vector<std::string>& lines,
                 picture::TextRenderer& renderer) {
  if (lines.empty()) return;
  const int line_height = renderer.LineHeight();
  const int band_height = std::min<int>(
      canvas.height, static_cast<int>(lines.size()) * line_height + 2 * kCaptionPadding);
  picture::Bitmap band(canvas.width, band_height, 24);
  band.FillRect(0, 0, canvas.width, band_height, kCaptionBandColor);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    renderer.DrawText(band, kCaptionPadding,
                      kCaptionPadding + static_cast<std::int64_t>(i) * line_height, lines[i],
                      kCaptionTextColor, kCaptionBandColor);
  }
  picture::CompositeOver(canvas, picture::RgbaImage::FromBitmap(band), canvas.height - band_height);
}

int LoopFrameMs(std::int32_t html_delay) {
  return std::clamp<std::int32_t>(html_delay, kMinLoopFrameMs,
                                  picture::kMaxWebpFrameMs / kNewestFrameHold);
}

std::string BuildLoopPicture(const std::string& product, std::int32_t html_delay,
                             const LoopCaption& caption) {
  // Every frame is decoded before any encoding, so a bad one costs little.
  std::vector<picture::RgbaImage> frames;
  frames.reserve(kFrameCount);
  for (int n = 0; n < kFrameCount; ++n) {
    frames.push_back(LoadPng(site::FrameFileName(n)));
  }
  std::vector<picture::RgbaImage> map_layers;
  for (std::size_t layer : kShownMapLayers) {
    if (std::optional<picture::RgbaImage> image =
            LoadMapLayer(site::MapLayerFileName(product, layer))) {
      map_layers.push_back(std::move(*image));
    }
  }
  picture::TextRenderer* const renderer = CaptionRenderer(caption.font);

  const int width = frames.front().width;
  const int height = frames.front().height;
  const int frame_ms = LoopFrameMs(html_delay);
  // Each frame is composited once and encoded both ways; the smaller file
  // is kept. Which one wins depends on the pictures: flat map colours and
  // dithered echoes favour lossless, shaded photographic maps lossy.
  picture::WebpAnimation lossy(width, height, picture::WebpEncoding::kLossy);
  picture::WebpAnimation lossless(width, height, picture::WebpEncoding::kLossless);
  for (int n = kFrameCount - 1; n >= 0; --n) {
    picture::RgbaImage canvas = picture::RgbaImage::Transparent(width, height);
    if (const std::optional<picture::RgbaImage> overlay =
            LoadOptionalBmp(site::RingMemberName(n))) {
      picture::CompositeOver(canvas, *overlay);
    }
    for (const picture::RgbaImage& layer : map_layers) picture::CompositeOver(canvas, layer);
    picture::CompositeOver(canvas, frames[n]);
    if (renderer != nullptr) {
      const auto address = caption.frame_addresses.find(site::FrameFileName(n));
      std::vector<std::string> lines = {
          address != caption.frame_addresses.end() ? CaptionTime(address->second) : kUnknownTime};
      if (!caption.station.empty()) lines.push_back(caption.station);
      DrawCaption(canvas, lines, *renderer);
    }
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
    LoopCaption caption;
    caption.font = overlay::OverlayFont(run.config.font);
    // Frames this run did not replace keep the addresses status.json has
    // for them until this run writes it.
    if (const std::optional<site::RunStatus> previous = site::ReadPreviousStatus()) {
      for (const site::FrameRecord& frame : previous->frames)
        caption.frame_addresses[frame.file] = frame.address;
    }
    for (const auto& [file, address] : run.frame_addresses) caption.frame_addresses[file] = address;
    // Only a feed this run drew gives the station text: after a failed
    // overlay the copy on disk may be hours old.
    if (run.overlay_drawn.value_or(false)) {
      const std::optional<std::string> feed =
          platform::ReadWholeFile(site::kStationFeedFile, kMaxInputBytes);
      if (feed) {
        const overlay::StationInfo info = overlay::CutStationInfo(*feed);
        caption.station = overlay::kTemperatureLabel + info.temperature + kStationSeparator +
                          overlay::kWindLabel + info.wind;
      }
    }
    const std::string bytes = BuildLoopPicture(run.config.product, run.html_delay, caption);
    const platform::FileResult written =
        platform::ReplaceFileAtomically(site::kLoopPictureFile, bytes);
    if (written.ok()) return;
    reason = written.reason();
  } catch (const platform::Exception& error) {
    reason = error.what();
  } catch (const std::bad_alloc&) {
    reason = "out of memory";
  }
  run.loop_picture_failed = true;
  try {
    platform::WriteLine(std::string(site::kLoopPictureFile) + " not written, the old one stays: " +
                        zub32::OneLine(reason, kMaxReasonLength));
  } catch (const std::exception&) {
    // Standard output that cannot take the line changes nothing; the
    // summary line still counts the failure.
  }
}

}  // namespace refresh
