// The product's emblem for the program icon: an octagonal "G" rune, blue shading into
// violet, bevelled and outlined in dark navy, on a transparent background. Drawn afresh
// at every icon size so that small sizes get whole-pixel outlines.
#include <algorithm>

#include "art.h"
#include "raster.h"

namespace assetgen {

namespace {

// A regular octagon with flat sides up, down, left and right; `apothem` to the flat sides.
double SdOctagon(Vec p, double apothem) {
    const double kx = -0.9238795325112867, ky = 0.3826834323650898, kz = 0.4142135623730950;
    p = {std::abs(p.x), std::abs(p.y)};
    double t = 2.0 * std::min(kx * p.x + ky * p.y, 0.0);
    p = {p.x - t * kx, p.y - t * ky};
    t = 2.0 * std::min(-kx * p.x + ky * p.y, 0.0);
    p = {p.x + t * kx, p.y - t * ky};
    p = {p.x - std::clamp(p.x, -kz * apothem, kz * apothem), p.y - apothem};
    const double l = Length(p);
    return p.y < 0 ? -l : l;
}

struct Glyph {
    Vec centre;
    double apothem;  // of the stroke's middle line
    double half;     // half the stroke width
    double bar;      // half the height of the crossbar

    double operator()(Vec p) const {
        const Vec q = p - centre;
        const double a = apothem;
        const double ring = std::abs(SdOctagon(q, a)) - half;
        // The mouth of the G: the right side between the upper bend and the crossbar. The
        // upper stroke ends square across the diagonal (the cut runs along x + y = cut).
        const double top = -a - 3 * half, floor = -bar - 0.15 * half, cut = 0.12 * a;
        const double mouth =
            SdPolygon(q, {{cut - top, top}, {3 * a, top}, {3 * a, floor}, {cut - floor, floor}});
        // The crossbar, pointed at its inner end like a rune's stave.
        const double crossbar = SdPolygon(
            q,
            {{-0.22 * a, 0}, {0.12 * a, -bar}, {a + half, -bar}, {a + half, bar}, {0.12 * a, bar}});
        return Union(Subtract(ring, mouth), crossbar);
    }
};

}  // namespace

IconPixels PaintEmblem(int size) {
    const double s = size;
    const double outline = size >= 32 ? 1.5 * s / 48 : 1.0;
    const double extent = s / 2 - s / 48;  // from the centre to the outline's outer edge
    const double half = 0.105 * s;
    const Glyph glyph{{s / 2, s / 2}, extent - outline - half, half, 0.85 * half};

    Canvas canvas(size, size, 4);
    canvas.Fill([&](Vec p) { return glyph(p) - outline; },
                [](Vec, double) { return Hex(0x0B0A26); });
    canvas.Fill(glyph, [&](Vec p, double d) {
        // Sky blue at the upper left through royal blue to violet at the lower right.
        const double t = Clamp01(((p.x + p.y) / s - 0.3) / 1.2);
        Color c = t < 0.5 ? Mix(Hex(0x86D6FF), Hex(0x3D63E6), t * 2)
                          : Mix(Hex(0x3D63E6), Hex(0x7A2FD0), (t - 0.5) * 2);
        // A rounded bevel: edges facing the upper left catch light, the others fall into shade.
        const double e = 0.01;
        Vec n{glyph({p.x + e, p.y}) - glyph({p.x - e, p.y}),
              glyph({p.x, p.y + e}) - glyph({p.x, p.y - e})};
        const double l = Length(n);
        n = l > 0 ? n * (1 / l) : Vec{0, 0};
        const double facing = -0.6 * n.x - 0.8 * n.y;
        const double edge = Clamp01(1 + d / (0.55 * half));
        c = facing > 0 ? Mix(c, Hex(0xEAF8FF), 0.8 * facing * edge)
                       : Mix(c, Hex(0x26094F), -0.65 * facing * edge);
        return c;
    });

    IconPixels out;
    out.rgb.resize(static_cast<std::size_t>(size * size));
    out.alpha.resize(out.rgb.size());
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const Rgba px = canvas.Pixel(x, y);
            const std::size_t i = static_cast<std::size_t>(y * size + x);
            out.alpha[i] = ToByte(px.a);
            out.rgb[i] =
                out.alpha[i] == 0 ? Rgb8{} : Rgb8{ToByte(px.r), ToByte(px.g), ToByte(px.b)};
        }
    }
    return out;
}

}  // namespace assetgen
