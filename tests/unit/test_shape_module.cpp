// ShapeModule: the run-based region against the per-pixel XOR reference on pixel buffers,
// and ShapeFormToPicture's steps on a fake window.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bitmap.h"
#include "fakes/recording_window.h"
#include "launcher/shape_form.h"
#include "window/layout.h"
#include "window/scaling.h"
#include "window/shape_module.h"
#include "xor_shape.h"

namespace {

using gor::launcher::ShapeFormToPicture;
using gor::test::XorShape;
using gor::window::OpaqueRuns;
using gor::window::PixelRect;
using gor::window::Pixels;

constexpr auto kKey = static_cast<std::uint32_t>(gor::window::kTransparentColor);
// The launcher picture's size and the twips per pixel of a 96-dpi screen.
constexpr int kWidth = gor::window::kPictureWidthPixels;
constexpr int kHeight = gor::window::kPictureHeightPixels;
constexpr int kTwips = gor::window::kTwipsPerPixelAt96Dpi;
using Mask = std::vector<bool>;

Pixels Picture(int width, int height, std::uint32_t fill) {
    return Pixels{width, height,
                  std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height, fill)};
}

// What the window must keep: every pixel not exactly `color`.
Mask Expected(const Pixels& p, std::uint32_t color) {
    Mask m(p.colors.size());
    for (std::size_t i = 0; i < m.size(); ++i) m[i] = p.colors[i] != color;
    return m;
}

// The pixels the rectangles cover; each must lie inside the picture and cover a pixel at most once.
Mask Cover(const std::vector<PixelRect>& rects, int width, int height) {
    Mask m(static_cast<std::size_t>(width) * height);
    for (const PixelRect& r : rects) {
        EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom &&
                    r.right <= width && r.bottom <= height)
            << r.left << "," << r.top << "," << r.right << "," << r.bottom;
        for (int y = std::max(r.top, 0); y < std::min(r.bottom, height); ++y) {
            for (int x = std::max(r.left, 0); x < std::min(r.right, width); ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * width + x;
                EXPECT_FALSE(m[i]) << "pixel " << x << "," << y << " covered twice";
                m[i] = true;
            }
        }
    }
    return m;
}

// GDI's region calls over bitmasks, counting live regions so leaks show. A region keeps
// bits only for the rectangle it spans, so one-pixel combinations stay cheap.
class BitmaskRegions {
  public:
    BitmaskRegions(int width, int height, int failCreateAt = -1)
        : width_(width), height_(height), failCreateAt_(failCreateAt) {}

    std::uintptr_t CreateRectRgn(int l, int t, int r, int b) {
        if (creates_++ == failCreateAt_) return 0;
        Region region{{l, t, r, b}, Mask(static_cast<std::size_t>(r - l) * (b - t), true)};
        live_.emplace(next_, std::move(region));
        return next_++;
    }
    void CombineRgnXor(std::uintptr_t dst, std::uintptr_t src) {
        Region& d = live_.at(dst);
        const Region& s = live_.at(src);
        const PixelRect& sb = s.box;
        if (sb.left < d.box.left || sb.top < d.box.top || sb.right > d.box.right ||
            sb.bottom > d.box.bottom) {
            d = Grown(d, {std::min(sb.left, d.box.left), std::min(sb.top, d.box.top),
                          std::max(sb.right, d.box.right), std::max(sb.bottom, d.box.bottom)});
        }
        for (int y = sb.top; y < sb.bottom; ++y) {
            for (int x = sb.left; x < sb.right; ++x) d.Bit(x, y) = d.Bit(x, y) != s.Bit(x, y);
        }
    }
    void DeleteObject(std::uintptr_t h) { EXPECT_EQ(live_.erase(h), 1u); }

    std::size_t Live() const { return live_.size(); }
    Mask Pixels(std::uintptr_t h) const {
        Mask m(static_cast<std::size_t>(width_) * height_);
        const Region& r = live_.at(h);
        for (int y = r.box.top; y < r.box.bottom; ++y) {
            for (int x = r.box.left; x < r.box.right; ++x)
                m[static_cast<std::size_t>(y) * width_ + x] = r.Bit(x, y);
        }
        return m;
    }

  private:
    struct Region {
        PixelRect box;
        Mask bits;
        std::vector<bool>::reference Bit(int x, int y) {
            return bits[static_cast<std::size_t>(y - box.top) * (box.right - box.left) +
                        (x - box.left)];
        }
        bool Bit(int x, int y) const {
            return bits[static_cast<std::size_t>(y - box.top) * (box.right - box.left) +
                        (x - box.left)];
        }
    };
    static Region Grown(const Region& r, PixelRect box) {
        Region g{box, Mask(static_cast<std::size_t>(box.right - box.left) * (box.bottom - box.top),
                           false)};
        for (int y = r.box.top; y < r.box.bottom; ++y) {
            for (int x = r.box.left; x < r.box.right; ++x) g.Bit(x, y) = r.Bit(x, y);
        }
        return g;
    }

    int width_, height_;
    int failCreateAt_;
    int creates_ = 0;
    std::uintptr_t next_ = 1;
    std::map<std::uintptr_t, Region> live_;
};

// Both region builders agree with the exact-match rule; returns the run rectangles.
std::vector<PixelRect> CheckBothBuilders(const Pixels& p, std::uint32_t color) {
    const Mask expected = Expected(p, color);
    const std::vector<PixelRect> runs = OpaqueRuns(p, color);
    EXPECT_EQ(Cover(runs, p.width, p.height), expected);

    BitmaskRegions ops(p.width, p.height);
    const std::uintptr_t region = XorShape(p, color, ops);
    EXPECT_NE(region, 0u);
    EXPECT_EQ(ops.Live(), 1u) << "every one-pixel region is deleted";
    if (region != 0) {
        EXPECT_EQ(ops.Pixels(region), expected);
    }
    return runs;
}

std::filesystem::path RepoRoot() {
    return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
}

Pixels LauncherPicture() {
    std::ifstream file(RepoRoot() / "src/window/assets/launcher.bmp", std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
    return gor::test::DecodeBitmap24(bytes);
}

TEST(ShapeRegion, PictureWithoutTransparentPixelsIsOneFullRectangle) {
    const Pixels p = Picture(200, 98, 0x00123456);
    EXPECT_EQ(CheckBothBuilders(p, kKey), (std::vector<PixelRect>{{0, 0, 200, 98}}));
}

TEST(ShapeRegion, PictureAllTransparentIsEmpty) {
    EXPECT_TRUE(CheckBothBuilders(Picture(200, 98, kKey), kKey).empty());
    EXPECT_TRUE(CheckBothBuilders(Picture(0, 0, kKey), kKey).empty());
}

TEST(ShapeRegion, OnlyExactMatchesBecomeHoles) {
    // Off by one in each channel up and down, and in the top byte: each stays, alone
    // between holes so that no neighbour can carry it into a run.
    const std::uint32_t nearMisses[] = {kKey + 1,     kKey - 1,       kKey + 0x100,
                                        kKey - 0x100, kKey + 0x10000, kKey | 0x01000000,
                                        0x00404000,   0xFF004040};
    Pixels p = Picture(17, 3, kKey);
    std::vector<PixelRect> expected;
    for (int i = 0; i < 8; ++i) {
        p.colors[static_cast<std::size_t>(17 + 2 * i + 1)] = nearMisses[i];
        expected.push_back({2 * i + 1, 1, 2 * i + 2, 2});
    }
    EXPECT_EQ(CheckBothBuilders(p, kKey), expected);
}

TEST(ShapeRegion, IdenticalRowsStackIntoTallRectangles) {
    // A 6 x 5 picture: column 2 transparent everywhere, row 3 opaque throughout.
    Pixels p = Picture(6, 5, 0);
    for (int y = 0; y < 5; ++y) {
        if (y != 3) p.colors[static_cast<std::size_t>(y * 6 + 2)] = kKey;
    }
    EXPECT_EQ(CheckBothBuilders(p, kKey),
              (std::vector<PixelRect>{
                  {0, 0, 2, 3}, {3, 0, 6, 3}, {0, 3, 6, 4}, {0, 4, 2, 5}, {3, 4, 6, 5}}));
}

TEST(ShapeRegion, RandomPicturesAgreeWithTheReference) {
    std::mt19937 rng(20240607);
    const std::uint32_t palette[] = {kKey,       kKey,       kKey ^ 1,
                                     0x00000000, 0x00FFFFFF, kKey | 0x01000000};
    const int sizes[][2] = {{1, 1}, {1, 17}, {23, 1}, {7, 5}, {31, 29}, {64, 48}, {200, 98}};
    for (const auto& size : sizes) {
        for (int density = 0; density <= 4; ++density) {
            Pixels p = Picture(size[0], size[1], 0);
            for (std::uint32_t& c : p.colors) {
                // density 0: almost all opaque ... 4: almost all transparent; runs of equal rows
                // now and then.
                c = static_cast<int>(rng() % 4) < density ? kKey : palette[1 + rng() % 5];
            }
            for (int y = 1; y < p.height; ++y) {
                if (rng() % 3 == 0) {
                    std::copy_n(p.colors.begin() + (y - 1) * p.width, p.width,
                                p.colors.begin() + y * p.width);
                }
            }
            SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]) + " density " +
                         std::to_string(density));
            CheckBothBuilders(p, kKey);
        }
    }
}

TEST(ShapeRegion, LauncherPicture) {
    const Pixels p = LauncherPicture();
    const std::vector<PixelRect> runs = CheckBothBuilders(p, kKey);
    std::size_t opaque = 0;
    for (const PixelRect& r : runs)
        opaque += static_cast<std::size_t>((r.right - r.left) * (r.bottom - r.top));
    EXPECT_EQ(opaque, 19600u - 7665u);
    // Stacking identical runs of neighbouring rows keeps the region smaller than one
    // rectangle per run of a row.
    std::size_t rowRuns = 0;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            if (p.At(x, y) != kKey && (x == 0 || p.At(x - 1, y) == kKey)) ++rowRuns;
        }
    }
    EXPECT_LT(runs.size(), rowRuns);
}

// The window's region at each scaling comes from the scaled picture with the same routine:
// it keeps exactly the new pixels that some opaque pixel of the picture reaches into, so the
// outline grows with the picture and nothing of the transparent colour is left standing.
TEST(ShapeRegion, ScaledLauncherPicture) {
    const Pixels picture = LauncherPicture();
    for (const int dpi : {120, 144, 192}) {  // 125 %, 150 %, 200 %
        SCOPED_TRACE(dpi);
        const Pixels scaled = gor::window::ScalePicture(picture, dpi, kKey);
        ASSERT_EQ(scaled.width, gor::window::ScaleToDpi(picture.width, dpi));
        ASSERT_EQ(scaled.height, gor::window::ScaleToDpi(picture.height, dpi));
        const Mask kept = Cover(OpaqueRuns(scaled, kKey), scaled.width, scaled.height);
        // The picture's pixels under new pixel (x, y) are those its area overlaps, the scaled
        // picture laid exactly over the picture.
        const int w = picture.width, h = picture.height, sw = scaled.width, sh = scaled.height;
        int wrong = 0;
        for (int y = 0; y < sh; ++y) {
            for (int x = 0; x < sw; ++x) {
                bool reached = false;
                for (int py = y * h / sh; py * sh < (y + 1) * h; ++py) {
                    for (int px = x * w / sw; px * sw < (x + 1) * w; ++px)
                        reached = reached || picture.At(px, py) != kKey;
                }
                const bool keep = kept[static_cast<std::size_t>(y) * sw + x];
                wrong += keep != reached || keep == (scaled.At(x, y) == kKey);
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(ShapeRegion, XorReferenceReturnsNothingWhenTheFullRegionCannotBeMade) {
    BitmaskRegions ops(4, 4, 0);
    EXPECT_EQ(XorShape(Picture(4, 4, kKey), kKey, ops), 0u);
    EXPECT_EQ(ops.Live(), 0u);
}

// --- ShapeFormToPicture on a fake form

// A window to shape: the unit tests' launcher window, on a timeline of its own.
struct FakeForm : gor::test::RecordingWindow {
    gor::test::Timeline timeline;
    FakeForm() : RecordingWindow(timeline) { regionHandle = 0x5150; }
};

TEST(ShapeFormToPicture, StepsInOrderAndTheWindowTakesThePicturesSize) {
    FakeForm form;
    form.picture = LauncherPicture();
    EXPECT_EQ(ShapeFormToPicture(form, gor::window::kTransparentColor), 0x5150u);
    EXPECT_EQ(form.shapingSteps, (std::vector<std::string>{"border none", "width", "height", "size",
                                                           "read", "region"}));
    EXPECT_EQ(form.outerWidth, kWidth * kTwips);
    EXPECT_EQ(form.outerHeight, kHeight * kTwips);
    EXPECT_EQ(Cover(form.applied, kWidth, kHeight), Expected(form.picture, kKey));
}

TEST(ShapeFormToPicture, SizeFollowsTheDisplaysTwipsPerPixel) {
    FakeForm form;
    form.picture = Picture(kWidth, kHeight, 0);
    form.twipsX = 12;
    form.twipsY = 12;
    ShapeFormToPicture(form, gor::window::kTransparentColor);
    EXPECT_EQ(form.outerWidth, kWidth * 12);
    EXPECT_EQ(form.outerHeight, kHeight * 12);

    form.twipsX = kTwips;
    form.twipsY = 20;  // not square: each axis by its own ratio
    ShapeFormToPicture(form, gor::window::kTransparentColor);
    EXPECT_EQ(form.outerWidth, kWidth * kTwips);
    EXPECT_EQ(form.outerHeight, kHeight * 20);
}

TEST(ShapeFormToPicture, ReturnsZeroWhenNoRegionCouldBeMade) {
    FakeForm form;
    form.picture = Picture(3, 2, kKey);
    form.regionHandle = 0;
    EXPECT_EQ(ShapeFormToPicture(form, gor::window::kTransparentColor), 0u);
    EXPECT_TRUE(form.applied.empty());  // all transparent: an empty region was asked for
    EXPECT_EQ(form.shapingSteps.back(), "region");
}

TEST(ShapeFormToPicture, AFailingStepStopsTheRest) {
    for (const std::string step : {"border none", "size", "read"}) {
        FakeForm form;
        form.picture = Picture(3, 2, 0);
        form.failShapingAt = step;
        EXPECT_THROW(ShapeFormToPicture(form, gor::window::kTransparentColor), std::runtime_error)
            << step;
        EXPECT_EQ(form.shapingSteps.back(), step);
    }
}

TEST(ShapeFormToPicture, PictureThatDisagreesWithItsSizeIsRefused) {
    class Liar : public FakeForm {
        int PictureWidthPixels() override { return 4; }
    } form;
    form.picture = Picture(3, 2, 0);
    EXPECT_THROW(ShapeFormToPicture(form, gor::window::kTransparentColor), std::runtime_error);
    EXPECT_TRUE(form.applied.empty());
    EXPECT_NE(form.shapingSteps.back(), "region");
}

}  // namespace
