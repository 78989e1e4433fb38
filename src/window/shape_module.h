// ShapeModule's outline of a picture: every pixel of the transparent colour becomes a hole
// the desktop shows through and clicks pass through (launcher/shape_form.h cuts the window).
#pragma once

#include <cstdint>
#include <vector>

#include "window/pixels.h"

namespace gor::window {

// The pixels of `picture` that are not exactly `color`, as disjoint rectangles: horizontal
// runs, each run stacked with identical runs of the rows below it into one taller rectangle.
// Rectangles come in order of their top row, then their left column.
std::vector<PixelRect> OpaqueRuns(const Pixels& picture, std::uint32_t color);

}  // namespace gor::window
