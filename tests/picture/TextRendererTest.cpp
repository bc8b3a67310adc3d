#include "picture/TextRenderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "picture/BmpCodec.h"
#include "platform/Exceptions.h"
#include "support/TempDir.h"

namespace {

using picture::Bitmap;
using picture::FontRequest;
using picture::kBlack;
using picture::kWhite;
using picture::PaletteEntry;
using picture::Rgb;
using picture::TextRenderer;

// The overlay's three lines: 10 point bold, 16 pixels apart from y 418.
constexpr int kLeft = 50;
constexpr int kTops[] = {418, 434, 450};

FontRequest OverlayFont() {
  FontRequest request;
  request.bold = true;
  request.size_points = 10;
  return request;
}

struct Cell {
  int64_t left, top, right, bottom;
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

// Draws three lines as the overlay does and returns their cells.
std::vector<Cell> DrawLines(Bitmap& bitmap, const std::vector<std::string>& lines) {
  TextRenderer& renderer = TextRenderer::For(OverlayFont());
  std::vector<Cell> cells;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    renderer.DrawText(bitmap, kLeft, kTops[i], lines[i], kBlack, kWhite);
    cells.push_back(Cell{kLeft, kTops[i], kLeft + renderer.TextWidth(lines[i]),
                         kTops[i] + renderer.LineHeight()});
  }
  return cells;
}

bool InAnyCell(const std::vector<Cell>& cells, int x, int y) {
  for (const Cell& cell : cells) {
    if (cell.Contains(x, y)) return true;
  }
  return false;
}

const std::vector<std::string> kLines = {"Tue 11:27", "TEMP: 21.4", "WIND: NW 12 km/h"};

TEST(TextRendererTest, BytesAreSingleByteCodePageCharacters) {
  EXPECT_EQ(picture::CodePointOfByte(0x80), U'\u20AC');
  EXPECT_EQ(picture::CodePointOfByte(0x8D), char32_t{0x8D});  // unassigned in the page
  EXPECT_EQ(picture::CodePointOfByte(0x9F), U'\u0178');
  EXPECT_EQ(picture::CodePointOfByte(0xB0), U'\u00B0');

  TextRenderer& renderer = TextRenderer::For(OverlayFont());
  // A UTF-8 degree sign is two characters, a zero byte one more.
  EXPECT_EQ(renderer.TextWidth("\xC2\xB0"),
            renderer.TextWidth("\xC2") + renderer.TextWidth("\xB0"));
  EXPECT_EQ(
      renderer.TextWidth(std::string("A\0B", 3)),
      renderer.TextWidth("A") + renderer.TextWidth(std::string(1, '\0')) + renderer.TextWidth("B"));
  // The euro sign is a glyph of its own, not the missing-glyph box that an
  // unassigned byte gets.
  Bitmap euro(20, 20, 24);
  Bitmap unassigned(20, 20, 24);
  renderer.DrawText(euro, 0, 0, "\x80", kBlack, kWhite);
  renderer.DrawText(unassigned, 0, 0, "\x81", kBlack, kWhite);
  EXPECT_NE(euro, unassigned);
}

TEST(TextRendererTest, NewWhitePictureHasInkOnlyInsideTheCells) {
  Bitmap bitmap(512, 512, 24);
  bitmap.FillRect(0, 0, 512, 512, kWhite);
  const std::vector<Cell> cells = DrawLines(bitmap, kLines);
  // 10 points at 96 pixels per inch: a 13-pixel character height.
  EXPECT_EQ(OverlayFont().PixelHeight(), 13);
  EXPECT_GE(TextRenderer::For(OverlayFont()).LineHeight(), 13);

  for (int y = 0; y < 512; ++y) {
    for (int x = 0; x < 512; ++x) {
      const Rgb color = bitmap.PixelColor(x, y);
      // One colour, no anti-aliasing.
      ASSERT_TRUE(color == kWhite || color == kBlack) << x << "," << y;
      if (color == kBlack) {
        ASSERT_TRUE(InAnyCell(cells, x, y)) << "ink at " << x << "," << y;
      }
    }
  }
  // Each cell is painted white before its glyphs: reading it row by row, a
  // white run comes before the first black pixel.
  for (const Cell& cell : cells) {
    int64_t white_run = 0;
    bool found_black = false;
    for (auto y = cell.top; y < cell.bottom && !found_black; ++y) {
      for (auto x = cell.left; x < cell.right && !found_black; ++x) {
        if (bitmap.PixelColor(static_cast<int>(x), static_cast<int>(y)) == kBlack) {
          found_black = true;
        } else {
          ++white_run;
        }
      }
    }
    EXPECT_TRUE(found_black);
    EXPECT_GT(white_run, 0);
  }
}

TEST(TextRendererTest, BackgroundsKeepTheirFormatAndEveryPixelOutsideTheCells) {
  // Palettes without pure black or white: text takes the nearest entries.
  std::vector<PaletteEntry> sixteen;
  for (int i = 0; i < 16; ++i) {
    sixteen.push_back(PaletteEntry{static_cast<uint8_t>(20 + i * 14), static_cast<uint8_t>(i * 9),
                                   static_cast<uint8_t>(200 - i * 12), 0});
  }
  sixteen[5] = PaletteEntry{240, 240, 235, 0};  // near white
  sixteen[9] = PaletteEntry{15, 20, 10, 0};     // near black
  std::vector<PaletteEntry> two_hundred = sixteen;
  two_hundred.resize(200, PaletteEntry{90, 100, 110, 0});

  struct Background {
    const char* name;
    int bit_count;
    std::vector<PaletteEntry> palette;
    picture::ChannelMasks masks;
  };
  const Background backgrounds[] = {
      {"24-bit", 24, {}, {}},
      {"32-bit", 32, {}, picture::DefaultMasks(32)},
      {"16-bit 5-6-5", 16, {}, {0xF800, 0x07E0, 0x001F, 0}},
      {"8-bit", 8, two_hundred, {}},
      {"4-bit", 4, sixteen, {}},
  };
  for (const Background& background : backgrounds) {
    SCOPED_TRACE(background.name);
    Bitmap original(480, 470, background.bit_count, background.palette, background.masks);
    const uint32_t entries = static_cast<uint32_t>(background.palette.size());
    uint32_t seed = 7;
    for (int y = 0; y < original.Height(); ++y) {
      for (int x = 0; x < original.Width(); ++x) {
        seed = seed * 1664525u + 1013904223u;
        original.SetPixelValue(x, y, entries != 0 ? (seed >> 8) % entries : seed);
      }
    }
    Bitmap drawn = original;
    const std::vector<Cell> cells = DrawLines(drawn, kLines);
    // The saved overlay as the web server will read it.
    const Bitmap saved = picture::DecodeBmp(picture::EncodeBmp(drawn));
    EXPECT_EQ(saved.Width(), 480);
    EXPECT_EQ(saved.Height(), 470);
    EXPECT_EQ(saved.BitCount(), background.bit_count);
    EXPECT_EQ(saved.Palette(), background.palette);
    EXPECT_EQ(saved.Masks(), original.Masks());

    const Rgb paper = saved.IsIndexed() ? Rgb{240, 240, 235} : kWhite;
    const Rgb ink = saved.IsIndexed() ? Rgb{15, 20, 10} : kBlack;
    int inked = 0;
    for (int y = 0; y < 470; ++y) {
      for (int x = 0; x < 480; ++x) {
        if (!InAnyCell(cells, x, y)) {
          ASSERT_EQ(saved.PixelValue(x, y), original.PixelValue(x, y)) << x << "," << y;
          continue;
        }
        const Rgb color = saved.PixelColor(x, y);
        ASSERT_TRUE(color == paper || color == ink) << x << "," << y;
        inked += color == ink ? 1 : 0;
      }
    }
    EXPECT_GT(inked, 100);
  }
}

TEST(TextRendererTest, TextOutsideThePictureIsClipped) {
  // 400 rows: every line lies below the picture, nothing changes.
  Bitmap short_one(512, 400, 24);
  short_one.FillRect(0, 0, 512, 400, Rgb{1, 2, 3});
  const Bitmap untouched = short_one;
  DrawLines(short_one, kLines);
  EXPECT_EQ(short_one, untouched);

  // 425 rows: the first line is cut, the others are gone; 60 columns: the
  // lines are cut at the right edge. Text left of and above the picture is
  // cut as well.
  Bitmap cut(60, 425, 8);
  DrawLines(cut, kLines);
  int inked_rows = 0;
  for (int y = 418; y < 425; ++y) {
    bool inked = false;
    for (int x = 50; x < 60; ++x) inked |= cut.PixelColor(x, y) == kBlack;
    inked_rows += inked ? 1 : 0;
  }
  EXPECT_GT(inked_rows, 0);
  for (int y = 0; y < 418; ++y) {
    for (int x = 0; x < 60; ++x) ASSERT_EQ(cut.PixelValue(x, y), 0u);
  }
  Bitmap corner(10, 10, 24);
  TextRenderer::For(OverlayFont()).DrawText(corner, -5, -5, "WWW", kBlack, kWhite);
  EXPECT_EQ(corner.PixelColor(0, 0), kWhite);
  EXPECT_EQ(corner.PixelColor(9, 9), kWhite);
}

TEST(TextRendererTest, EmptyValueLeavesACellAsWideAsTheLabel) {
  TextRenderer& renderer = TextRenderer::For(OverlayFont());
  const Rgb grey{128, 128, 128};
  Bitmap bitmap(512, 512, 24);
  bitmap.FillRect(0, 0, 512, 512, grey);
  renderer.DrawText(bitmap, kLeft, 434, std::string("TEMP: ") + "", kBlack, kWhite);

  // The cell's top row is all paper; count it from the left edge.
  int64_t painted = 0;
  while (bitmap.PixelColor(static_cast<int>(kLeft + painted), 434) == kWhite) ++painted;
  EXPECT_EQ(painted, renderer.TextWidth("TEMP: "));
  EXPECT_EQ(bitmap.PixelColor(kLeft - 1, 434), grey);
  // The trailing blank counts: the cell reaches past the last glyph.
  EXPECT_GT(renderer.TextWidth("TEMP: "), renderer.TextWidth("TEMP:"));
  int64_t last_ink = 0;
  for (int y = 434; y < 434 + renderer.LineHeight(); ++y) {
    for (int x = kLeft; x < 512; ++x) {
      if (bitmap.PixelColor(x, y) == kBlack) last_ink = std::max<int64_t>(last_ink, x);
    }
  }
  EXPECT_LT(last_ink, kLeft + renderer.TextWidth("TEMP:"));
  // Nothing is drawn for empty text.
  Bitmap empty = bitmap;
  renderer.DrawText(empty, 300, 300, "", kBlack, kWhite);
  EXPECT_EQ(empty, bitmap);
}

TEST(TextRendererTest, FaceIsLookedUpOnceAndAFontFileCanBeNamed) {
  TextRenderer& first = TextRenderer::For(OverlayFont());
  EXPECT_EQ(&TextRenderer::For(OverlayFont()), &first);
  EXPECT_TRUE(std::filesystem::exists(first.FontFile())) << first.FontFile();

  try {
    FontRequest missing = OverlayFont();
    missing.file = "/nonexistent/vesk-font.ttf";
    TextRenderer::For(missing);
    ADD_FAILURE() << "missing font file accepted";
  } catch (const platform::EFOpenError& error) {
    EXPECT_EQ(error.Message(),
              "Cannot open file \"/nonexistent/vesk-font.ttf\". No such file or directory");
  }
  testing_support::TempDir dir;
  dir.Write("not-a-font.ttf", "plain text");
  FontRequest garbage = OverlayFont();
  garbage.file = dir.File("not-a-font.ttf");
  EXPECT_THROW(TextRenderer::For(garbage), platform::EOSError);

  // A regular face asked for in bold is drawn bolder than as it is.
  const std::string regular = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
  if (!std::filesystem::exists(regular)) GTEST_SKIP() << regular << " is not installed";
  FontRequest plain = OverlayFont();
  plain.file = regular;
  plain.bold = false;
  FontRequest bold = plain;
  bold.bold = true;
  TextRenderer& as_is = TextRenderer::For(plain);
  TextRenderer& emboldened = TextRenderer::For(bold);
  EXPECT_EQ(emboldened.FontFile(), regular);
  EXPECT_GT(emboldened.TextWidth("TEMP"), as_is.TextWidth("TEMP"));
}

}  // namespace
