// ShapeModule: cuts a frameless window to the outline of its picture, so that every pixel
// of the transparent colour becomes a hole the desktop shows through and clicks pass through.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/launcher_window.h"

namespace gor::window {

// Makes TargetForm frameless, sizes it to exactly its picture (W x H pixels at the display's
// twips per pixel) and gives it the region of all picture pixels whose colour differs from
// TransparentColor in any of its 32 bits. Returns the region handle, which the window owns,
// or 0 when no region could be made (the window then stays rectangular).
// Runs on the UI thread before the form is first shown. Whatever a form operation throws
// passes to the caller at once and the remaining steps are skipped; a picture whose pixels
// do not match its stated size throws std::runtime_error.
std::uintptr_t ShapeFormToPicture(platform::LauncherWindow& TargetForm,
                                  std::int32_t TransparentColor);

// The pixels of `picture` that are not exactly `color`, as disjoint rectangles: horizontal
// runs, each run stacked with identical runs of the rows below it into one taller rectangle.
// Rectangles come in order of their top row, then their left column.
std::vector<platform::PixelRect> OpaqueRuns(const platform::Pixels& picture, std::uint32_t color);

}  // namespace gor::window
