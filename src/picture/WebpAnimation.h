// Encoding an animated WebP picture with libwebp's animation encoder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "picture/RgbaImage.h"

struct WebPAnimEncoder;

namespace picture {

// The longest display time of one frame a WebP animation can hold (24 bits).
inline constexpr int kMaxWebpFrameMs = 0xFFFFFF;
// The quality of the lossy encoding.
inline constexpr float kWebpLossyQuality = 80.0F;

enum class WebpEncoding {
  kLossy,     // at kWebpLossyQuality with the default method
  kLossless,  // with the default effort
};

// A WebP animation on a canvas of a fixed size that loops forever, built
// frame by frame so that only the frame being added need be in memory, every
// frame encoded the same way. A frame equal to the one before it only
// lengthens that one's display time. Every method throws EInvalidGraphic
// with libwebp's reason when encoding fails.
class WebpAnimation {
 public:
  WebpAnimation(int width, int height, WebpEncoding encoding);
  ~WebpAnimation();
  WebpAnimation(const WebpAnimation&) = delete;
  WebpAnimation& operator=(const WebpAnimation&) = delete;

  // Appends a frame of the canvas's size shown for 1 to kMaxWebpFrameMs.
  void Add(const RgbaImage& frame, int duration_ms);
  // The bytes of the file; no frame may be added afterwards.
  std::string Finish();

 private:
  struct EncoderDeleter {
    void operator()(WebPAnimEncoder* encoder) const;
  };
  std::unique_ptr<WebPAnimEncoder, EncoderDeleter> encoder_;
  int width_;
  int height_;
  WebpEncoding encoding_;
  std::int64_t timestamp_ms_ = 0;
};

}  // namespace picture
