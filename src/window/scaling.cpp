// Scaling the launcher window's design to the display's resolution: lengths, the labels'
// rectangles and the picture (area-weighted resampling, exact at whole-number scales).
#include "window/scaling.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace gor::window {

namespace {

// To the nearest whole number, halves up, for non-negative values.
int RoundedRatio(long long numerator, long long denominator) {
    return static_cast<int>((2 * numerator + denominator) / (2 * denominator));
}

// One old pixel under a new one along an axis, and how much of the new pixel it covers.
struct Tap {
    int index;
    int weight;
};

// For each of `to` new pixels along an axis, the old pixels under it. Measured in units in
// which an old pixel is `to` long and a new one `from` long, so every overlap is a whole
// number and the weights of each new pixel add up to `from`.
std::vector<std::vector<Tap>> AxisTaps(int from, int to) {
    std::vector<std::vector<Tap>> taps(static_cast<std::size_t>(to));
    for (int d = 0; d < to; ++d) {
        const long long begin = static_cast<long long>(d) * from;
        const long long end = begin + from;
        for (long long s = begin / to; s * to < end; ++s) {
            const long long covered = std::min((s + 1) * to, end) - std::max(s * to, begin);
            taps[static_cast<std::size_t>(d)].push_back(
                {static_cast<int>(s), static_cast<int>(covered)});
        }
    }
    return taps;
}

}  // namespace

int ScaleToDpi(int pixels, int dpi) {
    return RoundedRatio(static_cast<long long>(pixels) * dpi, kDesignDpi);
}

PixelRect PlaceAtDpi(const TwipsRect& place, int dpi) {
    const auto edge = [dpi](int twips) {
        return RoundedRatio(static_cast<long long>(twips) * dpi, kTwipsPerInch);
    };
    return {edge(place.left), edge(place.top), edge(place.left + place.width),
            edge(place.top + place.height)};
}

Pixels ScalePicture(const Pixels& picture, int dpi, std::uint32_t transparentColor) {
    if (dpi <= 0) throw std::invalid_argument("the display's resolution must be positive");
    if (picture.width < 0 || picture.height < 0 ||
        picture.colors.size() !=
            static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height)) {
        throw std::invalid_argument("picture pixels do not match its size");
    }
    Pixels scaled;
    scaled.width = ScaleToDpi(picture.width, dpi);
    scaled.height = ScaleToDpi(picture.height, dpi);
    scaled.colors.reserve(static_cast<std::size_t>(scaled.width) *
                          static_cast<std::size_t>(scaled.height));
    const auto columns = AxisTaps(picture.width, scaled.width);
    const auto rows = AxisTaps(picture.height, scaled.height);
    const long long whole = static_cast<long long>(picture.width) * picture.height;
    for (const std::vector<Tap>& row : rows) {
        for (const std::vector<Tap>& column : columns) {
            const std::uint32_t first = picture.At(column.front().index, row.front().index);
            bool uniform = true;
            long long sums[3] = {0, 0, 0};
            for (const Tap& y : row) {
                for (const Tap& x : column) {
                    const std::uint32_t color = picture.At(x.index, y.index);
                    uniform = uniform && color == first;
                    const long long weight = static_cast<long long>(x.weight) * y.weight;
                    for (int channel = 0; channel < 3; ++channel)
                        sums[channel] += weight * ((color >> (8 * channel)) & 0xFF);
                }
            }
            std::uint32_t mixed = 0;
            for (int channel = 0; channel < 3; ++channel)
                mixed |= static_cast<std::uint32_t>(RoundedRatio(sums[channel], whole))
                         << (8 * channel);
            // One colour under the whole pixel: keep it as it is, so the transparent colour
            // survives exactly where nothing else reaches. A mix is never a hole by chance.
            if (uniform) {
                mixed = first;
            } else if (mixed == transparentColor) {
                mixed ^= 0x00010000;
            }
            scaled.colors.push_back(mixed);
        }
    }
    return scaled;
}

}  // namespace gor::window
