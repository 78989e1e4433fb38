// A tiny deterministic painter for the generated artwork: shapes are signed distance
// functions, painted supersampled with soft edges, composited "over" in premultiplied RGBA.
// Only + - * / and sqrt are used, so every platform computes the same bytes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace assetgen {

struct Vec {
    double x = 0;
    double y = 0;
};
inline Vec operator+(Vec a, Vec b) {
    return {a.x + b.x, a.y + b.y};
}
inline Vec operator-(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y};
}
inline Vec operator*(Vec a, double s) {
    return {a.x * s, a.y * s};
}
inline double Dot(Vec a, Vec b) {
    return a.x * b.x + a.y * b.y;
}
inline double Cross(Vec a, Vec b) {
    return a.x * b.y - a.y * b.x;
}
inline double Length(Vec a) {
    return std::sqrt(Dot(a, a));
}

// Colour components 0..1.
struct Color {
    double r = 0;
    double g = 0;
    double b = 0;
};
inline Color Hex(std::uint32_t rgb) {
    return {static_cast<double>(rgb >> 16 & 0xFF) / 255.0,
            static_cast<double>(rgb >> 8 & 0xFF) / 255.0, static_cast<double>(rgb & 0xFF) / 255.0};
}
inline Color Mix(Color a, Color b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}
inline Color Scale(Color c, double s) {
    return {c.r * s, c.g * s, c.b * s};
}
inline Color Add(Color a, Color b) {
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}

inline double Clamp01(double v) {
    return v < 0 ? 0 : (v > 1 ? 1 : v);
}
inline double SmoothStep(double e0, double e1, double v) {
    const double t = Clamp01((v - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

// Sine and cosine by series after reduction to [-pi, pi]: libm's may differ by an ulp
// between versions, which could flip a rounded byte of a committed asset.
inline constexpr double kPi = 3.14159265358979323846;
double Sin(double radians);
double Cos(double radians);
inline Vec Polar(Vec centre, double radius, double degrees) {
    const double a = degrees * kPi / 180.0;
    return {centre.x + radius * Cos(a), centre.y - radius * Sin(a)};  // y grows downwards
}

// --- signed distances in pixels, negative inside
double SdCircle(Vec p, Vec centre, double radius);
double SdBox(Vec p, Vec minCorner, Vec maxCorner, double cornerRadius = 0);
double SdSegment(Vec p, Vec a, Vec b, double halfWidth);  // a capsule
double SdPolygon(Vec p, const std::vector<Vec>& points);  // any simple polygon
inline double Union(double a, double b) {
    return std::min(a, b);
}
inline double Intersect(double a, double b) {
    return std::max(a, b);
}
inline double Subtract(double a, double b) {
    return std::max(a, -b);
}

struct Rgba {
    double r = 0, g = 0, b = 0, a = 0;  // premultiplied
};

class Canvas {
  public:
    Canvas(int width, int height, int supersample);

    int Width() const { return width_; }
    int Height() const { return height_; }

    // Paints `paint(p, d)` wherever `shape(p)` (signed distance d) is inside, edges softened
    // over one sample, scaled by `opacity`.
    template <class Shape, class Paint>
    void Fill(Shape shape, Paint paint, double opacity = 1.0) {
        ForEachSample([&](Vec p, Rgba& s) {
            const double d = shape(p);
            const double cover = Clamp01(0.5 - d * ss_) * opacity;
            if (cover <= 0) return;
            const Color c = paint(p, d);
            s.r = c.r * cover + s.r * (1 - cover);
            s.g = c.g * cover + s.g * (1 - cover);
            s.b = c.b * cover + s.b * (1 - cover);
            s.a = cover + s.a * (1 - cover);
        });
    }

    // Adds light `light(p)` to what is painted already (scaled by its coverage), so a glow
    // brightens the art without spreading onto the empty surround.
    template <class Light>
    void Glow(Light light) {
        ForEachSample([&](Vec p, Rgba& s) {
            if (s.a <= 0) return;
            const Color c = light(p);
            s.r += c.r * s.a;
            s.g += c.g * s.a;
            s.b += c.b * s.a;
        });
    }

    // The pixel (x, y) averaged over its samples, colour straight (not premultiplied),
    // clamped to 0..1.
    Rgba Pixel(int x, int y) const;

  private:
    template <class Visit>
    void ForEachSample(Visit visit) {
        const int sw = width_ * ss_;
        for (int sy = 0; sy < height_ * ss_; ++sy) {
            for (int sx = 0; sx < sw; ++sx) {
                const Vec p{(sx + 0.5) / ss_, (sy + 0.5) / ss_};
                visit(p, samples_[static_cast<std::size_t>(sy) * sw + sx]);
            }
        }
    }

    int width_;
    int height_;
    int ss_;
    std::vector<Rgba> samples_;
};

// A 0..255 byte from a 0..1 component, rounded half up.
inline std::uint8_t ToByte(double v) {
    return static_cast<std::uint8_t>(Clamp01(v) * 255.0 + 0.5);
}

}  // namespace assetgen
