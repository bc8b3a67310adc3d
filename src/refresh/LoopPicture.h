// The 30-minute loop as one animated picture, loop.webp, for forums, chats
// and e-mail, where pages with scripts do not run.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "overlay/OverlayPicture.h"
#include "picture/RgbaImage.h"
#include "picture/TextRenderer.h"
#include "refresh/RunContext.h"

namespace refresh {

// The shortest display time of a frame, whatever the HTML delay.
inline constexpr int kMinLoopFrameMs = 20;
// The newest frame is shown this many times as long as the others, as the
// 30-minute page holds it.
inline constexpr int kNewestFrameHold = 3;

// The caption band across the bottom of every frame: light text on an
// opaque dark strip, so that the frame's time and the station text read
// over any echo.
inline constexpr picture::Rgb kCaptionBandColor{24, 24, 24};
inline constexpr picture::Rgb kCaptionTextColor{255, 255, 255};
// Pixels between the band's edges and its text.
inline constexpr int kCaptionPadding = 3;

// What the caption of each frame says.
struct LoopCaption {
  // The frames' addresses by file name ("Image0.png"), for their times.
  std::map<std::string, std::string> frame_addresses;
  // "TEMP: 12.3  WIND: NW 20"; empty: the band has the time line only.
  std::string station;
  // The station line of each frame by its address, as the run that fetched
  // it captioned it, so that a frame keeps its caption (and its kept
  // encodings) while it moves along the ring; a frame not listed gets
  // station.
  std::map<std::string, std::string> frame_stations;
  picture::FontRequest font = overlay::OverlayFont("");
};

// The caption line of a frame's time: the time in its address in local
// time with the zone, "2024-07-22 21:50 AEST", or "time unknown" for an
// address without one.
std::string CaptionTime(const std::string& address);

// Draws lines, top to bottom, in kCaptionTextColor on a band of
// kCaptionBandColor across the bottom of canvas, whose height depends only
// on the number of lines and the face. Text wider than the canvas is
// clipped; nothing above the band changes.
void DrawCaption(picture::RgbaImage& canvas, const std::vector<std::string>& lines,
                 picture::TextRenderer& renderer);

// The display time of every frame but the newest: the HTML delay, at least
// kMinLoopFrameMs, and short enough for the newest frame's longer time to
// fit a WebP frame.
int LoopFrameMs(std::int32_t html_delay);

// The animation of the seven current frames in the working directory,
// Image6.png (oldest) to Image0.png, as the 30-minute page stacks them: each
// frame over the map layers the page shows (topography, locations and range
// of the product; one that is missing or does not decode through
// DecodeMapLayer is left out with one line naming it) over the ring overlay
// SESOverlay<n>.bmp shown with Image<n>.png (when present). The canvas has
// the newest frame's size; every layer is drawn from the top-left corner and
// clipped. Above everything each frame gets its caption (DrawCaption): its
// time and the station text; a face that cannot be loaded leaves the
// captions out with one line.
//
// The animation is lossless: the oldest frame whole, every later one as its
// difference from the one before it. The encodings are kept in the cache
// directory (site::kLoopCacheDirectory, LoopCache) under the digest of
// everything that went into them, so a run with one new frame encodes only
// its whole picture and its difference; the file is the same whatever the
// cache held. Entries of other loops are removed; a cache that cannot be
// used costs time only, with one line. Throws platform::Exception naming
// the file for a missing frame, or a frame or ring overlay that cannot be
// read or decoded.
std::string BuildLoopPicture(const std::string& product, std::int32_t html_delay,
                             const LoopCaption& caption);

// The station line of each frame by address, one "address<TAB>line" a
// line, as site::kLoopStationsFile keeps them between runs. A line that is
// not of that form is left out when read, and an address or a line with a
// tab or a line break is not written.
std::string FormatLoopStations(const std::map<std::string, std::string>& stations);
std::map<std::string, std::string> ParseLoopStations(std::string_view text);

// When run.config exports the loop: writes BuildLoopPicture's animation to
// loop.webp atomically, captioned with the frames' addresses (this run's,
// else those status.json kept) and each with the station line it got when
// it was new (site::kLoopStationsFile): for a new frame, when this run drew
// the overlay, the station text of sysinfo.json. The file is then
// rewritten for the current frames. A failure prints one line, keeps the old file and
// sets run.loop_picture_failed; nothing is reported and nothing is thrown.
void WriteLoopPicture(RunContext& run);

}  // namespace refresh
