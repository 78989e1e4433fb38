// ShapeModule's outline: the opaque runs of a picture, stacked into rectangles.
#include "window/shape_module.h"

#include <cstddef>
#include <stdexcept>

namespace gor::window {

namespace {

struct Run {
    int left;
    int right;
};

// Opaque runs of one row, left to right.
void RowRuns(const Pixels& picture, int y, std::uint32_t color, std::vector<Run>& runs) {
    runs.clear();
    int x = 0;
    while (x < picture.width) {
        while (x < picture.width && picture.At(x, y) == color) ++x;
        if (x == picture.width) break;
        const int left = x;
        while (x < picture.width && picture.At(x, y) != color) ++x;
        runs.push_back({left, x});
    }
}

}  // namespace

std::vector<PixelRect> OpaqueRuns(const Pixels& picture, std::uint32_t color) {
    if (picture.width < 0 || picture.height < 0 ||
        picture.colors.size() !=
            static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height)) {
        throw std::runtime_error("picture pixels do not match its size");
    }
    std::vector<PixelRect> rects;
    // Rectangles that reach the previous row, by index into `rects`, ordered by left edge.
    std::vector<std::size_t> open;
    std::vector<std::size_t> stillOpen;
    std::vector<Run> runs;
    for (int y = 0; y < picture.height; ++y) {
        RowRuns(picture, y, color, runs);
        stillOpen.clear();
        std::size_t o = 0;
        for (const Run& run : runs) {
            // Both lists are sorted by left edge: walk them together.
            while (o < open.size() && rects[open[o]].left < run.left) ++o;
            if (o < open.size() && rects[open[o]].left == run.left &&
                rects[open[o]].right == run.right) {
                rects[open[o]].bottom = y + 1;
                stillOpen.push_back(open[o]);
                ++o;
            } else {
                stillOpen.push_back(rects.size());
                rects.push_back({run.left, y, run.right, y + 1});
            }
        }
        open.swap(stillOpen);
    }
    return rects;
}

}  // namespace gor::window
