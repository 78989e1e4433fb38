// Scaling the launcher window to the display's resolution: rectangles, the picture, and the
// region cut from the scaled picture.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <vector>

#include "window/bitmap.h"
#include "window/layout.h"
#include "window/scaling.h"
#include "window/shape_module.h"

namespace {

using gor::platform::PixelRect;
using gor::platform::Pixels;
using gor::window::PlaceAtDpi;
using gor::window::ScalePicture;
using gor::window::ScaleToDpi;

constexpr std::uint32_t kKey = gor::window::kTransparentColor;
constexpr int kScalings[] = {120, 144, 192};  // 125 %, 150 %, 200 %

Pixels LauncherPicture() {
    const auto root = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
    std::ifstream file(root / "src/window/assets/launcher.bmp", std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
    return gor::window::DecodeBitmap24(bytes);
}

TEST(Scaling, LengthsAndLabelRectangles) {
    const int width = gor::window::kPictureWidthPixels, height = gor::window::kPictureHeightPixels;
    EXPECT_EQ(ScaleToDpi(width, 96), 200);
    EXPECT_EQ(ScaleToDpi(height, 120), 123);  // 122.5: halves round up
    EXPECT_EQ(ScaleToDpi(width, 144), 300);
    EXPECT_EQ(ScaleToDpi(height, 192), 196);
    // At 96 dpi the labels keep the pixel places they always had (45.3 px rounds to 45).
    EXPECT_EQ(PlaceAtDpi(gor::window::lblStatus.place, 96), (PixelRect{88, 45, 188, 81}));
    EXPECT_EQ(PlaceAtDpi(gor::window::lblPercent.place, 96), (PixelRect{88, 76, 189, 93}));
    EXPECT_EQ(PlaceAtDpi(gor::window::lblStatus.place, 120), (PixelRect{110, 57, 235, 102}));
    EXPECT_EQ(PlaceAtDpi(gor::window::lblStatus.place, 144), (PixelRect{132, 68, 282, 122}));
    EXPECT_EQ(PlaceAtDpi(gor::window::lblPercent.place, 192), (PixelRect{176, 152, 378, 186}));
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

// The window's region at each scaling comes from the scaled picture with the same routine:
// it keeps exactly the new pixels that some opaque pixel of the picture reaches into, so the
// outline grows with the picture and nothing of the transparent colour is left standing.
TEST(Scaling, RegionOfTheScaledLauncherPicture) {
    const Pixels picture = LauncherPicture();
    for (const int dpi : kScalings) {
        SCOPED_TRACE(dpi);
        const Pixels scaled = ScalePicture(picture, dpi, kKey);
        ASSERT_EQ(scaled.width, ScaleToDpi(picture.width, dpi));
        ASSERT_EQ(scaled.height, ScaleToDpi(picture.height, dpi));
        std::vector<bool> kept(scaled.colors.size());
        for (const PixelRect& r : gor::window::OpaqueRuns(scaled, kKey)) {
            for (int y = r.top; y < r.bottom; ++y) {
                for (int x = r.left; x < r.right; ++x)
                    kept[static_cast<std::size_t>(y) * scaled.width + x] = true;
            }
        }
        int wrong = 0;
        for (int y = 0; y < scaled.height; ++y) {
            for (int x = 0; x < scaled.width; ++x) {
                // The picture's pixels under new pixel (x, y): those its area overlaps, the
                // scaled picture laid exactly over the picture.
                const int w = picture.width, h = picture.height, sw = scaled.width,
                          sh = scaled.height;
                bool reached = false;
                for (int py = y * h / sh; py * sh < (y + 1) * h; ++py) {
                    for (int px = x * w / sw; px * sw < (x + 1) * w; ++px)
                        reached = reached || picture.At(px, py) != kKey;
                }
                const bool keep = kept[static_cast<std::size_t>(y) * scaled.width + x];
                wrong += keep != reached || keep == (scaled.At(x, y) == kKey);
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

}  // namespace
