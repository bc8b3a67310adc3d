// What passes as a map layer: the decoding that stands between the radar
// host's answer and the published file, and between that file and
// loop.webp.
#include "refresh/MapLayers.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Exceptions.h"
#include "support/TestPng.h"

namespace refresh {
namespace {

using testing_support::OneColourPng;
using testing_support::WithChunkBytes;
using testing_support::WithDeclaredSize;

TEST(MapLayersTest, OnlyAWholePngWithinTheLayerLimitPasses) {
  const std::string good = OneColourPng(16, 8, 0x336699ff);
  // A deflate block of the reserved type 3 right after the zlib header.
  const std::string broken_stream = WithChunkBytes(good, "IDAT", 2, "\xff\xff\xff\xff");
  const struct {
    std::string bytes;
    const char* problem;  // part of the reason; nullptr: passes
  } kRows[] = {
      {good, nullptr},
      {OneColourPng(kMaxMapLayerSide, 1, 0), nullptr},
      {OneColourPng(kMaxMapLayerSide + 1, 1, 0), "size 4097 x 1 is not supported"},
      // Refused from the header, before a pixel is decoded or allocated.
      {WithDeclaredSize(good, 16384, 16384), "size 16384 x 16384 is not supported"},
      {WithDeclaredSize(good, 0xffffffff, 1), "PNG picture is not valid"},
      {broken_stream, "PNG picture is not valid"},
      {good.substr(0, good.size() - 20), "PNG picture is not valid"},
      {"<html><body>Not Found</body></html>", "PNG picture is not valid"},
      {"", "PNG picture is not valid"},
  };
  for (const auto& row : kRows) {
    if (row.problem == nullptr) {
      EXPECT_EQ(DecodeMapLayer(row.bytes).width, row.bytes == good ? 16 : kMaxMapLayerSide);
      continue;
    }
    try {
      (void)DecodeMapLayer(row.bytes);
      ADD_FAILURE() << "passed: " << row.problem;
    } catch (const platform::EInvalidGraphic& error) {
      EXPECT_NE(std::string(error.what()).find(row.problem), std::string::npos) << error.what();
    }
  }
}

}  // namespace
}  // namespace refresh
