// Decoding the 24-bit BMP files the window is shaped from: pixel order, row padding, and
// refusal of malformed files without reading outside them.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "bitmap.h"

namespace {

using gor::test::DecodeBitmap24;
using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& b, std::size_t at, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A 3 x 2 picture: top row red, green, blue; bottom row white, black, olive (64, 64, 0).
// Rows are 9 bytes of pixels plus 3 of padding.
Bytes ThreeByTwo(bool bottomUp = true) {
    Bytes b(54 + 2 * 12, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put(b, 2, static_cast<std::uint32_t>(b.size()), 4);
    Put(b, 10, 54, 4);
    Put(b, 14, 40, 4);
    Put(b, 18, 3, 4);
    Put(b, 22, bottomUp ? 2u : static_cast<std::uint32_t>(-2), 4);
    Put(b, 26, 1, 2);
    Put(b, 28, 24, 2);
    const std::uint8_t top[] = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0xEE, 0xEE, 0xEE};  // B,G,R order
    const std::uint8_t bottom[] = {255, 255, 255, 0, 0, 0, 0, 64, 64, 0xEE, 0xEE, 0xEE};
    std::copy(std::begin(bottomUp ? bottom : top), std::end(bottomUp ? bottom : top),
              b.begin() + 54);
    std::copy(std::begin(bottomUp ? top : bottom), std::end(bottomUp ? top : bottom),
              b.begin() + 66);
    return b;
}

TEST(ShapeBitmap, DecodesTopDownAsColourReferences) {
    for (const bool bottomUp : {true, false}) {
        const gor::window::Pixels p = DecodeBitmap24(ThreeByTwo(bottomUp));
        ASSERT_EQ(p.width, 3);
        ASSERT_EQ(p.height, 2);
        EXPECT_EQ(p.colors, (std::vector<std::uint32_t>{0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF,
                                                        0x000000, 0x004040}))
            << (bottomUp ? "bottom-up" : "top-down");
    }
}

TEST(ShapeBitmap, EveryTruncationIsRefused) {
    const Bytes whole = ThreeByTwo();
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_THROW(DecodeBitmap24(part), std::invalid_argument) << n << " bytes";
    }
}

TEST(ShapeBitmap, UnsupportedOrLyingHeadersAreRefused) {
    struct Case {
        const char* what;
        std::size_t at;
        std::uint32_t value;
        int size;
    };
    const Case cases[] = {
        {"signature", 0, 'X', 1},
        {"pixel offset past the end", 10, 1000, 4},
        {"pixel offset inside the headers", 10, 20, 4},
        {"info header too small", 14, 12, 4},
        {"info header larger than the file", 14, 0x7FFFFFFF, 4},
        {"zero width", 18, 0, 4},
        {"negative width", 18, static_cast<std::uint32_t>(-3), 4},
        {"huge width", 18, 0x40000000, 4},
        {"zero height", 22, 0, 4},
        {"most negative height", 22, 0x80000000, 4},
        {"two planes", 26, 2, 2},
        {"32 bits per pixel", 28, 32, 2},
        {"8 bits per pixel", 28, 8, 2},
        {"RLE compressed", 30, 1, 4},
        {"height beyond the data", 22, 3, 4},
    };
    for (const Case& c : cases) {
        Bytes b = ThreeByTwo();
        Put(b, c.at, c.value, c.size);
        EXPECT_THROW(DecodeBitmap24(b), std::invalid_argument) << c.what;
    }
}

}  // namespace
