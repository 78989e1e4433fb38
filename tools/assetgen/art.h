// The two pieces of artwork: the launcher picture (window background, cut to its outline)
// and the program icon (the product's emblem glyph at the four icon sizes).
#pragma once

#include <vector>

#include "formats.h"

namespace assetgen {

inline constexpr int kLauncherWidth = 200;
inline constexpr int kLauncherHeight = 98;
// The colour the window cuts away: red 64, green 64, blue 0.
inline constexpr Rgb8 kTransparent{64, 64, 0};
// Pixels of the launcher picture that are cut away.
inline constexpr int kLauncherTransparentPixels = 7665;

// 200 x 98 pixels, rows top-down. Throws std::logic_error if the art misses its frame
// (visible part, transparent count, dark label areas). `coverCut`, when given, receives the
// least coverage (0..1) of a pixel that was kept.
std::vector<Rgb8> PaintLauncher(double* coverCut = nullptr);

// The emblem at size x size pixels: colours with straight alpha 0..255.
struct IconPixels {
    std::vector<Rgb8> rgb;
    std::vector<std::uint8_t> alpha;
};
IconPixels PaintEmblem(int size);

}  // namespace assetgen
