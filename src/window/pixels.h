// A picture's pixels and a rectangle of them: what the window layer computes with and what
// the window backends draw and cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gor::window {

// A picture's pixels as colour references 0x00BBGGRR, rows top-down, x growing rightwards.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> colors;  // width * height, row-major from the top row
    std::uint32_t At(int x, int y) const { return colors[static_cast<std::size_t>(y) * width + x]; }
};

// A rectangle in window pixels, right and bottom edges exclusive.
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const PixelRect&) const = default;
};

}  // namespace gor::window
