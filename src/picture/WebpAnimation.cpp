#include "picture/WebpAnimation.h"

#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

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

// The encoder's output in memory, freed by libwebp.
class MemoryWriter {
 public:
  MemoryWriter() { WebPMemoryWriterInit(&writer_); }
  ~MemoryWriter() { WebPMemoryWriterClear(&writer_); }
  MemoryWriter(const MemoryWriter&) = delete;
  MemoryWriter& operator=(const MemoryWriter&) = delete;
  WebPMemoryWriter* get() { return &writer_; }

 private:
  WebPMemoryWriter writer_{};
};

// Assembled bytes that libwebp allocated, freed by it.
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

struct MuxDeleter {
  void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};

const char* EncodingError(WebPEncodingError error) {
  switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY:
      return "out of memory";
    case VP8_ENC_ERROR_BAD_DIMENSION:
      return "bad dimension";
    case VP8_ENC_ERROR_FILE_TOO_BIG:
      return "file too big";
    default:
      return "encoder failure";
  }
}

[[noreturn]] void Fail(const std::string& step) {
  throw platform::EInvalidGraphic("WebP animation not encoded: " + step);
}

std::uint32_t PixelAt(const RgbaImage& image, std::size_t index) {
  std::uint32_t value;
  std::memcpy(&value, &image.pixels[index * 4], sizeof value);
  return value;
}

}  // namespace

std::string EncodeLosslessWebp(const RgbaImage& image, bool exact) {
  WebPConfig config;
  if (WebPConfigInit(&config) == 0) Fail("libwebp version mismatch");
  config.lossless = 1;
  config.method = kWebpLosslessMethod;
  config.quality = kWebpLosslessQuality;
  config.exact = exact ? 1 : 0;
  Picture picture;
  picture.get()->use_argb = 1;
  picture.get()->width = image.width;
  picture.get()->height = image.height;
  if (WebPPictureImportRGBA(picture.get(), image.pixels.data(), image.width * 4) == 0) {
    Fail("out of memory");
  }
  MemoryWriter writer;
  picture.get()->writer = WebPMemoryWrite;
  picture.get()->custom_ptr = writer.get();
  if (WebPEncode(&config, picture.get()) == 0) Fail(EncodingError(picture.get()->error_code));
  return std::string(reinterpret_cast<const char*>(writer.get()->mem), writer.get()->size);
}

FramePatch DifferencePatch(const RgbaImage& previous, const RgbaImage& current) {
  if (previous.width != current.width || previous.height != current.height) {
    Fail("frame size differs from the canvas");
  }
  const int width = current.width;
  int left = width;
  int right = -1;
  int top = current.height;
  int bottom = -1;
  bool all_opaque = true;
  for (int y = 0; y < current.height; ++y) {
    const std::size_t row = static_cast<std::size_t>(y) * width;
    for (int x = 0; x < width; ++x) {
      if (PixelAt(previous, row + x) == PixelAt(current, row + x)) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = y;
      all_opaque = all_opaque && current.pixels[(row + x) * 4 + 3] == 255;
    }
  }
  FramePatch patch;
  if (right < 0) return patch;
  // A WebP animation frame starts at even coordinates.
  left &= ~1;
  top &= ~1;
  patch.x = left;
  patch.y = top;
  patch.blend = all_opaque;
  patch.image = RgbaImage::Transparent(right - left + 1, bottom - top + 1);
  for (int y = top; y <= bottom; ++y) {
    for (int x = left; x <= right; ++x) {
      const std::size_t at = static_cast<std::size_t>(y) * width + x;
      if (patch.blend && PixelAt(previous, at) == PixelAt(current, at)) continue;
      std::memcpy(
          &patch.image
               .pixels[(static_cast<std::size_t>(y - top) * patch.image.width + (x - left)) * 4],
          &current.pixels[at * 4], 4);
    }
  }
  return patch;
}

std::optional<std::pair<int, int>> WebpStillSize(std::string_view bytes) {
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                      &features) != VP8_STATUS_OK ||
      features.has_animation != 0) {
    return std::nullopt;
  }
  return std::pair{features.width, features.height};
}

std::optional<RgbaImage> DecodeWebpStill(std::string_view bytes, int width, int height) {
  const std::optional<std::pair<int, int>> size = WebpStillSize(bytes);
  if (!size || size->first != width || size->second != height) return std::nullopt;
  RgbaImage image = RgbaImage::Transparent(width, height);
  const std::size_t stride = static_cast<std::size_t>(width) * 4;
  if (WebPDecodeRGBAInto(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                         image.pixels.data(), image.pixels.size(),
                         static_cast<int>(stride)) == nullptr) {
    return std::nullopt;
  }
  return image;
}

std::string AssembleWebpAnimation(int width, int height, std::span<const WebpFrame> frames) {
  std::unique_ptr<WebPMux, MuxDeleter> mux(WebPMuxNew());
  if (!mux) Fail("out of memory");
  for (const WebpFrame& frame : frames) {
    if (frame.duration_ms < 1 || frame.duration_ms > kMaxWebpFrameMs) {
      Fail("frame duration out of range");
    }
    if (frame.x % 2 != 0 || frame.y % 2 != 0) Fail("frame at odd coordinates");
    WebPMuxFrameInfo info{};
    info.bitstream.bytes = reinterpret_cast<const std::uint8_t*>(frame.picture.data());
    info.bitstream.size = frame.picture.size();
    info.x_offset = frame.x;
    info.y_offset = frame.y;
    info.duration = frame.duration_ms;
    info.id = WEBP_CHUNK_ANMF;
    info.dispose_method = WEBP_MUX_DISPOSE_NONE;
    info.blend_method = frame.blend ? WEBP_MUX_BLEND : WEBP_MUX_NO_BLEND;
    if (WebPMuxPushFrame(mux.get(), &info, 0) != WEBP_MUX_OK) Fail("frame is no WebP picture");
  }
  WebPMuxAnimParams params{};
  params.bgcolor = 0xFFFFFFFF;
  params.loop_count = 0;
  if (WebPMuxSetAnimationParams(mux.get(), &params) != WEBP_MUX_OK ||
      WebPMuxSetCanvasSize(mux.get(), width, height) != WEBP_MUX_OK) {
    Fail("canvas");
  }
  WebpData data;
  if (WebPMuxAssemble(mux.get(), data.get()) != WEBP_MUX_OK) Fail("a frame does not fit");
  return std::string(reinterpret_cast<const char*>(data.get()->bytes), data.get()->size);
}

}  // namespace picture
