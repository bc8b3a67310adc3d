// PNG pictures for the tests: whole ones of one colour, and copies with one
// chunk's data overwritten and its CRC made right again, so that a reader
// stops at the field itself and not at the checksum.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace testing_support {

// An 8-bit RGBA PNG picture of the given size, every pixel of the colour
// 0xRRGGBBAA.
std::string OneColourPng(int width, int height, std::uint32_t rgba);

// The picture with bytes written over the data of its first chunk of the
// type, from offset on, and that chunk's CRC computed again.
std::string WithChunkBytes(std::string png, std::string_view type, std::size_t offset,
                           std::string_view bytes);

// The picture with the width and height its IHDR chunk declares replaced.
std::string WithDeclaredSize(std::string png, std::uint32_t width, std::uint32_t height);

}  // namespace testing_support
