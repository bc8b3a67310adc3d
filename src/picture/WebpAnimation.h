// WebP pictures for an animation assembled from frames encoded once: a
// still picture encoded lossless, the patch that turns one frame into the
// next, and the animation put together from encoded frames with libwebpmux
// without encoding anything again.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "picture/RgbaImage.h"

namespace picture {

// The longest display time of one frame a WebP animation can hold (24 bits).
inline constexpr int kMaxWebpFrameMs = 0xFFFFFF;
// The effort of the lossless encoding: method 0 (fastest) to 6 and quality
// 0 to 100, chosen for speed on radar loops at a size close to that of the
// default effort (method 4, quality 75).
inline constexpr int kWebpLosslessMethod = 1;
inline constexpr float kWebpLosslessQuality = 30.0F;

// The picture encoded lossless as a still WebP file. With exact, the colours
// under fully transparent pixels are kept too, so that the decoded pixels
// equal the picture's byte for byte; without, the encoder may change them.
// Throws EInvalidGraphic with libwebp's reason when encoding fails.
std::string EncodeLosslessWebp(const RgbaImage& image, bool exact);

// The part of a frame that differs from the one before it, as drawn over
// that one: a rectangle at even coordinates (where a WebP animation frame
// may start). With blend, the pixels that do not change are transparent and
// the others opaque, so the patch is drawn over the previous frame;
// otherwise (some changed pixel is not opaque, and blending would mix it
// with the pixel below) the patch holds the rectangle's pixels as they are
// and replaces them. Equal frames give an empty patch (width 0).
struct FramePatch {
  int x = 0;
  int y = 0;
  bool blend = false;
  RgbaImage image;
};
// Throws EInvalidGraphic for pictures of different sizes.
FramePatch DifferencePatch(const RgbaImage& previous, const RgbaImage& current);

// The width and height of a still WebP file, or nullopt for bytes that are
// not one.
std::optional<std::pair<int, int>> WebpStillSize(std::string_view bytes);

// The picture of a still WebP file, decoded whole; nullopt for bytes that
// are not one or a picture of another size than expected.
std::optional<RgbaImage> DecodeWebpStill(std::string_view bytes, int width, int height);

// One frame of an animation: a still WebP file (EncodeLosslessWebp) placed
// at x, y (even) on the canvas, shown for 1 to kMaxWebpFrameMs, blended over
// the canvas or replacing its rectangle. Frames are never disposed.
struct WebpFrame {
  std::string_view picture;
  int x = 0;
  int y = 0;
  int duration_ms = 0;
  bool blend = false;
};

// The animation of the frames on a canvas of the given size that loops
// forever, assembled without encoding again. Throws EInvalidGraphic with
// libwebp's reason for a frame that is not a still WebP file, does not fit
// the canvas or has a duration out of range.
std::string AssembleWebpAnimation(int width, int height, std::span<const WebpFrame> frames);

}  // namespace picture
