#include "picture/BmpCodec.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Exceptions.h"
#include "support/RequireEnvironment.h"
#include "support/TempDir.h"

namespace {

using picture::Bitmap;
using picture::ChannelMasks;
using picture::DecodeBmp;
using picture::EncodeBmp;
using picture::PaletteEntry;
using picture::Rgb;

void Put16(std::string& out, uint32_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

uint32_t Get32(const std::string& bytes, std::size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

// A BMP file laid out field by field, so that each test can bend one field.
struct FileLayout {
  uint32_t header_size = 40;
  int32_t width = 2;
  int32_t height = 2;
  uint16_t planes = 1;
  uint16_t bit_count = 24;
  uint32_t compression = 0;
  uint32_t size_image = 0;
  uint32_t colors_used = 0;
  std::vector<uint32_t> masks;  // after a 40-byte header, inside a longer one
  std::string palette;          // raw entries
  std::string pixels;           // raw pixel data
  std::optional<uint32_t> pixel_offset;

  std::string Build() const {
    std::string header;
    if (header_size == 12) {
      Put16(header, static_cast<uint32_t>(width));
      Put16(header, static_cast<uint32_t>(height));
      Put16(header, planes);
      Put16(header, bit_count);
    } else {
      Put32(header, static_cast<uint32_t>(width));
      Put32(header, static_cast<uint32_t>(height));
      Put16(header, planes);
      Put16(header, bit_count);
      Put32(header, compression);
      Put32(header, size_image);
      Put32(header, 2835);
      Put32(header, 2835);
      Put32(header, colors_used);
      Put32(header, 0);
    }
    std::string after_header;
    if (header_size > 40) {
      for (uint32_t mask : masks) Put32(header, mask);
    } else {
      for (uint32_t mask : masks) Put32(after_header, mask);
    }
    header.resize(header_size - 4, '\0');  // the rest of a long header stays zero
    std::string info;
    Put32(info, header_size);
    info += header + after_header + palette;
    const uint32_t offset = pixel_offset.value_or(static_cast<uint32_t>(14 + info.size()));
    std::string file = "BM";
    Put32(file, static_cast<uint32_t>(14 + info.size() + pixels.size()));
    Put32(file, 0);
    Put32(file, offset);
    return file + info + pixels;
  }
};

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int value : values) out.push_back(static_cast<char>(value));
  return out;
}

// A palette of n entries whose entry i is (i, 2i, 3i).
std::string RawPalette(int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += Bytes({3 * i, 2 * i, i, 0});
  return out;
}

void ExpectInvalid(const std::string& bytes, const std::string& what) {
  try {
    DecodeBmp(bytes);
    ADD_FAILURE() << what << ": accepted";
  } catch (const platform::EInvalidGraphic& error) {
    EXPECT_EQ(error.Message(), "Bitmap image is not valid") << what;
    EXPECT_EQ(error.ClassName(), "EInvalidGraphic") << what;
  }
}

std::vector<std::vector<uint32_t>> Values(const Bitmap& bitmap) {
  std::vector<std::vector<uint32_t>> rows(bitmap.Height());
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) rows[y].push_back(bitmap.PixelValue(x, y));
  }
  return rows;
}

TEST(BmpDecodeTest, RowOrderAndPadding) {
  // Three 24-bit pixels make 9 bytes, padded to 12 per row.
  FileLayout file;
  file.width = 3;
  file.pixels = Bytes({0, 0, 255, 0, 255, 0, 255, 0, 0, 9, 9, 9}) +  // red green blue
                Bytes({255, 255, 255, 0, 0, 0, 1, 2, 3, 9, 9, 9});   // white black (3,2,1)

  const Bitmap bottom_up = DecodeBmp(file.Build());
  EXPECT_EQ(bottom_up.Width(), 3);
  EXPECT_EQ(bottom_up.BitCount(), 24);
  // The first stored row is the bottom one.
  EXPECT_EQ(bottom_up.PixelColor(0, 1), (Rgb{255, 0, 0}));
  EXPECT_EQ(bottom_up.PixelColor(2, 1), (Rgb{0, 0, 255}));
  EXPECT_EQ(bottom_up.PixelColor(0, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(bottom_up.PixelColor(2, 0), (Rgb{3, 2, 1}));

  file.height = -2;
  const Bitmap top_down = DecodeBmp(file.Build());
  EXPECT_EQ(top_down.Height(), 2);
  EXPECT_EQ(top_down.PixelColor(0, 0), (Rgb{255, 0, 0}));
  EXPECT_EQ(top_down.PixelColor(2, 1), (Rgb{3, 2, 1}));

  // Saved back bottom-up with zero padding: the original bytes of the
  // bottom-up file, apart from the size field the builder leaves at 0.
  const std::string saved = EncodeBmp(top_down);
  EXPECT_EQ(Get32(saved, 10), 54u);
  EXPECT_EQ(static_cast<int32_t>(Get32(saved, 22)), 2);
  EXPECT_EQ(saved.substr(54), Bytes({255, 255, 255, 0, 0, 0, 1, 2, 3, 0, 0, 0}) +
                                  Bytes({0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0}));
}

TEST(BmpDecodeTest, PackedAndMaskedPixels) {
  // 1 bit: the leftmost pixel is the highest bit; 10 pixels need 2 bytes + 2 padding.
  FileLayout one;
  one.width = 10;
  one.height = 1;
  one.bit_count = 1;
  one.palette = RawPalette(2);
  one.pixels = Bytes({0b10000001, 0b01000000, 0, 0});
  EXPECT_EQ(Values(DecodeBmp(one.Build()))[0],
            (std::vector<uint32_t>{1, 0, 0, 0, 0, 0, 0, 1, 0, 1}));

  // 4 bits: the high nibble comes first.
  FileLayout four;
  four.width = 3;
  four.height = 1;
  four.bit_count = 4;
  four.palette = RawPalette(16);
  four.pixels = Bytes({0xAB, 0xC0, 0, 0});
  const Bitmap nibbles = DecodeBmp(four.Build());
  EXPECT_EQ(Values(nibbles)[0], (std::vector<uint32_t>{0xA, 0xB, 0xC}));
  EXPECT_EQ(nibbles.PixelColor(1, 0), (Rgb{11, 22, 33}));

  // 16 bits without masks is 5-5-5; with masks it is what they say.
  FileLayout rgb555;
  rgb555.width = 2;
  rgb555.height = 1;
  rgb555.bit_count = 16;
  rgb555.pixels = Bytes({0x00, 0x7C, 0x1F, 0x00});
  const Bitmap five = DecodeBmp(rgb555.Build());
  EXPECT_EQ(five.PixelColor(0, 0), (Rgb{255, 0, 0}));
  EXPECT_EQ(five.PixelColor(1, 0), (Rgb{0, 0, 255}));

  FileLayout rgb565 = rgb555;
  rgb565.compression = 3;
  rgb565.masks = {0xF800, 0x07E0, 0x001F};
  rgb565.pixels = Bytes({0xE0, 0x07, 0x00, 0xF8});
  const Bitmap six = DecodeBmp(rgb565.Build());
  EXPECT_EQ(six.PixelColor(0, 0), (Rgb{0, 255, 0}));
  EXPECT_EQ(six.PixelColor(1, 0), (Rgb{255, 0, 0}));
  EXPECT_EQ(six.Masks(), (ChannelMasks{0xF800, 0x07E0, 0x001F, 0}));

  // A 124-byte header carries the masks, alpha included, inside itself.
  FileLayout v5;
  v5.header_size = 124;
  v5.width = 1;
  v5.height = 1;
  v5.bit_count = 32;
  v5.compression = 3;
  v5.masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000};
  v5.pixels = Bytes({10, 20, 30, 40});
  const Bitmap alpha = DecodeBmp(v5.Build());
  EXPECT_EQ(alpha.PixelColor(0, 0), (Rgb{10, 20, 30}));
  EXPECT_EQ(alpha.Masks().alpha, 0xFF000000u);
}

TEST(BmpDecodeTest, CoreHeaderWithThreeBytePalette) {
  FileLayout core;
  core.header_size = 12;
  core.width = 2;
  core.height = 1;
  core.bit_count = 8;
  // Only three entries are stored; the pixel offset tells.
  core.palette = Bytes({0, 0, 255, 0, 255, 0, 255, 0, 0});
  core.pixels = Bytes({2, 0, 0, 0});
  const Bitmap bitmap = DecodeBmp(core.Build());
  ASSERT_EQ(bitmap.Palette().size(), 3u);
  EXPECT_EQ(bitmap.PixelColor(0, 0), (Rgb{0, 0, 255}));
  EXPECT_EQ(bitmap.PixelColor(1, 0), (Rgb{255, 0, 0}));
  // Saved with the 40-byte header and the same three colours.
  const Bitmap again = DecodeBmp(EncodeBmp(bitmap));
  EXPECT_EQ(again, bitmap);
}

struct RoundTripCase {
  const char* name;
  int bit_count;
  int palette_size;
  ChannelMasks masks;
};

TEST(BmpRoundTripTest, EveryDepthKeepsSizePaletteMasksAndPixels) {
  const RoundTripCase cases[] = {
      {"1-bit", 1, 2, {}},
      {"4-bit, 11 colours", 4, 11, {}},
      {"8-bit, 256 colours", 8, 256, {}},
      {"16-bit 5-5-5", 16, 0, picture::DefaultMasks(16)},
      {"16-bit 5-6-5", 16, 0, {0xF800, 0x07E0, 0x001F, 0}},
      {"24-bit", 24, 0, {}},
      {"24-bit with a palette hint", 24, 3, {}},
      {"32-bit", 32, 0, picture::DefaultMasks(32)},
      {"32-bit with alpha", 32, 0, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}},
      {"32-bit 10-10-10", 32, 0, {0x3FF00000, 0x000FFC00, 0x000003FF, 0}},
  };
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<PaletteEntry> palette;
    for (int i = 0; i < c.palette_size; ++i) {
      palette.push_back(PaletteEntry{static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                                     static_cast<uint8_t>(i * 7), static_cast<uint8_t>(i % 3)});
    }
    Bitmap original(13, 5, c.bit_count, palette, c.masks);
    original.SetResolution(1234, 5678);
    const uint32_t limit = c.bit_count <= 8 ? static_cast<uint32_t>(c.palette_size) : 0;
    uint32_t seed = 12345;
    for (int y = 0; y < original.Height(); ++y) {
      for (int x = 0; x < original.Width(); ++x) {
        seed = seed * 1103515245u + 12345u;
        original.SetPixelValue(x, y, limit != 0 ? (seed >> 8) % limit : seed);
      }
    }
    const std::string bytes = EncodeBmp(original);
    EXPECT_EQ(Get32(bytes, 2), bytes.size());
    EXPECT_EQ(bytes[28], static_cast<char>(c.bit_count));
    EXPECT_EQ(Get32(bytes, 46), static_cast<uint32_t>(c.palette_size));  // colours used
    const bool default_layout = c.masks == picture::DefaultMasks(c.bit_count);
    EXPECT_EQ(Get32(bytes, 30), default_layout ? 0u : 3u);  // uncompressed or bit fields
    EXPECT_EQ(Get32(bytes, 14), c.masks.alpha != 0 ? 108u : 40u);
    const Bitmap decoded = DecodeBmp(bytes);
    EXPECT_EQ(decoded, original);
    EXPECT_EQ(EncodeBmp(decoded), bytes);
  }
}

TEST(BmpRleTest, Rle8RunsLiteralsDeltaAndLineEnds) {
  FileLayout file;
  file.width = 4;
  file.height = 3;
  file.bit_count = 8;
  file.compression = 1;
  file.colors_used = 4;
  file.palette = RawPalette(4);
  file.pixels = Bytes({3, 1,              // bottom row: three of index 1
                       0, 0,              // end of line
                       0, 3, 2, 3, 0, 0,  // three literal pixels, one pad byte
                       0, 0,              // end of line
                       0, 2, 1, 0,        // move one right
                       2, 3,              // two of index 3
                       0, 1});            // end of picture
  const Bitmap bitmap = DecodeBmp(file.Build());
  EXPECT_EQ(Values(bitmap),
            (std::vector<std::vector<uint32_t>>{{0, 3, 3, 0}, {2, 3, 0, 0}, {1, 1, 1, 0}}));
  // Saved back uncompressed in the same depth.
  const std::string saved = EncodeBmp(bitmap);
  EXPECT_EQ(saved[28], 8);
  EXPECT_EQ(Get32(saved, 30), 0u);
  EXPECT_EQ(DecodeBmp(saved), bitmap);
}

TEST(BmpRleTest, Rle4NibbleRunsAndLiterals) {
  FileLayout file;
  file.width = 5;
  file.height = 3;
  file.bit_count = 4;
  file.compression = 2;
  file.palette = RawPalette(16);
  file.pixels = Bytes({5, 0x12,           // bottom row: 1 2 1 2 1
                       0, 0,              // end of line
                       0, 3, 0x34, 0x50,  // literal 3 4 5, two bytes, no padding
                       0, 2, 0, 1,        // up one row, same column
                       2, 0x77,           // 7 7 from column 3
                       0, 1});
  const Bitmap bitmap = DecodeBmp(file.Build());
  EXPECT_EQ(Values(bitmap), (std::vector<std::vector<uint32_t>>{
                                {0, 0, 0, 7, 7}, {3, 4, 5, 0, 0}, {1, 2, 1, 2, 1}}));
  EXPECT_EQ(DecodeBmp(EncodeBmp(bitmap)), bitmap);

  // Data may stop without the end mark once every row is done.
  file.height = 1;
  file.pixels = Bytes({5, 0x12, 0, 0});
  EXPECT_EQ(Values(DecodeBmp(file.Build()))[0], (std::vector<uint32_t>{1, 2, 1, 2, 1}));
}

TEST(BmpRleTest, RunsAndMovesOutsideThePictureAreRefused) {
  FileLayout base;
  base.width = 3;
  base.height = 2;
  base.bit_count = 8;
  base.compression = 1;
  base.colors_used = 4;
  base.palette = RawPalette(4);
  const std::pair<const char*, std::string> cases[] = {
      {"run past the row end", Bytes({4, 1, 0, 1})},
      {"run after a full row", Bytes({3, 1, 1, 1, 0, 1})},
      {"literal past the row end", Bytes({0, 4, 1, 1, 1, 1, 0, 1})},
      {"literal past the data", Bytes({0, 3, 1, 1})},
      {"move past the top", Bytes({0, 2, 0, 2, 0, 1})},
      {"move past the right edge", Bytes({0, 2, 4, 0, 0, 1})},
      {"move cut short", Bytes({0, 2, 1})},
      {"index outside the palette", Bytes({2, 4, 0, 1})},
      {"literal index outside the palette", Bytes({0, 3, 1, 9, 1, 0, 0, 1})},
      {"data ends mid-picture", Bytes({3, 1})},
      {"odd trailing byte", Bytes({3, 1, 0, 0, 3, 1, 0})},
      {"line end below the picture", Bytes({0, 0, 0, 0, 0, 0, 0, 1})},
  };
  for (const auto& [what, data] : cases) {
    FileLayout file = base;
    file.pixels = data;
    ExpectInvalid(file.Build(), what);
  }
  FileLayout top_down = base;
  top_down.height = -2;
  top_down.pixels = Bytes({0, 1});
  ExpectInvalid(top_down.Build(), "top-down RLE");
  FileLayout declared = base;
  declared.pixels = Bytes({0, 1});
  declared.size_image = 3;
  ExpectInvalid(declared.Build(), "compressed size beyond the file");
}

TEST(BmpDecodeTest, HostileHeadersAreRefused) {
  FileLayout valid;
  valid.width = 2;
  valid.height = 2;
  valid.bit_count = 8;
  valid.colors_used = 2;
  valid.palette = RawPalette(2);
  valid.pixels = Bytes({0, 1, 0, 0, 1, 0, 0, 0});
  const std::string good = valid.Build();
  ASSERT_NO_THROW(DecodeBmp(good));

  // Every cut of a valid file is refused.
  for (std::size_t length = 0; length < good.size(); ++length) {
    ExpectInvalid(good.substr(0, length), "cut to " + std::to_string(length) + " bytes");
  }

  const std::pair<const char*, std::function<void(FileLayout&)>> cases[] = {
      {"header size 64", [](FileLayout& s) { s.header_size = 64; }},
      {"header size 16", [](FileLayout& s) { s.header_size = 16; }},
      {"width 0", [](FileLayout& s) { s.width = 0; }},
      {"negative width", [](FileLayout& s) { s.width = -2; }},
      {"width 16385", [](FileLayout& s) { s.width = 16385; }},
      {"height 16385", [](FileLayout& s) { s.height = 16385; }},
      {"height -16385", [](FileLayout& s) { s.height = -16385; }},
      {"height INT32_MIN", [](FileLayout& s) { s.height = INT32_MIN; }},
      {"height 0", [](FileLayout& s) { s.height = 0; }},
      {"two planes", [](FileLayout& s) { s.planes = 2; }},
      {"2 bits per pixel", [](FileLayout& s) { s.bit_count = 2; }},
      {"JPEG compression", [](FileLayout& s) { s.compression = 4; }},
      {"RLE4 at 8 bits", [](FileLayout& s) { s.compression = 2; }},
      {"bit fields at 8 bits", [](FileLayout& s) { s.compression = 3; }},
      {"more colours than the depth", [](FileLayout& s) { s.colors_used = 257; }},
      {"huge colour count", [](FileLayout& s) { s.colors_used = 0xFFFFFFFF; }},
      {"pixel offset past the end", [](FileLayout& s) { s.pixel_offset = 1000; }},
      {"pixel offset inside the palette", [](FileLayout& s) { s.pixel_offset = 56; }},
      {"pixel data one byte short", [](FileLayout& s) { s.pixels.pop_back(); }},
      {"index beyond the palette", [](FileLayout& s) { s.pixels[1] = 2; }},
      {"palette of 0 entries declared by the core header",
       [](FileLayout& s) {
         s.header_size = 12;
         s.palette.clear();
       }},
  };
  for (const auto& [what, mutate] : cases) {
    FileLayout file = valid;
    mutate(file);
    ExpectInvalid(file.Build(), what);
  }

  ExpectInvalid("BA" + good.substr(2), "wrong signature");
  std::string huge_header = good;
  huge_header[14] = huge_header[15] = huge_header[16] = huge_header[17] = '\xFF';
  ExpectInvalid(huge_header, "header size 0xFFFFFFFF");

  FileLayout masked;
  masked.width = 1;
  masked.height = 1;
  masked.bit_count = 16;
  masked.compression = 3;
  masked.pixels = Bytes({0, 0, 0, 0});
  const std::pair<const char*, std::vector<uint32_t>> bad_masks[] = {
      {"overlapping masks", {0xF800, 0x0FE0, 0x001F}},
      {"split mask", {0xF800, 0x07E0, 0x0015}},
      {"mask outside 16 bits", {0x1F800, 0x07E0, 0x001F}},
      {"zero mask", {0xF800, 0, 0x001F}},
  };
  for (const auto& [what, masks] : bad_masks) {
    FileLayout file = masked;
    file.masks = masks;
    ExpectInvalid(file.Build(), what);
  }

  // 4-bit indices are checked as well, the low nibble included.
  FileLayout four;
  four.width = 2;
  four.height = 1;
  four.bit_count = 4;
  four.colors_used = 3;
  four.palette = RawPalette(3);
  four.pixels = Bytes({0x23, 0, 0, 0});
  ExpectInvalid(four.Build(), "4-bit index beyond the palette");
}

// A header that declares more pixels than its file holds, or than the
// caller allows, is refused before memory is taken for them: the peak memory
// of the process stays far below the gigabyte the 54-byte file declares.
TEST(BmpDecodeTest, DeclaredPixelsAreWeighedBeforeAnyMemoryIsTaken) {
  FileLayout huge;
  huge.width = 16384;
  huge.height = 16384;
  huge.bit_count = 32;
  const std::string file = huge.Build();
  ASSERT_EQ(file.size(), 54u);
  testing_support::TempDir dir;
  dir.Write("huge.bmp", file);
  ExpectInvalid(file, "1 GiB of pixels in 54 bytes");
  EXPECT_THROW(picture::LoadBmpFile(dir.File("huge.bmp")), platform::EInvalidGraphic);
  struct rusage usage {};
  ASSERT_EQ(getrusage(RUSAGE_SELF, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 256 * 1024) << "KiB at the peak";

  // 2 x 2 at 24 bits take two rows of 8 bytes.
  FileLayout small;
  small.pixels = std::string(16, '\0');
  dir.Write("small.bmp", small.Build());
  EXPECT_THROW(picture::LoadBmpFile(dir.File("small.bmp"), 15), platform::EInvalidGraphic);
  EXPECT_EQ(picture::LoadBmpFile(dir.File("small.bmp"), 16).Width(), 2);
}

TEST(BmpDecodeTest, LargestSizeIsAccepted) {
  // 16384 pixels at 1 bit are 2048 bytes per row.
  FileLayout wide;
  wide.width = 16384;
  wide.height = 1;
  wide.bit_count = 1;
  wide.palette = RawPalette(2);
  wide.pixels = std::string(2048, '\xFF');
  const Bitmap bitmap = DecodeBmp(wide.Build());
  EXPECT_EQ(bitmap.Width(), 16384);
  EXPECT_EQ(bitmap.PixelValue(16383, 0), 1u);
  // A caller may ask for a lower limit.
  EXPECT_THROW(DecodeBmp(wide.Build(), 1024), platform::EInvalidGraphic);
}

TEST(BmpFileTest, SaveReplacesAtomicallyAndLoadsBack) {
  testing_support::TempDir dir;
  const std::string path = dir.File("overlay.bmp");
  dir.Write("overlay.bmp", "old content");
  Bitmap bitmap(7, 3, 4);
  bitmap.SetPixelValue(6, 2, 15);
  picture::SaveBmpFile(bitmap, path);
  EXPECT_EQ(picture::LoadBmpFile(path), bitmap);
  // Only the target is left: no temporary file.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

// The rows are written straight from the picture in gathered writes of a
// limited number of pieces; a picture with more rows than one write takes
// must still come out whole and in order.
TEST(BmpFileTest, SavedFileHoldsEveryRowOfATallPicture) {
  testing_support::TempDir dir;
  Bitmap bitmap(3, 2500, 24);
  for (int y = 0; y < bitmap.Height(); ++y) {
    bitmap.PaintPixel(y % 3, y, Rgb{static_cast<uint8_t>(y), static_cast<uint8_t>(y >> 8), 7});
  }
  picture::SaveBmpFile(bitmap, dir.File("tall.bmp"));
  EXPECT_EQ(dir.Read("tall.bmp"), picture::EncodeBmp(bitmap));
  EXPECT_EQ(picture::LoadBmpFile(dir.File("tall.bmp")), bitmap);
}

// Files larger than the part read first take another way: uncompressed
// pixels are read in chunks straight into the picture, anything else whole.
// Either way a file loads exactly as its bytes decode, or is refused alike.
TEST(BmpFileTest, LargeFilesLoadAsTheirBytesDecode) {
  auto pattern = [](std::size_t size) {
    std::string pixels(size, '\0');
    for (std::size_t i = 0; i < size; ++i) pixels[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    return pixels;
  };
  std::vector<std::pair<std::string, FileLayout>> cases;
  FileLayout rgb;
  rgb.width = 300;
  rgb.height = 300;
  rgb.pixels = pattern(900 * 300);
  cases.emplace_back("24-bit bottom-up", rgb);
  FileLayout top_down = rgb;
  top_down.height = -300;
  cases.emplace_back("24-bit top-down", top_down);
  FileLayout cut = rgb;
  cut.pixels.resize(cut.pixels.size() - 100);
  cases.emplace_back("24-bit cut short", cut);
  FileLayout mono;  // padding bits and bytes full of ink, to be dropped
  mono.width = 1001;
  mono.height = 700;
  mono.bit_count = 1;
  mono.palette = RawPalette(2);
  mono.pixels = std::string(128 * 700, '\xFF');
  cases.emplace_back("1-bit with padding", mono);
  FileLayout indexed;
  indexed.width = 400;
  indexed.height = 400;
  indexed.bit_count = 8;
  indexed.palette = RawPalette(256);
  indexed.pixels = pattern(400 * 400);
  cases.emplace_back("8-bit", indexed);
  FileLayout bad_index = indexed;
  bad_index.colors_used = 200;
  bad_index.palette = RawPalette(200);
  bad_index.pixels = std::string(400 * 400, '\x05');
  bad_index.pixels[0] = '\xF0';  // the first stored row is the picture's last
  cases.emplace_back("8-bit index beyond the palette", bad_index);
  FileLayout fields;
  fields.width = 200;
  fields.height = 200;
  fields.bit_count = 32;
  fields.compression = 3;
  fields.masks = {0x00FF0000, 0x0000FF00, 0x000000FF};
  fields.pixels = pattern(800 * 200);
  cases.emplace_back("32-bit bit fields", fields);
  FileLayout far = rgb;  // pixels starting after the part read first
  far.pixel_offset = 70000;
  far.pixels = std::string(70000 - 54, '\0') + rgb.pixels;
  cases.emplace_back("pixels far into the file", far);
  FileLayout rle;  // literal runs: 250 indices, then the end of the line
  rle.width = 250;
  rle.height = 300;
  rle.bit_count = 8;
  rle.compression = 1;
  rle.palette = RawPalette(256);
  for (int row = 0; row < rle.height; ++row) {
    rle.pixels += Bytes({0, 250}) + pattern(250) + Bytes({0, 0});
  }
  rle.pixels += Bytes({0, 1});
  cases.emplace_back("RLE8", rle);

  testing_support::TempDir dir;
  for (const auto& [what, layout] : cases) {
    const std::string bytes = layout.Build();
    ASSERT_GT(bytes.size(), 64u * 1024) << what;
    dir.Write("large.bmp", bytes);
    std::optional<Bitmap> decoded;
    try {
      decoded.emplace(DecodeBmp(bytes));
    } catch (const platform::EInvalidGraphic&) {
    }
    try {
      const Bitmap loaded = picture::LoadBmpFile(dir.File("large.bmp"));
      ASSERT_TRUE(decoded) << what << ": loaded, but the bytes do not decode";
      EXPECT_EQ(loaded, *decoded) << what;
    } catch (const platform::EInvalidGraphic&) {
      EXPECT_FALSE(decoded) << what << ": refused, but the bytes decode";
    }
  }
}

TEST(BmpFileTest, FileErrorsNameTheFileAndTheReason) {
  testing_support::TempDir dir;
  const std::string missing = dir.File("missing.bmp");
  try {
    picture::LoadBmpFile(missing);
    ADD_FAILURE() << "missing file loaded";
  } catch (const platform::EFOpenError& error) {
    EXPECT_EQ(error.Message(), "Cannot open file \"" + missing + "\". No such file or directory");
  }
  try {
    picture::LoadBmpFile(dir.path());
    ADD_FAILURE() << "directory loaded";
  } catch (const platform::EFOpenError& error) {
    EXPECT_EQ(error.Message(), "Cannot open file \"" + dir.path() + "\". Is a directory");
  }
  // A FIFO is refused at once, not waited on.
  ASSERT_EQ(mkfifo(dir.File("fifo.bmp").c_str(), 0600), 0);
  try {
    picture::LoadBmpFile(dir.File("fifo.bmp"));
    ADD_FAILURE() << "FIFO loaded";
  } catch (const platform::EFOpenError& error) {
    EXPECT_EQ(error.Message(),
              "Cannot open file \"" + dir.File("fifo.bmp") + "\". Not a regular file");
  }
  dir.Write("text.bmp", "not a picture");
  EXPECT_THROW(picture::LoadBmpFile(dir.File("text.bmp")), platform::EInvalidGraphic);

  const Bitmap bitmap(2, 2, 24);
  const std::string nowhere = dir.File("no-such-dir/overlay.bmp");
  try {
    picture::SaveBmpFile(bitmap, nowhere);
    ADD_FAILURE() << "saved into a missing directory";
  } catch (const platform::EFCreateError& error) {
    EXPECT_EQ(error.Message(), "Cannot create file \"" + nowhere + "\". No such file or directory");
  }
  // A directory in the way: the rename fails and the temporary file goes.
  std::filesystem::create_directory(dir.File("taken.bmp"));
  EXPECT_THROW(picture::SaveBmpFile(bitmap, dir.File("taken.bmp")), platform::EFCreateError);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"fifo.bmp", "taken.bmp", "text.bmp"}));
}

// Files kept from fuzzing the decoder: each must be refused cleanly
// ("invalid-") or load and survive a round trip ("valid-").
TEST(BmpFixtureTest, FuzzedFilesStaySafe) {
  REQUIRE_ENVIRONMENT("VESK_SOURCE_DIR");
  const char* source = std::getenv("VESK_SOURCE_DIR");
  const std::filesystem::path fixtures =
      std::filesystem::path(source) / "tests/picture/fixtures/bmp";
  if (!std::filesystem::is_directory(fixtures)) GTEST_SKIP() << "no fixtures at " << fixtures;
  testing_support::TempDir dir;
  for (const auto& entry : std::filesystem::directory_iterator(fixtures)) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    if (name.rfind("invalid-", 0) == 0) {
      EXPECT_THROW(picture::LoadBmpFile(entry.path().string()), platform::EInvalidGraphic);
    } else if (name.rfind("valid-", 0) == 0) {
      const Bitmap bitmap = picture::LoadBmpFile(entry.path().string());
      EXPECT_EQ(DecodeBmp(EncodeBmp(bitmap)), bitmap);
    }
  }
}

}  // namespace
