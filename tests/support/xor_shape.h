// The per-pixel XOR region of a picture: the reference that the unit tests and the shaping
// benchmark hold the run-based region (window/shape_module.h) against. The product never
// builds it.
#pragma once

#include <cstdint>

#include "window/pixels.h"

namespace gor::test {

// Starts with the full W x H rectangle and exclusive-ors every pixel of `color` out of it, in
// scan order: one GDI call per transparent pixel.
// RegionOps provides
//   Handle CreateRectRgn(int left, int top, int right, int bottom)  -- falsy on failure
//   void   CombineRgnXor(Handle dst, Handle src)                    -- dst = dst XOR src
//   void   DeleteObject(Handle)
// Returns the region (owned by the caller), or the falsy handle when it could not be made.
template <class RegionOps>
auto XorShape(const window::Pixels& picture, std::uint32_t color, RegionOps& ops) {
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

}  // namespace gor::test
