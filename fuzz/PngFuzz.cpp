// Feeds arbitrary bytes to the PNG decoder that reads downloaded frames and
// map layers. A file is either refused with EInvalidGraphic or decoded into
// RGBA pixels of the size its header gives; anything else (a crash, a
// sanitizer report, another exception) is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "picture/PngDecoder.h"
#include "platform/Exceptions.h"

namespace {

// Lower than the decoder's own limit so that a small file cannot make every
// run allocate a gigabyte; the checks are the same at any limit.
constexpr int kFuzzMaxDimension = 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    const picture::RgbaImage image = picture::DecodePng(bytes, kFuzzMaxDimension);
    if (image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 4) {
      std::abort();
    }
  } catch (const platform::EInvalidGraphic&) {
  }
  return 0;
}
