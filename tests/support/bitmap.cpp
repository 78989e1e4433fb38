// Decoding of uncompressed 24-bit BMP files, checked field by field before any pixel is read.
#include "bitmap.h"

#include <cstddef>
#include <stdexcept>
#include <string>

namespace gor::test {

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
// Larger than any picture a window uses; keeps a hostile header from asking for gigabytes.
constexpr std::int64_t kMaxSide = 16384;

[[noreturn]] void Malformed(const std::string& why) {
    throw std::invalid_argument("bitmap: " + why);
}

std::uint32_t U16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8;
}
std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at) {
    return U16(b, at) | U16(b, at + 2) << 16;
}
std::int32_t S32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::int32_t>(U32(b, at));
}

}  // namespace

window::Pixels DecodeBitmap24(std::span<const std::uint8_t> file) {
    if (file.size() < kFileHeaderSize + kInfoHeaderSize) Malformed("file shorter than its headers");
    if (file[0] != 'B' || file[1] != 'M') Malformed("no BM signature");
    const std::uint32_t pixelOffset = U32(file, 10);
    const std::uint32_t infoSize = U32(file, 14);
    if (infoSize < kInfoHeaderSize || infoSize > file.size() - kFileHeaderSize)
        Malformed("bad info header size");
    const std::int64_t width = S32(file, 18);
    const std::int64_t storedHeight = S32(file, 22);
    const std::uint32_t planes = U16(file, 26);
    const std::uint32_t bitsPerPixel = U16(file, 28);
    const std::uint32_t compression = U32(file, 30);
    if (planes != 1) Malformed("planes is not 1");
    if (bitsPerPixel != 24) Malformed("not 24 bits per pixel");
    if (compression != 0) Malformed("compressed (not BI_RGB)");
    const bool bottomUp = storedHeight > 0;
    const std::int64_t height = bottomUp ? storedHeight : -storedHeight;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        Malformed("bad dimensions");

    const std::uint64_t stride = (static_cast<std::uint64_t>(width) * 3 + 3) & ~std::uint64_t{3};
    const std::uint64_t pixelBytes = stride * static_cast<std::uint64_t>(height);
    if (pixelOffset < kFileHeaderSize + infoSize || pixelOffset > file.size() ||
        pixelBytes > file.size() - pixelOffset) {
        Malformed("pixel data outside the file");
    }

    window::Pixels picture;
    picture.width = static_cast<int>(width);
    picture.height = static_cast<int>(height);
    picture.colors.resize(static_cast<std::size_t>(width * height));
    for (std::int64_t y = 0; y < height; ++y) {
        const std::int64_t storedRow = bottomUp ? height - 1 - y : y;
        const std::size_t row =
            pixelOffset + static_cast<std::size_t>(stride * static_cast<std::uint64_t>(storedRow));
        for (std::int64_t x = 0; x < width; ++x) {
            const std::size_t at = row + static_cast<std::size_t>(x) * 3;
            // Stored blue, green, red: the colour reference is red in the low byte.
            picture.colors[static_cast<std::size_t>(y * width + x)] =
                static_cast<std::uint32_t>(file[at + 2]) |
                static_cast<std::uint32_t>(file[at + 1]) << 8 |
                static_cast<std::uint32_t>(file[at]) << 16;
        }
    }
    return picture;
}

}  // namespace gor::test
