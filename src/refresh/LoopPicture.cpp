#include "refresh/LoopPicture.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <exception>
#include <future>
#include <optional>
#include <vector>

#include "overlay/StationFeed.h"
#include "picture/BmpCodec.h"
#include "picture/PngDecoder.h"
#include "picture/WebpAnimation.h"
#include "platform/Console.h"
#include "platform/ContentDigest.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "refresh/FrameLinks.h"
#include "refresh/LoopCache.h"
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
// A larger file of station lines is foreign and read as empty.
constexpr std::size_t kMaxStationsBytes = std::size_t{64} << 10;
// The console line shows at most this much of why the picture failed.
constexpr std::size_t kMaxReasonLength = 300;

// Names the encoding in every cache key, so that entries of another
// encoding are never reused.
const std::string kEncodingName = "webp-lossless-m" + std::to_string(picture::kWebpLosslessMethod) +
                                  "-q" + std::to_string(picture::kWebpLosslessQuality);

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

// The digest of an input file, read in small pieces; throws naming the file.
std::string DigestInput(const std::string& file) {
  std::optional<std::string> digest = platform::DigestOfFile(file, kMaxInputBytes);
  if (!digest) throw platform::EFOpenError(file + " cannot be read");
  return std::move(*digest);
}

// The bytes of an input file whose digest was taken, to draw it; throws
// naming the file when it cannot be read or is no longer what was keyed.
std::string ReadInput(const std::string& file, const std::string& digest) {
  std::optional<std::string> bytes = platform::ReadWholeFile(file, kMaxInputBytes);
  if (!bytes) throw platform::EFOpenError(file + " cannot be read");
  if (platform::DigestOf(*bytes) != digest) {
    throw platform::EInvalidGraphic(file + ": changed while the loop was drawn");
  }
  return std::move(*bytes);
}

// The decoded PNG picture of a frame; throws naming the file.
std::optional<picture::RgbaImage> DecodeFrame(const std::string& file, const std::string& bytes) {
  try {
    return picture::DecodePng(bytes, picture::kMaxDimension, kMaxPixelBytes);
  } catch (const platform::Exception& error) {
    throw platform::EInvalidGraphic(file + ": " + std::string(error.what()));
  }
}

// A map layer shown in the animation, with the bytes it was decoded from.
struct MapLayer {
  std::string bytes;
  picture::RgbaImage image;
};

// The map layer in a file, or nullopt, with one line naming the file, for
// one that is missing or does not decode: the animation is drawn without it.
std::optional<MapLayer> LoadMapLayer(const std::string& file) {
  std::string reason = "missing";
  if (platform::EntryExists(file)) {
    try {
      std::optional<std::string> bytes = platform::ReadWholeFile(file, kMaxInputBytes);
      if (bytes) {
        picture::RgbaImage image = DecodeMapLayer(*bytes);
        return MapLayer{std::move(*bytes), std::move(image)};
      }
      reason = "cannot be read";
    } catch (const platform::Exception& error) {
      reason = error.what();
    }
  }
  NoteLine("drawn without " + file, reason);
  return std::nullopt;
}

// What goes into one frame of the animation, and the digest of it all that
// names its encodings in the cache.
// Only their digests are taken for every position, since most positions are
// found in the cache; the bytes are read for the pictures drawn.
struct LoopInput {
  std::string frame_file;
  std::string frame_digest;
  std::string overlay_file;
  std::optional<std::string> overlay_digest;
  std::vector<std::string> caption;
  std::string key;
};

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

// The digests of the frames and ring overlays of the loop's positions,
// oldest first: from Image6.png with SESOverlay6.bmp to Image0.png with
// SESOverlay0.bmp.
std::array<LoopInput, kFrameCount> DigestLoopInputs() {
  std::array<LoopInput, kFrameCount> inputs;
  for (int position = 0; position < kFrameCount; ++position) {
    LoopInput& input = inputs[position];
    input.frame_file = site::FrameFileName(kFrameCount - 1 - position);
    input.frame_digest = DigestInput(input.frame_file);
    input.overlay_file = site::RingMemberName(kFrameCount - 1 - position);
    if (platform::EntryExists(input.overlay_file)) {
      input.overlay_digest = DigestInput(input.overlay_file);
    }
  }
  return inputs;
}

// The layers the page shows that can be drawn, bottom first.
std::vector<MapLayer> LoadShownLayers(const std::string& product) {
  std::vector<MapLayer> map_layers;
  for (std::size_t layer : kShownMapLayers) {
    if (std::optional<MapLayer> loaded = LoadMapLayer(site::MapLayerFileName(product, layer))) {
      map_layers.push_back(std::move(*loaded));
    }
  }
  return map_layers;
}

// The digest of what every picture of the loop shares: the encoding, the
// canvas, the delay, the layers and, when captions are drawn, their face.
std::string SharedKey(int width, int height, int frame_ms, const std::vector<MapLayer>& map_layers,
                      const picture::FontRequest* font) {
  platform::ContentDigest shared;
  shared.Add(kEncodingName)
      .Add(std::to_string(width) + "x" + std::to_string(height))
      .Add(std::to_string(frame_ms));
  for (const MapLayer& layer : map_layers) shared.Add(layer.bytes);
  if (font != nullptr) {
    shared.Add(font->face)
        .Add(font->file)
        .Add(font->bold ? "bold" : "regular")
        .Add(std::to_string(font->size_points))
        .Add(std::to_string(font->pixels_per_inch));
  }
  return shared.Finish();
}

// The caption lines of a frame: its time, then the station line it was
// first shown with (else this run's) when there is one.
std::vector<std::string> CaptionLines(const std::string& frame_file, const LoopCaption& caption) {
  const auto address = caption.frame_addresses.find(frame_file);
  if (address == caption.frame_addresses.end()) {
    if (caption.station.empty()) return {kUnknownTime};
    return {kUnknownTime, caption.station};
  }
  std::vector<std::string> lines = {CaptionTime(address->second)};
  const auto kept = caption.frame_stations.find(address->second);
  const std::string& station =
      kept != caption.frame_stations.end() ? kept->second : caption.station;
  if (!station.empty()) lines.push_back(station);
  return lines;
}

// The digest of everything that goes into one frame's picture.
std::string InputKey(const std::string& shared_key, const LoopInput& input) {
  platform::ContentDigest key;
  key.Add(shared_key).Add(input.frame_digest).Add(input.overlay_digest ? "overlay" : "none");
  if (input.overlay_digest) key.Add(*input.overlay_digest);
  for (const std::string& line : input.caption) key.Add(line);
  return key.Finish();
}

// One frame as the page stacks it: the ring overlay, the layers, the frame
// (decoded from its bytes unless given) and the caption on top.
picture::RgbaImage Composite(const LoopInput& input, const picture::RgbaImage* decoded_frame,
                             const std::vector<MapLayer>& map_layers,
                             picture::TextRenderer* renderer, int width, int height) {
  picture::RgbaImage canvas = picture::RgbaImage::Transparent(width, height);
  if (input.overlay_digest) {
    const std::string bytes = ReadInput(input.overlay_file, *input.overlay_digest);
    try {
      picture::CompositeOver(canvas, picture::RgbaImage::FromBitmap(picture::DecodeBmp(
                                         bytes, picture::kMaxDimension, kMaxPixelBytes)));
    } catch (const platform::Exception& error) {
      throw platform::EInvalidGraphic(input.overlay_file + ": " + std::string(error.what()));
    }
  }
  for (const MapLayer& layer : map_layers) picture::CompositeOver(canvas, layer.image);
  if (decoded_frame != nullptr) {
    picture::CompositeOver(canvas, *decoded_frame);
  } else {
    picture::CompositeOver(
        canvas, *DecodeFrame(input.frame_file, ReadInput(input.frame_file, input.frame_digest)));
  }
  if (renderer != nullptr) DrawCaption(canvas, input.caption, *renderer);
  return canvas;
}

// The animation's frames: a frame equal to the one before it only lengthens
// that one's time, and the newest is held longer.
std::vector<picture::WebpFrame> AnimationFrames(const std::vector<LoopEntry>& entries,
                                                int frame_ms) {
  std::vector<picture::WebpFrame> frames;
  for (std::size_t position = 0; position < entries.size(); ++position) {
    const LoopEntry& entry = entries[position];
    const int duration_ms = position + 1 == entries.size() ? frame_ms * kNewestFrameHold : frame_ms;
    if (entry.width == 0) {
      frames.back().duration_ms += duration_ms;
      continue;
    }
    frames.push_back({entry.picture, entry.x, entry.y, duration_ms, entry.blend});
  }
  return frames;
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
  // The layers are decoded on a second thread while this one takes the
  // inputs' digests and decodes the newest frame: every picture drawn needs
  // them.
  std::future<std::vector<MapLayer>> layers =
      std::async(std::launch::async | std::launch::deferred, LoadShownLayers, product);
  std::array<LoopInput, kFrameCount> inputs = DigestLoopInputs();
  // The newest frame gives the canvas its size; it is new in every run, so
  // it is decoded in any case.
  const std::optional<picture::RgbaImage> newest = DecodeFrame(
      inputs.back().frame_file, ReadInput(inputs.back().frame_file, inputs.back().frame_digest));
  const int width = newest->width;
  const int height = newest->height;
  const std::vector<MapLayer> map_layers = layers.get();
  picture::TextRenderer* const renderer = CaptionRenderer(caption.font);
  const int frame_ms = LoopFrameMs(html_delay);

  const std::string shared_key =
      SharedKey(width, height, frame_ms, map_layers, renderer != nullptr ? &caption.font : nullptr);
  std::vector<std::string> keys;
  for (LoopInput& input : inputs) {
    if (renderer != nullptr) input.caption = CaptionLines(input.frame_file, caption);
    keys.push_back(InputKey(shared_key, input));
  }
  const LoopCompositor composite = [&](int position) {
    const bool is_newest = position == kFrameCount - 1;
    return Composite(inputs[position], is_newest ? &*newest : nullptr, map_layers, renderer, width,
                     height);
  };

  LoopCache cache(site::kLoopCacheDirectory, width, height);
  if (!cache.Problem().empty()) NoteLine("encoded without its cache", cache.Problem());
  const std::vector<LoopEntry> entries = EncodeLoop(cache, keys, composite);
  const std::string cache_problem = cache.Finish();
  if (!cache_problem.empty() && cache.Problem().empty()) {
    NoteLine("encodings not kept", cache_problem);
  }
  return picture::AssembleWebpAnimation(width, height, AnimationFrames(entries, frame_ms));
}

std::string FormatLoopStations(const std::map<std::string, std::string>& stations) {
  std::string text;
  for (const auto& [address, line] : stations) {
    if (address.empty() || address.find_first_of("\t\r\n") != std::string::npos ||
        line.find_first_of("\t\r\n") != std::string::npos) {
      continue;
    }
    text += address + "\t" + line + "\n";
  }
  return text;
}

std::map<std::string, std::string> ParseLoopStations(std::string_view text) {
  std::map<std::string, std::string> stations;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    // A last line without its line break was cut short.
    if (end == std::string_view::npos) break;
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    const std::size_t tab = line.find('\t');
    if (tab == 0 || tab == std::string_view::npos ||
        line.find_first_of("\t\r", tab + 1) != std::string_view::npos) {
      continue;
    }
    stations[std::string(line.substr(0, tab))] = std::string(line.substr(tab + 1));
  }
  return stations;
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
    // Each current frame keeps the station line it was first shown with.
    const std::optional<std::string> kept_stations =
        platform::ReadWholeFile(site::kLoopStationsFile, kMaxStationsBytes);
    const std::map<std::string, std::string> previous_stations =
        ParseLoopStations(kept_stations.value_or(""));
    for (int n = 0; n < kFrameCount; ++n) {
      const auto address = caption.frame_addresses.find(site::FrameFileName(n));
      if (address == caption.frame_addresses.end()) continue;
      const auto kept = previous_stations.find(address->second);
      caption.frame_stations[address->second] =
          kept != previous_stations.end() ? kept->second : caption.station;
    }
    const std::string bytes = BuildLoopPicture(run.config.product, run.html_delay, caption);
    const platform::FileResult written =
        platform::ReplaceFileAtomically(site::kLoopPictureFile, bytes);
    if (written.ok()) {
      const platform::FileResult stations = platform::ReplaceFileAtomically(
          site::kLoopStationsFile, FormatLoopStations(caption.frame_stations));
      if (!stations.ok()) NoteLine("station lines not kept", stations.reason());
      return;
    }
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
