// Median cut: split the box with the widest channel range at its median until there are
// enough boxes; each box's mean is a palette entry. Sorting is total, so results are stable.
#include "quantize.h"

#include <algorithm>
#include <array>

namespace assetgen {

namespace {

int Channel(Rgb8 c, int k) {
    return k == 0 ? c.r : (k == 1 ? c.g : c.b);
}

struct Box {
    std::vector<Rgb8> colors;
    int widestChannel = 0;
    int range = 0;
};

void Measure(Box& box) {
    box.range = 0;
    for (int k = 0; k < 3; ++k) {
        int lo = 255, hi = 0;
        for (const Rgb8& c : box.colors) {
            lo = std::min(lo, Channel(c, k));
            hi = std::max(hi, Channel(c, k));
        }
        if (hi - lo > box.range) {
            box.range = hi - lo;
            box.widestChannel = k;
        }
    }
}

}  // namespace

std::vector<Rgb8> MedianCutPalette(const std::vector<Rgb8>& colors, int size) {
    std::vector<Box> boxes;
    if (!colors.empty()) {
        boxes.push_back({colors, 0, 0});
        Measure(boxes.back());
    }
    while (static_cast<int>(boxes.size()) < size - 1) {
        // Widest range first, weighted by how many pixels the box holds.
        std::size_t pick = boxes.size();
        long best = 0;
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            const long score =
                static_cast<long>(boxes[i].range) * static_cast<long>(boxes[i].colors.size());
            if (boxes[i].range > 0 && score > best) {
                best = score;
                pick = i;
            }
        }
        if (pick == boxes.size()) break;  // every box holds a single colour
        Box& box = boxes[pick];
        const int k = box.widestChannel;
        std::sort(box.colors.begin(), box.colors.end(), [k](Rgb8 a, Rgb8 b) {
            const std::array<int, 4> ka{Channel(a, k), a.r, a.g, a.b};
            const std::array<int, 4> kb{Channel(b, k), b.r, b.g, b.b};
            return ka < kb;
        });
        // Split at the median, moved so that equal values stay on one side.
        std::size_t mid = box.colors.size() / 2;
        const int median = Channel(box.colors[mid], k);
        while (mid > 0 && Channel(box.colors[mid - 1], k) == median) --mid;
        if (mid == 0) {
            while (mid < box.colors.size() && Channel(box.colors[mid], k) == median) ++mid;
        }
        Box upper{std::vector<Rgb8>(box.colors.begin() + static_cast<std::ptrdiff_t>(mid),
                                    box.colors.end()),
                  0, 0};
        box.colors.resize(mid);
        Measure(box);
        Measure(upper);
        boxes.push_back(std::move(upper));
    }
    std::vector<Rgb8> palette(static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        long sum[3] = {0, 0, 0};
        for (const Rgb8& c : boxes[i].colors) {
            sum[0] += c.r;
            sum[1] += c.g;
            sum[2] += c.b;
        }
        const long n = static_cast<long>(boxes[i].colors.size());
        auto mean = [n](long total) { return static_cast<std::uint8_t>((total + n / 2) / n); };
        palette[i + 1] = {mean(sum[0]), mean(sum[1]), mean(sum[2])};
    }
    return palette;
}

std::uint8_t Nearest(const std::vector<Rgb8>& palette, Rgb8 c) {
    std::size_t best = 0;
    long bestDistance = -1;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const long dr = c.r - palette[i].r, dg = c.g - palette[i].g, db = c.b - palette[i].b;
        const long d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (bestDistance < 0 || d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return static_cast<std::uint8_t>(best);
}

}  // namespace assetgen
