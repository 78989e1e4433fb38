// Building one GDI region from a list of pixel rectangles with a single ExtCreateRegion
// call, instead of one CombineRgn per rectangle or pixel.
#pragma once

#include <cstdint>
#include <vector>

#include "window/pixels.h"

namespace gor::platform::win32 {

// The union of `rects` as a new region (an HRGN the caller owns), or 0 when GDI could not
// make it. No rectangles give an empty region.
std::uintptr_t CreateRegionFromRects(const std::vector<window::PixelRect>& rects);

}  // namespace gor::platform::win32
