#include "picture/WebpAnimation.h"

#include <webp/encode.h>
#include <webp/mux.h>

#include <limits>

#include "platform/Exceptions.h"

namespace picture {
namespace {

// A WebPPicture that frees its pixels when it goes away.
class Picture {
 public:
  Picture() {
    if (WebPPictureInit(&picture_) == 0)
      throw platform::EInvalidGraphic("libwebp version mismatch");
  }
  ~Picture() { WebPPictureFree(&picture_); }
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;
  WebPPicture* get() { return &picture_; }

 private:
  WebPPicture picture_{};
};

// Encoded bytes that libwebp allocated, freed by it.
class WebpData {
 public:
  WebpData() { WebPDataInit(&data_); }
  ~WebpData() { WebPDataClear(&data_); }
  WebpData(const WebpData&) = delete;
  WebpData& operator=(const WebpData&) = delete;
  WebPData* get() { return &data_; }

 private:
  WebPData data_{};
};

[[noreturn]] void Fail(const char* step, WebPAnimEncoder* encoder = nullptr) {
  const char* reason = encoder != nullptr ? WebPAnimEncoderGetError(encoder) : nullptr;
  std::string message = std::string("WebP animation not encoded: ") + step;
  if (reason != nullptr && *reason != '\0') message += std::string(": ") + reason;
  throw platform::EInvalidGraphic(message);
}

}  // namespace

void WebpAnimation::EncoderDeleter::operator()(WebPAnimEncoder* encoder) const {
  WebPAnimEncoderDelete(encoder);
}

WebpAnimation::WebpAnimation(int width, int height, WebpEncoding encoding)
    : width_(width), height_(height), encoding_(encoding) {
  WebPAnimEncoderOptions options;
  if (WebPAnimEncoderOptionsInit(&options) == 0) Fail("options");
  options.anim_params.loop_count = 0;
  encoder_.reset(WebPAnimEncoderNew(width, height, &options));
  if (!encoder_) Fail("no encoder for this canvas");
}

WebpAnimation::~WebpAnimation() = default;

void WebpAnimation::Add(const RgbaImage& frame, int duration_ms) {
  if (frame.width != width_ || frame.height != height_) Fail("frame size differs from the canvas");
  if (duration_ms < 1 || duration_ms > kMaxWebpFrameMs ||
      timestamp_ms_ + duration_ms > std::numeric_limits<int>::max()) {
    Fail("frame duration out of range");
  }
  WebPConfig config;
  if (WebPConfigInit(&config) == 0) Fail("configuration");
  if (encoding_ == WebpEncoding::kLossless) {
    config.lossless = 1;
  } else {
    config.quality = kWebpLossyQuality;
  }
  Picture picture;
  picture.get()->use_argb = 1;
  picture.get()->width = width_;
  picture.get()->height = height_;
  if (WebPPictureImportRGBA(picture.get(), frame.pixels.data(), width_ * 4) == 0) {
    Fail("out of memory");
  }
  if (WebPAnimEncoderAdd(encoder_.get(), picture.get(), static_cast<int>(timestamp_ms_), &config) ==
      0) {
    Fail("frame", encoder_.get());
  }
  timestamp_ms_ += duration_ms;
}

std::string WebpAnimation::Finish() {
  if (WebPAnimEncoderAdd(encoder_.get(), nullptr, static_cast<int>(timestamp_ms_), nullptr) == 0) {
    Fail("end", encoder_.get());
  }
  WebpData data;
  if (WebPAnimEncoderAssemble(encoder_.get(), data.get()) == 0) Fail("assembly", encoder_.get());
  return std::string(reinterpret_cast<const char*>(data.get()->bytes), data.get()->size);
}

}  // namespace picture
