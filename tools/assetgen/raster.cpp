// Distance functions, series trigonometry and the canvas's resolve step.
#include "raster.h"

namespace assetgen {

double Sin(double x) {
    while (x > kPi) x -= 2 * kPi;
    while (x < -kPi) x += 2 * kPi;
    // Taylor series to x^23: below 1e-9 on [-pi, pi], far under a byte's step.
    double term = x;
    double sum = x;
    for (int n = 1; n <= 11; ++n) {
        term *= -x * x / ((2.0 * n) * (2.0 * n + 1));
        sum += term;
    }
    return sum;
}

double Cos(double x) {
    return Sin(x + kPi / 2);
}

double SdCircle(Vec p, Vec centre, double radius) {
    return Length(p - centre) - radius;
}

double SdBox(Vec p, Vec minCorner, Vec maxCorner, double cornerRadius) {
    const Vec centre = (minCorner + maxCorner) * 0.5;
    const Vec half = (maxCorner - minCorner) * 0.5;
    const Vec q{std::abs(p.x - centre.x) - half.x + cornerRadius,
                std::abs(p.y - centre.y) - half.y + cornerRadius};
    const Vec outside{std::max(q.x, 0.0), std::max(q.y, 0.0)};
    return Length(outside) + std::min(std::max(q.x, q.y), 0.0) - cornerRadius;
}

double SdSegment(Vec p, Vec a, Vec b, double halfWidth) {
    const Vec pa = p - a;
    const Vec ba = b - a;
    const double h = Clamp01(Dot(pa, ba) / Dot(ba, ba));
    return Length(pa - ba * h) - halfWidth;
}

double SdPolygon(Vec p, const std::vector<Vec>& v) {
    // Distance to the nearest edge, sign by the crossing-number rule.
    double best = Dot(p - v[0], p - v[0]);
    bool inside = false;
    for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i, ++i) {
        const Vec e = v[j] - v[i];
        const Vec w = p - v[i];
        const Vec b = w - e * Clamp01(Dot(w, e) / Dot(e, e));
        best = std::min(best, Dot(b, b));
        const bool c1 = p.y >= v[i].y;
        const bool c2 = p.y < v[j].y;
        const bool c3 = e.x * w.y > e.y * w.x;
        if ((c1 && c2 && c3) || (!c1 && !c2 && !c3)) inside = !inside;
    }
    const double d = std::sqrt(best);
    return inside ? -d : d;
}

Canvas::Canvas(int width, int height, int supersample)
    : width_(width),
      height_(height),
      ss_(supersample),
      samples_(static_cast<std::size_t>(width) * supersample * height * supersample) {}

Rgba Canvas::Pixel(int x, int y) const {
    Rgba sum;
    const int sw = width_ * ss_;
    for (int j = 0; j < ss_; ++j) {
        for (int i = 0; i < ss_; ++i) {
            const Rgba& s = samples_[static_cast<std::size_t>(y * ss_ + j) * sw + (x * ss_ + i)];
            sum.r += s.r;
            sum.g += s.g;
            sum.b += s.b;
            sum.a += s.a;
        }
    }
    const double n = static_cast<double>(ss_ * ss_);
    Rgba out;
    out.a = Clamp01(sum.a / n);
    if (sum.a > 0) {
        out.r = Clamp01(sum.r / sum.a);
        out.g = Clamp01(sum.g / sum.a);
        out.b = Clamp01(sum.b / sum.a);
    }
    return out;
}

}  // namespace assetgen
