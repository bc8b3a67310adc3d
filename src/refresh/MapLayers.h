// The four map layers the pages show under the frames (background,
// topography, locations, range): PNG pictures of the radar product that
// the radar host publishes beside its loops. A run with a new frame fetches
// each one that is missing or a week old, so that the program directory
// keeps them without the operator's help.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "picture/RgbaImage.h"
#include "refresh/RunContext.h"

namespace refresh {

// A layer this old is fetched again.
inline constexpr std::chrono::hours kMapLayerMaxAge{7 * 24};
// After a failed fetch, a layer is not asked for again before this long.
inline constexpr std::chrono::hours kMapLayerRetryInterval{24};

// The marker of a layer's last failed fetch, whose write time is that of
// the attempt: "IDR641.range.png.failed".
std::string MapLayerAttemptFileName(const std::string& layer_file);

// The largest map layer published and drawn, a side: a layer is a map of
// the frames' size (512 x 512), and a larger one would only cost memory.
inline constexpr int kMaxMapLayerSide = 4096;
// The RGBA bytes of a layer of kMaxMapLayerSide a side.
inline constexpr std::size_t kMaxMapLayerPixelBytes =
    std::size_t{kMaxMapLayerSide} * kMaxMapLayerSide * 4;

// The picture in a layer's bytes, decoded whole. Throws
// platform::EInvalidGraphic for bytes that are no valid PNG picture or one
// of more than kMaxMapLayerSide a side.
picture::RgbaImage DecodeMapLayer(std::string_view bytes);

// When run.config.fetch_layers is set: fetches each layer of run.config's
// product that is missing in the working directory or older than
// kMapLayerMaxAge, with run.radar_client from run.config.layer_path + name
// on run.config.radar_host (never on the host the frames came from),
// publishes it atomically once it passed DecodeMapLayer and prints
// "Saving IDR641.range.png". A layer that fails prints one line, keeps its old file, adds
// to run.layers_not_fetched and is not asked for again within
// kMapLayerRetryInterval; nothing is reported and nothing is thrown.
void RefreshMapLayers(RunContext& run, std::chrono::system_clock::time_point now);

}  // namespace refresh
