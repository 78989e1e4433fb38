// Palettes for the 16- and 256-colour icon images: median cut over the image's own
// colours, then nearest-colour mapping (no dithering: at 16 to 48 pixels it only adds noise).
#pragma once

#include <cstdint>
#include <vector>

#include "formats.h"

namespace assetgen {

// A palette of exactly `size` entries whose first entry is black (what masked pixels
// hold) and whose others are median-cut representatives of `colors`; unused entries are black.
std::vector<Rgb8> MedianCutPalette(const std::vector<Rgb8>& colors, int size);

// Index of the palette entry nearest to `c` (weighted for the eye); the lowest index on ties.
std::uint8_t Nearest(const std::vector<Rgb8>& palette, Rgb8 c);

}  // namespace assetgen
