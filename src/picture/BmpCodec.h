// Reading and writing BMP files.
//
// Read: the 12-byte core header, the 40-byte info header and its longer
// forms (52, 56, 108 and 124 bytes); 1, 4, 8, 16, 24 and 32 bits per pixel;
// uncompressed and bit-field pixels, rows stored bottom-up or top-down; RLE8
// and RLE4 runs. Every field is checked before it is used, so a damaged or
// hostile file is refused rather than read out of bounds.
//
// Write: uncompressed, bottom-up, in the picture's own depth, palette and
// masks. An RLE picture is therefore saved back uncompressed in the same
// depth, and a core-header picture with the 40-byte header.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "picture/Bitmap.h"
#include "platform/FileSystem.h"

namespace picture {

// The most pixel memory any picture may take: 16384 rows of 64 KiB.
inline constexpr std::size_t kMaxPixelBytes = std::size_t{1} << 30;

// The picture in a BMP file's bytes. Width or height above max_dimension is
// refused (a fuzzer passes a lower limit to stay fast), and so is a picture
// whose pixels would take more than max_pixel_bytes, or an uncompressed one
// whose pixels the bytes do not hold, before any memory is taken for them.
// Throws EInvalidGraphic "Bitmap image is not valid" for anything that is
// not a valid, supported BMP, and when memory for the pixels runs out.
Bitmap DecodeBmp(std::string_view bytes, int max_dimension = kMaxDimension,
                 std::size_t max_pixel_bytes = kMaxPixelBytes);

// The bytes of a BMP file holding the picture: the 40-byte header (with
// three masks after it for non-default 16- and 32-bit layouts), or the
// 108-byte header when the picture has an alpha channel.
std::string EncodeBmp(const Bitmap& bitmap);

// Reads and decodes a regular BMP file (a link to one is followed). Throws
// EFOpenError `Cannot open file "<path>". <reason>` when it cannot be opened
// or read or is not a regular file (a FIFO or device is never waited on),
// and EInvalidGraphic as DecodeBmp.
Bitmap LoadBmpFile(const std::string& path, std::size_t max_pixel_bytes = kMaxPixelBytes);

// The picture staged as the new content of path (see StagedFile), for a
// step that commits it with other files. Its bytes are written before this
// returns; the bitmap is not needed afterwards.
platform::StagedFile StageBmpFile(const Bitmap& bitmap, const std::string& path,
                                  platform::Flush flush);

// Renames a picture staged for path into place. Throws EFCreateError
// `Cannot create file "<path>". <reason>` when it was not staged or cannot
// be renamed.
void CommitBmpFile(platform::StagedFile& staged, const std::string& path);

// Writes the picture to a BMP file atomically: a temporary file in the same
// directory is written and renamed over the target, so a reader sees the
// old file or the new one, never a part; nothing is left behind on failure.
// Throws EFCreateError `Cannot create file "<path>". <reason>`.
void SaveBmpFile(const Bitmap& bitmap, const std::string& path);

}  // namespace picture
