#include "refresh/MapLayers.h"

#include <algorithm>
#include <cstdint>
#include <exception>

#include "platform/Bitmap.h"
#include "platform/Console.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "zub32/PrintableText.h"
#include "zub32/Records.h"

namespace refresh {
namespace {

constexpr std::string_view kPngSignature("\x89PNG\r\n\x1a\n", 8);
constexpr std::string_view kIhdrType = "IHDR";
constexpr std::size_t kIhdrDataLength = 13;
// A chunk's length and type before its data, and its CRC after it.
constexpr std::size_t kChunkHeadLength = 8;
constexpr std::size_t kChunkCrcLength = 4;
// The IEND chunk: no data, and the CRC of its type.
constexpr std::string_view kIendChunk("\0\0\0\0IEND\xae\x42\x60\x82", 12);
// The largest layer taken, whatever MaxFrameBytes allows: a layer is a
// small picture that changes rarely.
constexpr std::size_t kMaxLayerBytes = 8 * 1024 * 1024;
// The longest error text a failure line shows.
constexpr std::size_t kMaxFailureText = 200;

std::uint32_t BigEndian32(std::string_view bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  }
  return value;
}

// The bit depths each PNG colour type allows.
bool ValidDepth(unsigned colour_type, unsigned depth) {
  switch (colour_type) {
    case 0:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6:
      return depth == 8 || depth == 16;
    default:
      return false;
  }
}

// True when the file is missing or its write time lies max_age or more
// before now. A time in the future, after the clock was set back, counts
// as old too, so that it cannot hold a layer for ever.
bool OlderThan(const std::string& path, std::chrono::system_clock::time_point now,
               std::chrono::hours max_age) {
  const std::optional<std::chrono::system_clock::time_point> written =
      platform::LastWriteTime(path);
  if (!written) return true;
  if (*written > now) return true;
  return now - *written >= max_age;
}

// Fetches one layer and publishes it; throws what went wrong.
void FetchLayer(http::TIdHTTP& client, const std::string& address, const std::string& file) {
  const std::string bytes = client.Get(address);
  if (const std::optional<std::string> problem = PngProblem(bytes)) {
    throw platform::EInvalidGraphic(address + " is not a PNG picture: " + *problem);
  }
  platform::WriteLine("Saving " + file);
  const platform::FileResult written = platform::ReplaceFileAtomically(file, bytes);
  if (!written.ok()) throw platform::EFCreateError(written.reason());
}

}  // namespace

std::string MapLayerFileName(const std::string& product, std::size_t layer) {
  return product + "." + kMapLayers.at(layer) + ".png";
}

std::string MapLayerAttemptFileName(const std::string& layer_file) {
  return layer_file + ".failed";
}

std::optional<std::string> PngProblem(std::string_view bytes) {
  const std::size_t header_length =
      kPngSignature.size() + kChunkHeadLength + kIhdrDataLength + kChunkCrcLength;
  if (!bytes.starts_with(kPngSignature)) return "no PNG signature";
  if (bytes.size() < header_length + kIendChunk.size()) return "shorter than a PNG header";
  const std::size_t ihdr = kPngSignature.size();
  if (BigEndian32(bytes, ihdr) != kIhdrDataLength ||
      bytes.substr(ihdr + 4, kIhdrType.size()) != kIhdrType) {
    return "no IHDR chunk after the signature";
  }
  const std::size_t data = ihdr + kChunkHeadLength;
  const std::uint32_t width = BigEndian32(bytes, data);
  const std::uint32_t height = BigEndian32(bytes, data + 4);
  constexpr std::uint32_t kMaxSide = platform::kMaxDimension;
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) {
    return "a size of " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, not 1 to " + std::to_string(kMaxSide) + " a side";
  }
  const unsigned depth = static_cast<unsigned char>(bytes[data + 8]);
  const unsigned colour_type = static_cast<unsigned char>(bytes[data + 9]);
  if (!ValidDepth(colour_type, depth)) {
    return "colour type " + std::to_string(colour_type) + " with bit depth " +
           std::to_string(depth);
  }
  if (!bytes.ends_with(kIendChunk)) return "no IEND chunk at the end";
  return std::nullopt;
}

void RefreshMapLayers(RunContext& run, std::chrono::system_clock::time_point now) {
  if (!run.config.fetch_layers || !run.radar_client) return;
  run.radar_client->SetBodyLimit(
      std::min(static_cast<std::size_t>(run.config.max_frame_bytes), kMaxLayerBytes));
  for (std::size_t layer = 0; layer < kMapLayers.size(); ++layer) {
    const std::string file = MapLayerFileName(run.config.product, layer);
    const std::string attempt = MapLayerAttemptFileName(file);
    if (!OlderThan(file, now, kMapLayerMaxAge)) continue;
    if (!OlderThan(attempt, now, kMapLayerRetryInterval)) continue;
    const std::string address = run.config.layer_path + file;
    try {
      FetchLayer(*run.radar_client, address, file);
      // A marker that stays only delays the next fetch of a layer that is
      // in place anyway.
      (void)platform::RemoveEntry(attempt);
    } catch (const std::exception& error) {
      ++run.layers_not_fetched;
      try {
        std::string class_name;
        std::string message;
        zub32::DescribeException(error, class_name, message);
        const std::string line = file + " not fetched from " + address + ": " + class_name + ": " +
                                 zub32::OneLine(message, kMaxFailureText) + "; next try in a day";
        platform::WriteLine(line);
        // A marker that cannot be written leaves the next run free to try
        // again, which is all it costs.
        (void)platform::ReplaceFileAtomically(attempt, line + "\n");
      } catch (const std::exception&) {
        // The console or the memory gave out; the layer keeps its old file.
      }
    }
  }
}

}  // namespace refresh
