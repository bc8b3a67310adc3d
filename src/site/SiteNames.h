// The names of every file the program publishes in its directory, or reads
// there beside them: the frames and their lowercase links, the overlay ring,
// the day's archive, the map layers, the pages, status.json, loop.webp and
// the responses kept. Every other part asks here for a name, so that a
// published name is spelled once.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace site {

// The current frames, "Image0.png" (newest) to "Image6.png" (oldest).
std::string FrameFileName(int index);
// The name the pages use for a frame, "image3.png", a link to Image3.png.
std::string FrameLinkName(int index);
// The overlay ring, "SESOverlay0.bmp" (newest) to "SESOverlay6.bmp"
// (oldest); the pages show member n with Image<n>.png.
std::string RingMemberName(int index);

// The forecast pictures, "Nowcast1.png" (5 minutes after the newest
// frame) to "Nowcast6.png" (30 minutes).
std::string NowcastFileName(int lead_index);

// The day's archive by slot tag ("MO150"): "Image-MO150.png" and
// "SESOverlay-MO150.bmp".
std::string ArchiveFrameName(const std::string& slot_tag);
std::string ArchiveOverlayName(const std::string& slot_tag);

// The map layers in page order.
inline constexpr std::array<const char*, 4> kMapLayers = {"background", "topography", "locations",
                                                          "range"};
// The file name of a product's layer: "IDR641.range.png".
std::string MapLayerFileName(const std::string& product, std::size_t layer);
// The picture the overlay is drawn on: "IDR641.background.bmp".
std::string OverlayBackgroundFileName(const std::string& product);

inline constexpr const char* kLoopPage30FileName = "index.html";
inline constexpr const char* kLoopPage24FileName = "index24.html";
inline constexpr const char* kViewerPageFileName = "loop.html";
inline constexpr const char* kStatusFileName = "status.json";
inline constexpr const char* kLoopPictureFile = "loop.webp";
// The private directory of loop.webp's encoded frames, kept between runs;
// never published.
inline constexpr const char* kLoopCacheDirectory = ".loopcache";
// The station line each current frame of loop.webp was captioned with,
// kept so that a frame keeps its caption while it moves along the ring;
// never published.
inline constexpr const char* kLoopStationsFile = "loopstations.txt";
// The radar host's loop page of the last run.
inline constexpr const char* kRootFileName = "root.html";
// The newest frame's address, by which the next run sees whether it changed.
inline constexpr const char* kLastImageUriFileName = "LastImageURI.txt";
// The last station feed fetched.
inline constexpr const char* kStationFeedFile = "sysinfo.json";

}  // namespace site
