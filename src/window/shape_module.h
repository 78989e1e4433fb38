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

// The region as the classic routine builds it, one GDI call per transparent pixel: start with
// the full W x H rectangle and exclusive-or every pixel of `color` out of it, in scan order.
// Kept as the reference the run-based region is measured and tested against.
// RegionOps provides
//   Handle CreateRectRgn(int left, int top, int right, int bottom)  -- falsy on failure
//   void   CombineRgnXor(Handle dst, Handle src)                    -- dst = dst XOR src
//   void   DeleteObject(Handle)
// Returns the region (owned by the caller), or the falsy handle when it could not be made.
template <class RegionOps>
auto XorShape(const platform::Pixels& picture, std::uint32_t color, RegionOps& ops) {
    auto WindowRegion = ops.CreateRectRgn(0, 0, picture.width, picture.height);
    // Without a region every combination would fail anyway; skip the scan.
    if (!WindowRegion) return WindowRegion;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            if (picture.At(x, y) != color) continue;
            auto pixel = ops.CreateRectRgn(x, y, x + 1, y + 1);
            ops.CombineRgnXor(WindowRegion, pixel);
            ops.DeleteObject(pixel);
        }
    }
    return WindowRegion;
}

}  // namespace gor::window
