#include "refresh/MapLayers.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "http/FetchClient.h"
#include "picture/PngDecoder.h"
#include "platform/Console.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "site/SiteNames.h"
#include "zub32/PrintableText.h"
#include "zub32/Records.h"

namespace refresh {
namespace {

// The largest layer taken, whatever MaxFrameBytes allows: a layer is a
// small picture that changes rarely.
constexpr std::size_t kMaxLayerBytes = 8 * 1024 * 1024;
// The longest error text a failure line shows.
constexpr std::size_t kMaxFailureText = 200;

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
  // Only a picture the pages and loop.webp can draw replaces the old one.
  (void)DecodeMapLayer(bytes);
  platform::WriteLine("Saving " + file);
  const platform::FileResult written = platform::ReplaceFileAtomically(file, bytes);
  if (!written.ok()) throw platform::EFCreateError(written.reason());
}

}  // namespace

std::string MapLayerAttemptFileName(const std::string& layer_file) {
  return layer_file + ".failed";
}

picture::RgbaImage DecodeMapLayer(std::string_view bytes) {
  return picture::DecodePng(bytes, kMaxMapLayerSide, kMaxMapLayerPixelBytes);
}

void RefreshMapLayers(RunContext& run, std::chrono::system_clock::time_point now) {
  if (!run.config.fetch_layers || !run.radar_client) return;
  run.radar_client->SetBodyLimit(
      std::min(static_cast<std::size_t>(run.config.max_frame_bytes), kMaxLayerBytes));
  for (std::size_t layer = 0; layer < site::kMapLayers.size(); ++layer) {
    const std::string file = site::MapLayerFileName(run.config.product, layer);
    const std::string attempt = MapLayerAttemptFileName(file);
    if (!OlderThan(file, now, kMapLayerMaxAge)) continue;
    if (!OlderThan(attempt, now, kMapLayerRetryInterval)) continue;
    // An absolute address: after an absolute frame address or a redirect,
    // the client's current target may be another host, which must not
    // serve the maps kept for a week.
    const std::string address =
        http::EndpointAddress(run.config.radar_host, run.config.layer_path + file);
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
