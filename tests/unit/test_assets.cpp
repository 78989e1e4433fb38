// The committed assets: the launcher picture's format and composition (size, holes, visible
// frame, dark label areas) and the program icon's twelve images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "bitmap.h"
#include "window/layout.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr auto kKey = static_cast<std::uint32_t>(gor::window::kTransparentColor);

Bytes ReadAsset(const char* name) {
    const auto root = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
    std::ifstream file(root / "src/window/assets" / name, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(file), {}};
}

std::uint32_t U16(const Bytes& b, std::size_t at) {
    return b.at(at) | b.at(at + 1) << 8;
}
std::uint32_t U32(const Bytes& b, std::size_t at) {
    return U16(b, at) | U16(b, at + 2) << 16;
}

class LauncherPicture : public testing::Test {
  protected:
    void SetUp() override { picture = gor::test::DecodeBitmap24(file); }
    bool Hole(int x, int y) const { return picture.At(x, y) == kKey; }

    Bytes file = ReadAsset("launcher.bmp");
    gor::window::Pixels picture;
};

TEST_F(LauncherPicture, IsAnUncompressedBottomUp24BitBitmapOf200By98) {
    ASSERT_EQ(file.size(), 58854u);
    EXPECT_EQ(U16(file, 0), 0x4D42u);  // "BM"
    EXPECT_EQ(U32(file, 2), 58854u);
    EXPECT_EQ(U32(file, 10), 54u);  // no palette between headers and pixels
    EXPECT_EQ(U32(file, 14), 40u);
    EXPECT_EQ(U32(file, 18), 200u);
    EXPECT_EQ(U32(file, 22), 98u);  // positive: rows stored bottom-up
    EXPECT_EQ(U16(file, 28), 24u);
    EXPECT_EQ(U32(file, 30), 0u);  // BI_RGB
    EXPECT_EQ(picture.width, gor::window::kPictureWidthPixels);
    EXPECT_EQ(picture.height, gor::window::kPictureHeightPixels);
}

TEST_F(LauncherPicture, HolesAndVisibleFrame) {
    EXPECT_EQ(std::count(picture.colors.begin(), picture.colors.end(), kKey), 7665);
    for (int x = 0; x < 200; ++x) EXPECT_TRUE(Hole(x, 0)) << "top row, column " << x;
    EXPECT_TRUE(Hole(0, 0) && Hole(199, 0) && Hole(0, 97) && Hole(199, 97));
    int minX = 200, maxX = -1, minY = 98, maxY = -1;
    for (int y = 0; y < 98; ++y) {
        for (int x = 0; x < 200; ++x) {
            if (Hole(x, y)) continue;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
    EXPECT_EQ(minX, 1);
    EXPECT_EQ(maxX, 197);
    EXPECT_EQ(minY, 5);
    EXPECT_EQ(maxY, 97);
}

TEST_F(LauncherPicture, EdgesShadeDarkTowardsTheOlive) {
    // Opaque pixels next to a hole: dark, and never bluish-bright art cut off mid-stroke.
    for (int y = 0; y < 98; ++y) {
        for (int x = 0; x < 200; ++x) {
            if (Hole(x, y)) continue;
            const bool edge = (x > 0 && Hole(x - 1, y)) || (x < 199 && Hole(x + 1, y)) ||
                              (y > 0 && Hole(x, y - 1)) || (y < 97 && Hole(x, y + 1));
            if (!edge) continue;
            const std::uint32_t c = picture.At(x, y);
            const int r = c & 0xFF, g = c >> 8 & 0xFF, b = c >> 16 & 0xFF;
            EXPECT_LE(std::max({r, g, b}), 96) << x << "," << y;
        }
    }
}

TEST_F(LauncherPicture, LabelAreasAreDarkForLightText) {
    struct Area {
        int left, top, right, bottom;  // inclusive pixels at 96 dpi
    };
    for (const Area a : {Area{88, 45, 188, 81}, Area{88, 76, 189, 93}}) {
        for (int y = a.top; y <= a.bottom; ++y) {
            for (int x = a.left; x <= a.right; ++x) {
                const std::uint32_t c = picture.At(x, y);
                const int r = c & 0xFF, g = c >> 8 & 0xFF, b = c >> 16 & 0xFF;
                ASSERT_NE(c, kKey) << x << "," << y;
                // Navy: dark, blue the strongest channel.
                EXPECT_LE(std::max({r, g, b}), 90) << x << "," << y;
                EXPECT_GE(b, std::max(r, g)) << x << "," << y;
            }
        }
    }
}

TEST(ProgramIcon, TwelveImagesIn16And256ColoursAndWithAlpha) {
    const Bytes ico = ReadAsset("gorlaunch.ico");
    ASSERT_GE(ico.size(), 6u + 12 * 16);
    EXPECT_EQ(U16(ico, 0), 0u);
    EXPECT_EQ(U16(ico, 2), 1u);  // icon
    ASSERT_EQ(U16(ico, 4), 12u);
    const int sizes[] = {48, 32, 24, 16};
    const int depths[] = {4, 8, 32};
    std::size_t expectOffset = 6 + 12 * 16;
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE("image " + std::to_string(i));
        const std::size_t e = 6 + static_cast<std::size_t>(i) * 16;
        const int n = sizes[i % 4], bits = depths[i / 4];
        EXPECT_EQ(ico[e], n);
        EXPECT_EQ(ico[e + 1], n);
        EXPECT_EQ(ico[e + 2], bits == 4 ? 16 : 0);
        EXPECT_EQ(U16(ico, e + 4), 1u);
        EXPECT_EQ(U16(ico, e + 6), static_cast<std::uint32_t>(bits));
        const std::size_t length = U32(ico, e + 8), offset = U32(ico, e + 12);
        EXPECT_EQ(offset, expectOffset);  // images follow each other without gaps
        ASSERT_LE(offset + length, ico.size());
        expectOffset = offset + length;

        // A DIB of doubled height: header, palette, colour bitmap, 1-bit AND mask.
        EXPECT_EQ(U32(ico, offset), 40u);
        EXPECT_EQ(U32(ico, offset + 4), static_cast<std::uint32_t>(n));
        EXPECT_EQ(U32(ico, offset + 8), static_cast<std::uint32_t>(2 * n));
        EXPECT_EQ(U16(ico, offset + 12), 1u);
        EXPECT_EQ(U16(ico, offset + 14), static_cast<std::uint32_t>(bits));
        EXPECT_EQ(U32(ico, offset + 16), 0u);
        const std::size_t palette = bits == 32 ? 0 : 4u << bits;
        const std::size_t xorStride = static_cast<std::size_t>((n * bits + 31) / 32 * 4);
        const std::size_t andStride = static_cast<std::size_t>((n + 31) / 32 * 4);
        ASSERT_EQ(length, 40 + palette + (xorStride + andStride) * static_cast<std::size_t>(n));

        // The glyph fills the middle, the corners show the desktop.
        const std::size_t mask = offset + 40 + palette + xorStride * static_cast<std::size_t>(n);
        auto masked = [&](int x, int y) {  // rows bottom-up
            return (ico[mask + static_cast<std::size_t>(n - 1 - y) * andStride +
                        static_cast<std::size_t>(x / 8)] >>
                        (7 - x % 8) &
                    1) != 0;
        };
        EXPECT_TRUE(masked(0, 0) && masked(n - 1, 0) && masked(0, n - 1) && masked(n - 1, n - 1));
        int shown = 0;
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < n; ++x) shown += masked(x, y) ? 0 : 1;
        }
        EXPECT_GT(shown, n * n / 3);
        EXPECT_LT(shown, n * n * 9 / 10);
    }
    EXPECT_EQ(expectOffset, ico.size());
}

TEST(ProgramIcon, TrueColourGlyphIsBlueAndVioletOnTransparency) {
    const Bytes ico = ReadAsset("gorlaunch.ico");
    ASSERT_GE(ico.size(), 6u + 12 * 16);
    for (int i = 8; i < 12; ++i) {
        const std::size_t e = 6 + static_cast<std::size_t>(i) * 16;
        const int n = ico.at(e);
        const std::size_t pixels = U32(ico, e + 12) + 40;
        const std::size_t mask = pixels + static_cast<std::size_t>(n * n * 4);
        const std::size_t andStride = static_cast<std::size_t>((n + 31) / 32 * 4);
        long red = 0, green = 0, blue = 0;
        for (int row = 0; row < n; ++row) {
            for (int x = 0; x < n; ++x) {
                const std::size_t at = pixels + static_cast<std::size_t>((row * n + x) * 4);
                const bool masked = (ico.at(mask + static_cast<std::size_t>(row) * andStride +
                                            static_cast<std::size_t>(x / 8)) >>
                                         (7 - x % 8) &
                                     1) != 0;
                // The mask and the alpha channel tell the same story.
                EXPECT_EQ(masked, ico[at + 3] == 0) << n << " px at " << x << "," << row;
                if (ico[at + 3] == 255) {
                    blue += ico[at];
                    green += ico[at + 1];
                    red += ico[at + 2];
                }
            }
        }
        EXPECT_GT(blue, red) << n << " px";
        EXPECT_GT(blue, green) << n << " px";
    }
}

}  // namespace
