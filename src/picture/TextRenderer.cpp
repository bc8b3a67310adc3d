#include "picture/TextRenderer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <tuple>
#include <type_traits>
#include <utility>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include "picture/FontLookupCache.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"

namespace picture {
namespace {

// Bytes 0x80 to 0x9F of the single-byte code page.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Synthetic bold, for a bold request on a face that has no bold weight,
// widens each stroke and each advance by one pixel.
constexpr FT_Pos kEmboldenStrength = 64;

struct FtLibraryDeleter {
  void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
using FtLibrary = std::unique_ptr<std::remove_pointer_t<FT_Library>, FtLibraryDeleter>;

struct FtFaceDeleter {
  void operator()(FT_Face face) const { FT_Done_Face(face); }
};
using FtFace = std::unique_ptr<std::remove_pointer_t<FT_Face>, FtFaceDeleter>;

struct FcConfigDeleter {
  void operator()(FcConfig* config) const { FcConfigDestroy(config); }
};
struct FcPatternDeleter {
  void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using FcPatternPtr = std::unique_ptr<FcPattern, FcPatternDeleter>;

std::string FreeTypeFailure(const std::string& file, FT_Error error) {
  return "Font file \"" + file + "\" cannot be used (FreeType error " + std::to_string(error) + ")";
}

}  // namespace

struct TextRenderer::Face {
  FtFace face;
  bool unicode = false;  // the face has a Unicode character map
};

namespace {

// The process-wide state: the FreeType library, fontconfig, and every
// renderer made so far. Members are destroyed in reverse order, so the faces
// go before the library that owns them.
class Registry {
 public:
  static Registry& Instance() {
    static Registry registry;
    return registry;
  }

  std::mutex mutex;
  FtLibrary library;
  std::unique_ptr<FcConfig, FcConfigDeleter> fontconfig;
  std::map<std::tuple<std::string, std::string, bool, int>, std::unique_ptr<TextRenderer>>
      renderers;

  FT_Library Library() {
    if (!library) {
      FT_Library raw = nullptr;
      const FT_Error error = FT_Init_FreeType(&raw);
      if (error != 0) {
        throw platform::EOSError("FreeType cannot be initialised (error " + std::to_string(error) +
                                 ")");
      }
      library.reset(raw);
    }
    return library.get();
  }

  // The file fontconfig offers for the family: the family itself when it
  // is installed, its configured substitute otherwise. The answer of an
  // earlier process is taken from the cache while it holds; loading
  // fontconfig costs more than the rest of the drawing.
  FaceLocation Find(const std::string& family, bool bold, int pixel_height) {
    const FontLookupCache cache(FontLookupCache::DefaultPath());
    const FaceQuestion question{family, bold, pixel_height};
    if (std::optional<FaceLocation> cached = cache.Find(question)) return *std::move(cached);
    FaceLocation location = AskFontconfig(family, bold, pixel_height);
    cache.Store(question, location);
    return location;
  }

 private:
  Registry() = default;

  FaceLocation AskFontconfig(const std::string& family, bool bold, int pixel_height) {
    if (!fontconfig) {
      fontconfig.reset(FcInitLoadConfigAndFonts());
      if (!fontconfig) throw platform::EOSError("fontconfig cannot load its configuration");
    }
    const std::string not_found = "No font found for \"" + family + "\"";
    FcPatternPtr pattern(FcPatternCreate());
    if (!pattern) throw platform::EOSError(not_found);
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pattern.get(), FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern.get(), FC_SLANT, FC_SLANT_ROMAN);
    FcPatternAddDouble(pattern.get(), FC_PIXEL_SIZE, pixel_height);
    FcConfigSubstitute(fontconfig.get(), pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    const FcPatternPtr match(FcFontMatch(fontconfig.get(), pattern.get(), &result));
    FcChar8* file = nullptr;
    if (!match || FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch) {
      throw platform::EOSError(not_found);
    }
    FaceLocation location{reinterpret_cast<const char*>(file), 0};
    if (FcPatternGetInteger(match.get(), FC_INDEX, 0, &location.index) != FcResultMatch) {
      location.index = 0;
    }
    return location;
  }
};

}  // namespace

int FontRequest::PixelHeight() const {
  const int64_t scaled = (int64_t{size_points} * pixels_per_inch + 36) / 72;
  return static_cast<int>(std::clamp<int64_t>(scaled, 1, kMaxDimension));
}

char32_t CodePointOfByte(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
  return byte;
}

TextRenderer& TextRenderer::For(const FontRequest& request) {
  Registry& registry = Registry::Instance();
  const std::lock_guard lock(registry.mutex);
  const int pixel_height = request.PixelHeight();
  const auto key = std::make_tuple(request.file.empty() ? request.face : std::string(),
                                   request.file, request.bold, pixel_height);
  if (auto found = registry.renderers.find(key); found != registry.renderers.end()) {
    return *found->second;
  }

  FaceLocation location;
  if (request.file.empty()) {
    location = registry.Find(request.face, request.bold, pixel_height);
  } else {
    // FreeType reports a missing file only as an error number; opening it
    // first gives the system's reason.
    const int fd = open(request.file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      throw platform::EFOpenError("Cannot open file \"" + request.file + "\". " +
                                  platform::SystemErrorText(errno));
    }
    close(fd);
    location.file = request.file;
  }

  FT_Face raw = nullptr;
  FT_Error error = FT_New_Face(registry.Library(), location.file.c_str(), location.index, &raw);
  if (error != 0) throw platform::EOSError(FreeTypeFailure(location.file, error));
  auto face = std::make_unique<Face>();
  face->face.reset(raw);

  if (FT_IS_SCALABLE(raw)) {
    error = FT_Set_Pixel_Sizes(raw, 0, static_cast<FT_UInt>(pixel_height));
  } else if (raw->num_fixed_sizes > 0) {
    // A bitmap font: the strike closest to the requested height.
    int best = 0;
    for (int i = 1; i < raw->num_fixed_sizes; ++i) {
      if (std::abs(raw->available_sizes[i].height - pixel_height) <
          std::abs(raw->available_sizes[best].height - pixel_height)) {
        best = i;
      }
    }
    error = FT_Select_Size(raw, best);
  } else {
    error = FT_Err_Invalid_Pixel_Size;
  }
  if (error != 0) throw platform::EOSError(FreeTypeFailure(location.file, error));
  face->unicode = FT_Select_Charmap(raw, FT_ENCODING_UNICODE) == 0;

  const bool embolden = request.bold && (raw->style_flags & FT_STYLE_FLAG_BOLD) == 0;
  auto renderer = std::make_unique<TextRenderer>(PassKey(), std::move(face),
                                                 std::move(location.file), embolden);
  TextRenderer& result = *renderer;
  registry.renderers.emplace(key, std::move(renderer));
  return result;
}

TextRenderer::TextRenderer(PassKey, std::unique_ptr<Face> face, std::string font_file,
                           bool embolden)
    : face_(std::move(face)), font_file_(std::move(font_file)), embolden_(embolden) {
  const FT_Size_Metrics& metrics = face_->face->size->metrics;
  // Whole pixels, rounded outwards, so that every glyph row fits the cell.
  ascent_ = static_cast<int>((metrics.ascender + 63) >> 6);
  const int descent = static_cast<int>((-metrics.descender + 63) >> 6);
  line_height_ = std::max(ascent_ + descent, 1);
}

TextRenderer::~TextRenderer() = default;

TextRenderer::Glyph TextRenderer::Render(unsigned char byte) {
  FT_Face face = face_->face.get();
  const FT_ULong code = face_->unicode ? CodePointOfByte(byte) : byte;
  // An unmapped character is drawn as the face's missing-glyph box.
  const FT_UInt index = FT_Get_Char_Index(face, code);
  Glyph glyph;
  // The auto-hinter keeps stroke widths even at small sizes, which reads
  // better in one colour than the faces' own hints tuned for grey edges.
  if (FT_Load_Glyph(face, index, FT_LOAD_TARGET_MONO | FT_LOAD_FORCE_AUTOHINT) != 0) return glyph;
  FT_GlyphSlot slot = face->glyph;
  FT_Pos advance = slot->advance.x;
  if (embolden_ && slot->format == FT_GLYPH_FORMAT_OUTLINE) {
    FT_Outline_EmboldenXY(&slot->outline, kEmboldenStrength, 0);
    advance += kEmboldenStrength;
  }
  glyph.advance = static_cast<int>((advance + 32) >> 6);
  if (slot->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) {
    return glyph;
  }
  const FT_Bitmap& bitmap = slot->bitmap;
  if (bitmap.pixel_mode != FT_PIXEL_MODE_MONO && bitmap.pixel_mode != FT_PIXEL_MODE_GRAY) {
    return glyph;
  }
  glyph.left = slot->bitmap_left;
  glyph.top = slot->bitmap_top;
  glyph.width = static_cast<int>(bitmap.width);
  glyph.rows = static_cast<int>(bitmap.rows);
  glyph.ink.assign(static_cast<std::size_t>(glyph.width) * glyph.rows, 0);
  const int pitch = bitmap.pitch;
  for (int r = 0; r < glyph.rows; ++r) {
    // A negative pitch stores the rows from the bottom up.
    const unsigned char* row =
        bitmap.buffer +
        static_cast<std::ptrdiff_t>(pitch >= 0 ? r : glyph.rows - 1 - r) * std::abs(pitch);
    for (int c = 0; c < glyph.width; ++c) {
      const bool ink = bitmap.pixel_mode == FT_PIXEL_MODE_MONO
                           ? ((row[c >> 3] >> (7 - (c & 7))) & 1) != 0
                           : row[c] >= 128;
      glyph.ink[static_cast<std::size_t>(r) * glyph.width + c] = ink ? 1 : 0;
    }
  }
  return glyph;
}

const TextRenderer::Glyph& TextRenderer::GlyphFor(unsigned char byte) {
  std::optional<Glyph>& cached = glyphs_[byte];
  if (!cached) cached = Render(byte);
  return *cached;
}

int64_t TextRenderer::TextWidth(std::string_view text) {
  const std::lock_guard lock(mutex_);
  int64_t width = 0;
  for (char c : text) width += GlyphFor(static_cast<unsigned char>(c)).advance;
  return width;
}

void TextRenderer::DrawText(Bitmap& bitmap, int64_t x, int64_t y, std::string_view text,
                            Rgb text_color, Rgb brush_color) {
  const int64_t width = TextWidth(text);
  bitmap.FillRect(x, y, x + width, y + line_height_, brush_color);

  // The part of the cell inside the picture; glyphs draw only there.
  const int64_t clip_left = std::max<int64_t>(x, 0);
  const int64_t clip_top = std::max<int64_t>(y, 0);
  const int64_t clip_right = std::min<int64_t>(x + width, bitmap.Width());
  const int64_t clip_bottom = std::min<int64_t>(y + line_height_, bitmap.Height());
  if (clip_left >= clip_right || clip_top >= clip_bottom) return;

  const std::lock_guard lock(mutex_);
  const int64_t baseline = y + ascent_;
  int64_t pen = x;
  for (char c : text) {
    const Glyph& glyph = GlyphFor(static_cast<unsigned char>(c));
    const int64_t left = pen + glyph.left;
    pen += glyph.advance;
    if (left >= clip_right || left + glyph.width <= clip_left) continue;
    for (int r = 0; r < glyph.rows; ++r) {
      const int64_t py = baseline - glyph.top + r;
      if (py < clip_top || py >= clip_bottom) continue;
      for (int col = 0; col < glyph.width; ++col) {
        const int64_t px = left + col;
        if (px < clip_left || px >= clip_right) continue;
        if (glyph.ink[static_cast<std::size_t>(r) * glyph.width + col] != 0) {
          bitmap.PaintPixel(static_cast<int>(px), static_cast<int>(py), text_color);
        }
      }
    }
  }
}

}  // namespace picture
