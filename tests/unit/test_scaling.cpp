// Scaling the launcher window to the display's resolution: lengths, rectangles, the picture.
// (The region cut from the scaled picture is tested with the other regions.)
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "window/layout.h"
#include "window/scaling.h"

namespace {

using namespace gor::window;
using gor::window::PixelRect;
using gor::window::Pixels;

constexpr auto kKey = static_cast<std::uint32_t>(kTransparentColor);

TEST(Scaling, LengthsAndLabelRectangles) {
    const int width = kPictureWidthPixels, height = kPictureHeightPixels;
    EXPECT_EQ(ScaleToDpi(width, 96), 200);
    EXPECT_EQ(ScaleToDpi(height, 120), 123);  // 122.5: halves round up
    EXPECT_EQ(ScaleToDpi(width, 144), 300);
    EXPECT_EQ(ScaleToDpi(height, 192), 196);
    // At 96 dpi the labels keep the pixel places they always had (45.3 px rounds to 45).
    EXPECT_EQ(PlaceAtDpi(lblStatus.place, 96), (PixelRect{88, 45, 188, 81}));
    EXPECT_EQ(PlaceAtDpi(lblPercent.place, 96), (PixelRect{88, 76, 189, 93}));
    EXPECT_EQ(PlaceAtDpi(lblStatus.place, 120), (PixelRect{110, 57, 235, 102}));
    EXPECT_EQ(PlaceAtDpi(lblStatus.place, 144), (PixelRect{132, 68, 282, 122}));
    EXPECT_EQ(PlaceAtDpi(lblPercent.place, 192), (PixelRect{176, 152, 378, 186}));
}

TEST(Scaling, WholeNumberScalesRepeatEachPixelExactly) {
    std::mt19937 rng(96);
    Pixels p{7, 5, {}};
    for (int i = 0; i < 35; ++i) p.colors.push_back(rng());  // top bytes too
    EXPECT_EQ(ScalePicture(p, 96, kKey).colors, p.colors);
    const Pixels doubled = ScalePicture(p, 192, kKey);
    ASSERT_EQ(doubled.width, 14);
    ASSERT_EQ(doubled.height, 10);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 14; ++x)
            ASSERT_EQ(doubled.At(x, y), p.At(x / 2, y / 2)) << x << "," << y;
    }
}

TEST(Scaling, BetweenWholeNumbersPixelsMixByTheAreaTheyCover) {
    // Two pixels become three at 150 %: the middle one lies half on each.
    const Pixels p{2, 1, {0x00000000, 0x00FFC864}};
    const Pixels scaled = ScalePicture(p, 144, kKey);
    EXPECT_EQ(scaled.height, 2);
    EXPECT_EQ(scaled.colors, (std::vector<std::uint32_t>{0x00000000, 0x00806432, 0x00FFC864,
                                                         0x00000000, 0x00806432, 0x00FFC864}));
    // Only where one colour covers a whole new pixel does it stay exactly that colour; a mix
    // that would round to the transparent colour is kept off it.
    const Pixels keyed{2, 1, {kKey | 0x01000000, kKey}};
    const Pixels mixed = ScalePicture(keyed, 144, kKey);
    EXPECT_EQ(mixed.colors[0], kKey | 0x01000000);
    EXPECT_EQ(mixed.colors[1], kKey | 0x00010000);
    EXPECT_EQ(mixed.colors[2], kKey);
    EXPECT_THROW(ScalePicture(Pixels{2, 2, {0}}, 144, kKey), std::invalid_argument);
    EXPECT_THROW(ScalePicture(p, 0, kKey), std::invalid_argument);
}

}  // namespace
