// The launcher window at any display resolution. Its design is made at 96 dots per inch; on a
// display of another resolution the whole window is scaled by s = dpi / 96, so the picture,
// its outline and the labels on it keep their proportions and stay in register.
#pragma once

#include <cstdint>

#include "window/layout.h"
#include "window/pixels.h"

namespace gor::window {

// A length of `pixels` at 96 dpi in pixels at `dpi`, to the nearest pixel (halves round up):
// 98 px at 120 dpi are 123. Both arguments non-negative.
int ScaleToDpi(int pixels, int dpi);

// A design rectangle in twips as window pixels at `dpi`. Each edge goes to its nearest pixel,
// so at 96 dpi this is the familiar 15 twips to the pixel and touching rectangles stay touching.
PixelRect PlaceAtDpi(const TwipsRect& place, int dpi);

// The picture as it is shown at `dpi`: ScaleToDpi(width) x ScaleToDpi(height) pixels, each the
// mean of the picture's pixels under it weighted by the area they cover. At whole-number
// scales every new pixel lies within one old pixel, so the result is the picture with each
// pixel repeated, colours exact (96 dpi gives the picture itself). Between them the pixels
// along an edge mix their neighbours' colours. A new pixel is of `transparentColor` exactly
// when every pixel under it is (a mix that would round to it is kept one step of blue off),
// so the outline cut from the result is the picture's own outline, scaled.
// Throws std::invalid_argument when the pixels do not match the picture's stated size, or
// when `dpi` is not positive.
Pixels ScalePicture(const Pixels& picture, int dpi, std::uint32_t transparentColor);

}  // namespace gor::window
