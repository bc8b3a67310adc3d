// Reading PNG pictures with libpng into RGBA pixels.
#pragma once

#include <cstddef>
#include <string_view>

#include "picture/Bitmap.h"
#include "picture/BmpCodec.h"
#include "picture/RgbaImage.h"

namespace picture {

// The picture in a PNG file's bytes, converted to 8-bit RGBA whatever its
// colour type and depth. A width or height above max_dimension, or RGBA
// pixels of more than max_pixel_bytes, are refused from the header, before
// any memory is taken for the pixels. Throws
// EInvalidGraphic "PNG picture is not valid: <libpng's reason>" for bytes
// that are not a whole, valid PNG picture.
RgbaImage DecodePng(std::string_view bytes, int max_dimension = kMaxDimension,
                    std::size_t max_pixel_bytes = kMaxPixelBytes);

}  // namespace picture
