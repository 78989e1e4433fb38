// Decoding of uncompressed 24-bit Windows bitmap files (the launcher picture's format)
// into colour references: what the tests compare the launcher picture and the drawn window with.
#pragma once

#include <cstdint>
#include <span>

#include "window/pixels.h"

namespace gor::test {

// Decodes a BMP file held in memory: BITMAPFILEHEADER, a BITMAPINFOHEADER (or a larger
// header of that family), no palette, 24 bits per pixel, BI_RGB, rows bottom-up (or top-down
// when the stored height is negative), each row padded to four bytes.
// Returns the pixels top-down as 0x00BBGGRR. Throws std::invalid_argument for anything
// else or anything truncated; never reads outside `file`.
window::Pixels DecodeBitmap24(std::span<const std::uint8_t> file);

}  // namespace gor::test
