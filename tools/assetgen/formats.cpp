// BMP and ICO encoding, little-endian, rows bottom-up and padded to four bytes.
#include "formats.h"

#include <stdexcept>

namespace assetgen {

namespace {

void Put16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
std::uint32_t Stride(int width, int bitsPerPixel) {
    return static_cast<std::uint32_t>((width * bitsPerPixel + 31) / 32 * 4);
}

void PutInfoHeader(Bytes& out, int width, int height, int bitsPerPixel, std::uint32_t imageBytes,
                   std::uint32_t pixelsPerMetre) {
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(width));
    Put32(out, static_cast<std::uint32_t>(height));
    Put16(out, 1);  // planes
    Put16(out, static_cast<std::uint32_t>(bitsPerPixel));
    Put32(out, 0);  // BI_RGB
    Put32(out, imageBytes);
    Put32(out, pixelsPerMetre);
    Put32(out, pixelsPerMetre);
    Put32(out, 0);  // colours used: all the bit depth allows
    Put32(out, 0);  // all colours important
}

Bytes IconDib(const IconImage& im) {
    const int n = im.size;
    const std::uint32_t xorStride = Stride(n, im.bitsPerPixel);
    const std::uint32_t andStride = Stride(n, 1);
    const std::uint32_t imageBytes = (xorStride + andStride) * static_cast<std::uint32_t>(n);
    Bytes out;
    PutInfoHeader(out, n, 2 * n, im.bitsPerPixel, imageBytes, 0);
    if (im.bitsPerPixel != 32) {
        if (im.palette.size() != (1u << im.bitsPerPixel))
            throw std::logic_error("icon palette size");
        for (const Rgb8& c : im.palette) {
            out.insert(out.end(), {c.b, c.g, c.r, 0});
        }
    }
    for (int y = n - 1; y >= 0; --y) {
        Bytes row(xorStride, 0);
        for (int x = 0; x < n; ++x) {
            const std::size_t i = static_cast<std::size_t>(y * n + x);
            switch (im.bitsPerPixel) {
                case 4:
                    row[static_cast<std::size_t>(x / 2)] |=
                        static_cast<std::uint8_t>(im.indices[i] << (x % 2 ? 0 : 4));
                    break;
                case 8:
                    row[static_cast<std::size_t>(x)] = im.indices[i];
                    break;
                case 32: {
                    const std::size_t at = static_cast<std::size_t>(x) * 4;
                    row[at] = im.rgb[i].b;
                    row[at + 1] = im.rgb[i].g;
                    row[at + 2] = im.rgb[i].r;
                    row[at + 3] = im.alpha[i];
                    break;
                }
                default:
                    throw std::logic_error("icon bit depth");
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    for (int y = n - 1; y >= 0; --y) {
        Bytes row(andStride, 0);
        for (int x = 0; x < n; ++x) {
            if (im.masked[static_cast<std::size_t>(y * n + x)]) {
                row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace

Bytes EncodeBmp24(int width, int height, const std::vector<Rgb8>& rgb) {
    const std::uint32_t stride = Stride(width, 24);
    const std::uint32_t imageBytes = stride * static_cast<std::uint32_t>(height);
    Bytes out;
    out.push_back('B');
    out.push_back('M');
    Put32(out, 54 + imageBytes);
    Put32(out, 0);   // reserved
    Put32(out, 54);  // pixels right after the two headers: no palette
    PutInfoHeader(out, width, height, 24, imageBytes, 3780);  // 96 dots per inch
    for (int y = height - 1; y >= 0; --y) {
        Bytes row(stride, 0);
        for (int x = 0; x < width; ++x) {
            const Rgb8& c = rgb[static_cast<std::size_t>(y * width + x)];
            row[static_cast<std::size_t>(x) * 3] = c.b;
            row[static_cast<std::size_t>(x) * 3 + 1] = c.g;
            row[static_cast<std::size_t>(x) * 3 + 2] = c.r;
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

Bytes EncodeIco(const std::vector<IconImage>& images) {
    std::vector<Bytes> dibs;
    for (const IconImage& im : images) dibs.push_back(IconDib(im));
    Bytes out;
    Put16(out, 0);  // reserved
    Put16(out, 1);  // icon (not cursor)
    Put16(out, static_cast<std::uint32_t>(images.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const IconImage& im = images[i];
        out.push_back(static_cast<std::uint8_t>(im.size));  // 0 would mean 256
        out.push_back(static_cast<std::uint8_t>(im.size));
        out.push_back(static_cast<std::uint8_t>(im.bitsPerPixel == 4 ? 16 : 0));  // 0: 256 or more
        out.push_back(0);
        Put16(out, 1);  // planes
        Put16(out, static_cast<std::uint32_t>(im.bitsPerPixel));
        Put32(out, static_cast<std::uint32_t>(dibs[i].size()));
        Put32(out, offset);
        offset += static_cast<std::uint32_t>(dibs[i].size());
    }
    for (const Bytes& dib : dibs) out.insert(out.end(), dib.begin(), dib.end());
    return out;
}

}  // namespace assetgen
