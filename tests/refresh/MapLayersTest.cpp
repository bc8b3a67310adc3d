// What passes as a map layer: the PNG check that stands between the radar
// host's answer and the published file.
#include "refresh/MapLayers.h"

#include <gtest/gtest.h>

#include <string>

namespace refresh {
namespace {

// Signature, an IHDR chunk of the given fields and an IEND chunk.
std::string Png(const std::string& size, char depth, char colour_type) {
  return std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) + size + depth + colour_type +
         std::string("\0\0\0", 3) + "crc!" + std::string("\0\0\0\0IEND\xae\x42\x60\x82", 12);
}

const std::string k512x512("\0\0\x02\0\0\0\x02\0", 8);

TEST(MapLayersTest, OnlyAPngWithinTheBitmapLimitsPasses) {
  const struct {
    std::string bytes;
    const char* problem;  // the start of the reason; nullptr: passes
  } kRows[] = {
      {Png(k512x512, 8, 6), nullptr},
      {Png(std::string("\0\0\x40\0\0\0\0\x01", 8), 1, 0), nullptr},  // 16384 x 1
      {Png(k512x512, 16, 2), nullptr},
      {Png(k512x512, 4, 3), nullptr},
      {"<html><body>Not Found</body></html>", "no PNG signature"},
      {"", "no PNG signature"},
      {Png(k512x512, 8, 6).substr(0, 40), "shorter than a PNG header"},
      {Png(std::string("\0\0\x40\x01\0\0\0\x01", 8), 8, 6), "a size of 16385 x 1 pixels"},
      {Png(std::string("\0\0\x02\0\0\0\0\0", 8), 8, 6), "a size of 512 x 0 pixels"},
      {Png(std::string("\xff\xff\xff\xff\0\0\0\x01", 8), 8, 6), "a size of 4294967295 x 1"},
      {Png(k512x512, 16, 3), "colour type 3 with bit depth 16"},
      {Png(k512x512, 8, 5), "colour type 5 with bit depth 8"},
      {Png(k512x512, 8, 6) + "<html>", "no IEND chunk at the end"},
  };
  std::string wrong_chunk = Png(k512x512, 8, 6);
  wrong_chunk.replace(12, 4, "IDAT");
  EXPECT_EQ(PngProblem(wrong_chunk).value_or(""), "no IHDR chunk after the signature");
  for (const auto& row : kRows) {
    const std::optional<std::string> problem = PngProblem(row.bytes);
    if (row.problem == nullptr) {
      EXPECT_FALSE(problem) << *problem;
    } else {
      ASSERT_TRUE(problem) << row.problem;
      EXPECT_EQ(problem->rfind(row.problem, 0), 0u) << *problem;
    }
  }
}

}  // namespace
}  // namespace refresh
