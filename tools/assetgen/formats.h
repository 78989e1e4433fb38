// Writers of the two Windows file formats the assets use: a 24-bit bottom-up BMP and an
// .ico holding several BITMAPINFOHEADER images (colour bitmap plus 1-bit AND mask each).
#pragma once

#include <cstdint>
#include <vector>

namespace assetgen {

using Bytes = std::vector<std::uint8_t>;

struct Rgb8 {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb8&) const = default;
};

// `rgb` holds width * height pixels, rows top-down.
Bytes EncodeBmp24(int width, int height, const std::vector<Rgb8>& rgb);

struct IconImage {
    int size = 0;                       // square: width = height
    int bitsPerPixel = 0;               // 4, 8 or 32
    std::vector<Rgb8> palette;          // 16 or 256 entries for 4 and 8 bits
    std::vector<std::uint8_t> indices;  // size * size palette indices, rows top-down (4, 8 bits)
    std::vector<std::uint8_t> alpha;    // size * size, 32 bits only (colour taken from `rgb`)
    std::vector<Rgb8> rgb;              // size * size, 32 bits only
    std::vector<bool> masked;           // size * size: true where the desktop shows through
};

// The images in the given order, each as a DIB with a doubled height.
Bytes EncodeIco(const std::vector<IconImage>& images);

}  // namespace assetgen
