// Single-byte text drawn onto a Bitmap with one font face at one size.
//
// The face is found with fontconfig (the requested family, or the
// substitute fontconfig picks when it is not installed; the answer is
// remembered between processes, see FontLookupCache.h) or taken from a font
// file named directly, loaded with FreeType once per process and kept.
// Glyphs are rendered in one colour without anti-aliasing, so that a
// palettized picture only ever receives its own palette entries.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "picture/Bitmap.h"

namespace picture {

// The resolution text sizes in points are converted with.
inline constexpr int kScreenPixelsPerInch = 96;

struct FontRequest {
  // The family asked of fontconfig.
  std::string face = "MS Sans Serif";
  // A font file used directly instead of a family look-up, when not empty.
  std::string file;
  bool bold = false;
  int size_points = 8;
  int pixels_per_inch = kScreenPixelsPerInch;

  // The character height in pixels: size times pixels per inch over 72,
  // rounded (10 points at 96 pixels per inch give 13).
  int PixelHeight() const;
};

// The Unicode code point a byte stands for in the single-byte code page:
// ASCII and Latin-1 as they are, 0x80 to 0x9F as code page 1252 assigns them
// (0x80 is the euro sign); the five bytes that page leaves unassigned stand
// for the C1 controls of the same value.
char32_t CodePointOfByte(unsigned char byte);

class TextRenderer {
 public:
  // The renderer for this request, created on first use and kept for the
  // rest of the process, so the face is looked up and loaded only once.
  // Throws EFOpenError `Cannot open file "<file>". <reason>` when a named
  // font file cannot be opened, EOSError when no face is found or FreeType
  // cannot use it.
  static TextRenderer& For(const FontRequest& request);

  // Made only by For(); the key keeps others from calling it.
  class PassKey {
    friend class TextRenderer;
    PassKey() = default;
  };
  struct Face;
  TextRenderer(PassKey, std::unique_ptr<Face> face, std::string font_file, bool embolden);
  ~TextRenderer();
  TextRenderer(const TextRenderer&) = delete;
  TextRenderer& operator=(const TextRenderer&) = delete;

  // The font file in use, for diagnostics.
  const std::string& FontFile() const { return font_file_; }

  // Pixels from the top of a text cell to the baseline, and the cell's
  // height (ascent plus descent).
  int Ascent() const { return ascent_; }
  int LineHeight() const { return line_height_; }

  // The width of the text's cell: the sum of every character's advance,
  // trailing blanks included. Each byte is one character.
  int64_t TextWidth(std::string_view text);

  // Draws the text with the top-left corner of its cell at (x, y): first the
  // cell (TextWidth by LineHeight) in brush_color, then the glyphs in
  // text_color. Everything is clipped to the picture, and glyph parts that
  // reach out of the cell are clipped to it, so nothing outside the cell
  // changes.
  void DrawText(Bitmap& bitmap, int64_t x, int64_t y, std::string_view text, Rgb text_color,
                Rgb brush_color);

 private:
  struct Glyph {
    int advance = 0;
    int left = 0;  // from the pen position to the first column
    int top = 0;   // from the baseline up to the first row
    int width = 0;
    int rows = 0;
    std::vector<uint8_t> ink;  // width * rows, 1 where the glyph is drawn
  };

  const Glyph& GlyphFor(unsigned char byte);
  Glyph Render(unsigned char byte);

  std::unique_ptr<Face> face_;
  std::string font_file_;
  bool embolden_;
  int ascent_ = 0;
  int line_height_ = 0;
  std::mutex mutex_;  // guards the glyph cache and the face's glyph slot
  std::array<std::optional<Glyph>, 256> glyphs_;
};

}  // namespace picture
