// Times the two ways of cutting the launcher window to its picture with real GDI: the
// per-pixel exclusive-or (one CreateRectRgn, CombineRgn and DeleteObject per transparent
// pixel) and one ExtCreateRegion from pixel runs; checks with PtInRegion that both hold
// the same pixels. Usage: shaping_bench [picture.bmp] [rounds]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/win32/region_win32.h"
#include "platform/win32/wide_text.h"
#include "window/layout.h"
#include "window/shape_module.h"
#include "xor_shape.h"

namespace {

using gor::window::Pixels;

// The region operations the per-pixel reference is written against, on real GDI.
struct GdiRegionOps {
    HRGN CreateRectRgn(int left, int top, int right, int bottom) {
        return ::CreateRectRgn(left, top, right, bottom);
    }
    void CombineRgnXor(HRGN destination, HRGN source) {
        ::CombineRgn(destination, destination, source, RGN_XOR);
    }
    void DeleteObject(HRGN region) { ::DeleteObject(region); }
};

// The picture as the launcher reads it: a DIB section from the file, pixels via GetDIBits.
bool LoadPicture(const std::wstring& path, Pixels& pixels) {
    const auto bitmap = static_cast<HBITMAP>(::LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0,
                                                          LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    if (bitmap == nullptr) return false;
    BITMAP info{};
    ::GetObjectW(bitmap, sizeof info, &info);
    pixels.width = info.bmWidth;
    pixels.height = std::abs(info.bmHeight);
    pixels.colors.resize(static_cast<std::size_t>(pixels.width) * pixels.height);
    BITMAPINFO request{};
    request.bmiHeader.biSize = sizeof request.bmiHeader;
    request.bmiHeader.biWidth = pixels.width;
    request.bmiHeader.biHeight = -pixels.height;
    request.bmiHeader.biPlanes = 1;
    request.bmiHeader.biBitCount = 32;
    request.bmiHeader.biCompression = BI_RGB;
    const HDC screen = ::GetDC(nullptr);
    const int rows = ::GetDIBits(screen, bitmap, 0, static_cast<UINT>(pixels.height),
                                 pixels.colors.data(), &request, DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, screen);
    ::DeleteObject(bitmap);
    for (std::uint32_t& c : pixels.colors) c = (c >> 16 & 0xFF) | (c & 0xFF00) | (c & 0xFF) << 16;
    return rows == pixels.height;
}

double Seconds() {
    static const double secondsPerTick = [] {
        LARGE_INTEGER frequency;
        ::QueryPerformanceFrequency(&frequency);
        return 1.0 / static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * secondsPerTick;
}

// Median time in microseconds of `rounds` runs of `build`, each region deleted after timing.
template <class Build>
double MedianMicroseconds(int rounds, Build build) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const double start = Seconds();
        const HRGN region = build();
        times.push_back((Seconds() - start) * 1e6);
        ::DeleteObject(region);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring path =
        argc > 1 ? argv[1] : gor::platform::win32::Widen(GOR_LAUNCHER_PICTURE);
    const int rounds =
        argc > 2 ? std::max(1, static_cast<int>(std::wcstol(argv[2], nullptr, 10))) : 101;
    Pixels picture;
    if (!LoadPicture(path, picture)) {
        std::fprintf(stderr, "cannot read the picture %ls\n", path.c_str());
        return 1;
    }
    const auto color = static_cast<std::uint32_t>(gor::window::kTransparentColor);
    const auto transparent = std::count(picture.colors.begin(), picture.colors.end(), color);
    const std::vector<gor::window::PixelRect> runs = gor::window::OpaqueRuns(picture, color);
    std::printf("picture %dx%d, %ld transparent pixels, %zu rectangles from runs, %d rounds\n",
                picture.width, picture.height, static_cast<long>(transparent), runs.size(), rounds);

    GdiRegionOps ops;
    const auto xorBuild = [&] { return gor::test::XorShape(picture, color, ops); };
    const auto runBuild = [&] {
        return reinterpret_cast<HRGN>(
            gor::platform::win32::CreateRegionFromRects(gor::window::OpaqueRuns(picture, color)));
    };

    // Both regions, and the truth (every pixel not of the transparent colour), must agree.
    const HRGN byXor = xorBuild();
    const HRGN byRuns = runBuild();
    long mismatches = 0;
    long wrongPixels = 0;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const bool inXor = ::PtInRegion(byXor, x, y) != FALSE;
            const bool inRuns = ::PtInRegion(byRuns, x, y) != FALSE;
            mismatches += inXor != inRuns;
            wrongPixels += inRuns != (picture.At(x, y) != color);
        }
    }
    const bool equal = ::EqualRgn(byXor, byRuns) != FALSE;
    ::DeleteObject(byXor);
    ::DeleteObject(byRuns);
    std::printf(
        "PtInRegion over %d pixels: %ld mismatches between the two regions, %ld pixels wrong "
        "against the "
        "picture; EqualRgn %s\n",
        picture.width * picture.height, mismatches, wrongPixels, equal ? "true" : "false");

    const double xorUs = MedianMicroseconds(rounds, xorBuild);
    const double runUs = MedianMicroseconds(rounds, runBuild);
    std::printf("per-pixel XOR   (CreateRectRgn+CombineRgn+DeleteObject): median %10.1f us\n",
                xorUs);
    std::printf("runs + one ExtCreateRegion                            : median %10.1f us\n",
                runUs);
    std::printf("speed-up %.1fx\n", runUs > 0 ? xorUs / runUs : 0.0);
    return mismatches == 0 && wrongPixels == 0 ? 0 : 2;
}
