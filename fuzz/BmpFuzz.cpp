// Feeds arbitrary bytes to the BMP decoder. A file is either refused with
// EInvalidGraphic or decoded into a picture that survives a save and a
// reload unchanged and can be painted on anywhere; anything else (a crash, a
// sanitizer report, another exception, a changed picture) is a finding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "picture/Bitmap.h"
#include "picture/BmpCodec.h"
#include "platform/Exceptions.h"

namespace {

// Lower than the loader's own limit so that a small RLE file cannot make
// every run allocate a gigabyte; the checks are the same at any limit.
constexpr int kFuzzMaxDimension = 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  picture::Bitmap bitmap(1, 1, 24);
  try {
    bitmap = picture::DecodeBmp(bytes, kFuzzMaxDimension);
  } catch (const platform::EInvalidGraphic&) {
    return 0;
  }
  const std::string saved = picture::EncodeBmp(bitmap);
  const picture::Bitmap reloaded = picture::DecodeBmp(saved, kFuzzMaxDimension);
  if (!(reloaded == bitmap) || picture::EncodeBmp(reloaded) != saved) __builtin_trap();

  // Painting reaches every pixel format's write path, partly off the picture.
  bitmap.FillRect(-2, bitmap.Height() / 2, bitmap.Width() / 2 + 3, bitmap.Height() + 2,
                  picture::kWhite);
  bitmap.PaintPixel(bitmap.Width() - 1, 0, picture::kBlack);
  for (int y = 0; y < bitmap.Height(); ++y) {
    (void)bitmap.PixelColor(bitmap.Width() - 1, y);
  }
  return 0;
}
