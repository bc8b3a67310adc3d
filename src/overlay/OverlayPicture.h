// The overlay picture: the background it is drawn on and the three lines of
// station text, each on an opaque white cell.
#pragma once

#include <cstddef>
#include <string>

#include "overlay/StationFeed.h"
#include "picture/Bitmap.h"
#include "picture/TextRenderer.h"

namespace overlay {

// The background of a product is read from the working directory under
// site::OverlayBackgroundFileName.
// The most memory a background's pixels may take (an 8192 by 2048 picture
// at 32 bits): a larger one is refused as not a valid bitmap.
inline constexpr std::size_t kMaxBackgroundPixelBytes = std::size_t{64} << 20;
// Side of the white picture used when there is no background.
inline constexpr int kNewPictureSize = 512;
inline constexpr int kNewPictureBitCount = 24;

// Where the three lines start: the top-left corners of their cells.
inline constexpr int kTextLeft = 50;
inline constexpr int kStampTop = 418;
inline constexpr int kTemperatureTop = 434;
inline constexpr int kWindTop = 450;

// The time stamp: abbreviated day name, hours and minutes ("Tue 11:27").
inline constexpr const char* kStampFormat = "ddd hh:nn";
inline constexpr const char* kTemperatureLabel = "TEMP: ";
inline constexpr const char* kWindLabel = "WIND: ";

// The face of all three lines: the default face asked for in bold at 10
// points, or the configured font file.
picture::FontRequest OverlayFont(const std::string& font_file);

// The product's background as loaded, in its own size and format, announced
// with "BMP loaded from IDR641.background.bmp."; when no entry of that name
// exists, "IDR641.background.bmp is missing." and a new white picture.
// Throws the codec's errors for a background that cannot be read or is not
// a valid bitmap, and EOSError when the console cannot be written.
picture::Bitmap LoadBackground(const std::string& product);

// Draws the time stamp, "TEMP: " + temperature and "WIND: " + wind in
// black on white cells. Text outside the picture is clipped, so a picture
// of 418 rows or fewer shows none of it.
void DrawStationLines(picture::Bitmap& bitmap, const std::string& stamp, const StationInfo& info,
                      const picture::FontRequest& font);

// The archived overlay of a slot: exe_path + site::ArchiveOverlayName(tag).
std::string OverlayName(const std::string& exe_path, const std::string& slot_tag);

}  // namespace overlay
