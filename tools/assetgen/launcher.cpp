// The launcher picture: a compass-star medallion with a heraldic shield (mountains under a
// glowing rune) on the left, overlapping the left end of a dark navy panel that carries
// the status and percentage lines. Everything else is the transparent colour.
#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <string>

#include "art.h"
#include "raster.h"

namespace assetgen {

namespace {

constexpr int kW = kLauncherWidth;
constexpr int kH = kLauncherHeight;

// Outlines are a near-black navy, so edges blend into the olive surround as darker olive.
const Color kInk = Hex(0x0A0B16);
constexpr double kOutline = 1.25;

// --- the medallion
const Vec kCentre{48.75, 51.5};
constexpr double kDiscRadius = 37.5;  // outer edge of the gold rim, outline outside it
constexpr double kRimInner = 31.5;    // inner edge of the rim

// --- the panel (outline included)
const Vec kPanelMin{80.0, 37.0};
const Vec kPanelMax{195.0, 96.0};
constexpr double kPanelCorner = 6.0;

// --- the shield
constexpr double kShieldHalfWidth = 20.0;
constexpr double kShieldTop = 19.5;  // at its corners; the top edge arches up in the middle
constexpr double kShieldArch = 2.5;
constexpr double kShieldWaist = 52.0;  // where the straight sides turn into the arcs
constexpr double kShieldTip = 92.0;

// How much a surface with this outward normal faces the light, which falls from the upper left.
double Lit(Vec normal) {
    return -0.6 * normal.x - 0.8 * normal.y;
}

Vec Normalised(Vec v) {
    const double l = Length(v);
    return l > 0 ? v * (1.0 / l) : Vec{0, -1};
}

// Gold with a rounded profile across a band: `across` 0 at one edge to 1 at the other,
// `light` -1..1 for how much the band's outward side faces the light.
Color Gold(double across, double light) {
    const double tilt = (0.5 - across) * 2.0;  // +1 faces outwards, -1 inwards
    const double shade = Clamp01(0.5 + 0.55 * light * tilt + 0.15 * light);
    const Color dark = Hex(0x6E4A1C), mid = Hex(0xC8963E), bright = Hex(0xFFE7A0);
    return shade < 0.5 ? Mix(dark, mid, shade * 2) : Mix(mid, bright, (shade - 0.5) * 2);
}

double SdShield(Vec p) {
    const double cx = kCentre.x;
    const double dx = std::abs(p.x - cx);
    double sides;
    if (p.y < kShieldWaist) {
        sides = dx - kShieldHalfWidth;
    } else {
        // Two arcs, each tangent to its side at the waist, meeting in the tip.
        const double drop = kShieldTip - kShieldWaist;
        const double arc =
            (drop * drop + kShieldHalfWidth * kShieldHalfWidth) / (2 * kShieldHalfWidth);
        sides = Length(Vec{dx + (arc - kShieldHalfWidth), p.y - kShieldWaist}) - arc;
    }
    const double u = (p.x - cx) / kShieldHalfWidth;
    const double top = kShieldTop - kShieldArch * (1 - std::min(1.0, u * u)) - p.y;
    return Intersect(sides, top);
}

// A spike of the compass star: a kite from under the rim out to its tip, split along its
// ridge into a lit and a shaded half.
struct Spike {
    double degrees;
    double tipRadius;
    double halfAngle;
    bool gold;  // the four cardinal spikes; the diagonal ones are steel
};

std::vector<Vec> SpikeHalf(const Spike& s, double side) {
    const Vec tip = Polar(kCentre, s.tipRadius, s.degrees);
    const Vec root = Polar(kCentre, kDiscRadius - 8, s.degrees);
    const Vec base = Polar(kCentre, kDiscRadius - 3, s.degrees + side * s.halfAngle);
    return {root, base, tip};
}

void PaintStar(Canvas& canvas) {
    // West reaches the picture's column 1, north its row 5, south its bottom row; east
    // lies behind the panel.
    const Spike spikes[] = {
        {90, 45.2, 16, true},   {180, 46.5, 16, true},  {270, 45.2, 16, true},
        {0, 44, 16, true},      {45, 55, 11.5, false},  {135, 55, 11.5, false},
        {225, 55, 11.5, false}, {315, 55, 11.5, false},
    };
    for (const Spike& s : spikes) {
        const std::vector<Vec> ccw = SpikeHalf(s, +1);
        const std::vector<Vec> cw = SpikeHalf(s, -1);
        canvas.Fill([&](Vec p) { return Union(SdPolygon(p, ccw), SdPolygon(p, cw)) - kOutline; },
                    [](Vec, double) { return kInk; });
        const Color lit = s.gold ? Hex(0xF2D38A) : Hex(0xB9C3DA);
        const Color shaded = s.gold ? Hex(0x8E6528) : Hex(0x4F5878);
        // The half on the counter-clockwise side faces that way; darker towards the tip.
        const bool ccwLit = Lit(Normalised(Polar(kCentre, 1, s.degrees + 90) - kCentre)) >= 0;
        auto half = [&](const std::vector<Vec>& shape, bool isLit) {
            canvas.Fill([&](Vec p) { return SdPolygon(p, shape); },
                        [&](Vec p, double) {
                            const double out = Clamp01((Length(p - kCentre) - 36) / 12);
                            return Mix(isLit ? lit : shaded, Hex(0x000000), 0.25 * out);
                        });
        };
        half(ccw, ccwLit);
        half(cw, !ccwLit);
    }
}

void PaintPanel(Canvas& canvas) {
    auto panel = [](Vec p) { return SdBox(p, kPanelMin, kPanelMax, kPanelCorner); };
    canvas.Fill(panel, [](Vec, double) { return Hex(0x05060C); });
    canvas.Fill([&](Vec p) { return panel(p) + kOutline; },
                [](Vec p, double d) {
                    const double down = (p.y - kPanelMin.y) / (kPanelMax.y - kPanelMin.y);
                    Color c = Mix(Hex(0x1C2858), Hex(0x0B1030), SmoothStep(0, 1, down));
                    // A faint vignette keeps the middle, where the text is, the calmest.
                    return Mix(c, Hex(0x070A1E), 0.35 * Clamp01((d + 6) / 5));
                });
    // A hairline bevel just inside the outline.
    canvas.Fill([&](Vec p) { return std::abs(panel(p) + 2.4) - 0.35; },
                [](Vec p, double) {
                    const double up = 1 - (p.y - kPanelMin.y) / (kPanelMax.y - kPanelMin.y);
                    return Mix(Hex(0x1A2350), Hex(0x4A64A8), up);
                },
                0.8);
    // A gold rule above the status line, fading towards its ends.
    constexpr double ruleY = 41.0;
    canvas.Fill(
        [&](Vec p) {
            return SdSegment(p, {102, ruleY}, {175, ruleY}, 0.45);
        },
        [&](Vec p, double) {
            const double fromMiddle = std::abs(p.x - 138.5) / 36.5;
            return Mix(Hex(0xF5D98C), Hex(0x1C2858), SmoothStep(0.45, 1.0, fromMiddle));
        });
    const std::vector<Vec> gem{
        {138.5, ruleY - 2.6}, {141.1, ruleY}, {138.5, ruleY + 2.6}, {135.9, ruleY}};
    canvas.Fill([&](Vec p) { return SdPolygon(p, gem) - 0.6; }, [](Vec, double) { return kInk; });
    canvas.Fill([&](Vec p) { return SdPolygon(p, gem); },
                [](Vec p, double) { return p.y < ruleY ? Hex(0x9FF4FF) : Hex(0x3A8FD0); });
    // A stud on the panel's right end.
    const std::vector<Vec> stud{{193.0, 62.3}, {196.65, 66}, {193.0, 69.7}, {189.35, 66}};
    canvas.Fill([&](Vec p) { return SdPolygon(p, stud) - kOutline; },
                [](Vec, double) { return kInk; });
    canvas.Fill([&](Vec p) { return SdPolygon(p, stud); },
                [](Vec p, double) { return p.y < 66 ? Hex(0xFFE19A) : Hex(0xA8742E); });
}

void PaintDisc(Canvas& canvas) {
    canvas.Fill([](Vec p) { return SdCircle(p, kCentre, kDiscRadius + kOutline); },
                [](Vec, double) { return kInk; });
    // The gold rim.
    canvas.Fill([](Vec p) { return SdCircle(p, kCentre, kDiscRadius); },
                [](Vec p, double) {
                    const double r = Length(p - kCentre);
                    const double across = Clamp01((kDiscRadius - r) / (kDiscRadius - kRimInner));
                    return Gold(across, Lit(Normalised(p - kCentre)));
                });
    // Engraved marks around the rim.
    for (int i = 0; i < 24; ++i) {
        const double deg = 7.5 + 15.0 * i;
        const Vec at = Polar(kCentre, (kDiscRadius + kRimInner) / 2, deg);
        const Vec inner = Polar(kCentre, kRimInner + 1.6, deg),
                  outer = Polar(kCentre, kDiscRadius - 1.6, deg);
        const bool dot = i % 2 == 0;
        canvas.Fill(
            [&](Vec p) { return dot ? SdCircle(p, at, 0.9) : SdSegment(p, inner, outer, 0.45); },
            [](Vec, double) { return Hex(0x4A3010); }, 0.85);
    }
    // The field inside the rim: a night sky, lighter towards the middle.
    canvas.Fill([](Vec p) { return SdCircle(p, kCentre, kRimInner); },
                [](Vec, double) { return kInk; });
    canvas.Fill([](Vec p) { return SdCircle(p, kCentre, kRimInner - 1.0); },
                [](Vec p, double) {
                    const double r = Length(p - kCentre) / kRimInner;
                    return Mix(Hex(0x2B3C86), Hex(0x0E1236), SmoothStep(0.2, 1.0, r));
                });
    const Vec stars[] = {{-27, -14.5}, {-24.5, 10.5}, {26.5, -15.5}, {25, 12.5},
                         {-20, -25},   {20.5, -25.5}, {-29, -1.5},   {29, -1.5}};
    for (const Vec& s : stars) {
        canvas.Fill([&](Vec p) { return SdCircle(p, kCentre + s, 0.55); },
                    [](Vec, double) { return Hex(0xDDEBFF); });
    }
}

void PaintShield(Canvas& canvas) {
    canvas.Fill([](Vec p) { return SdShield(p) - kOutline; }, [](Vec, double) { return kInk; });
    // Gold border, rounded, lit from the upper left.
    constexpr double border = 2.8;
    canvas.Fill(SdShield, [](Vec p, double d) {
        const double e = 0.01;
        const Vec n = Normalised({SdShield({p.x + e, p.y}) - SdShield({p.x - e, p.y}),
                                  SdShield({p.x, p.y + e}) - SdShield({p.x, p.y - e})});
        return Gold(Clamp01(-d / border), Lit(n));
    });
    canvas.Fill([](Vec p) { return SdShield(p) + border; }, [](Vec, double) { return kInk; });
    // The field, party per pale: royal blue and violet, darker towards the tip.
    auto field = [](Vec p) { return SdShield(p) + border + 0.8; };
    canvas.Fill(field, [](Vec p, double d) {
        const double down = SmoothStep(16, 92, p.y);
        const bool left = p.x < kCentre.x;
        Color c = left ? Mix(Hex(0x3F74D8), Hex(0x1A2A78), down)
                       : Mix(Hex(0x6B3CB0), Hex(0x2C1460), down);
        // A sheen across the upper left, and a darker rim inside the border.
        const double sheen = Clamp01(1 - Length(p - Vec{kCentre.x - 12.5, 26}) / 26);
        c = Mix(c, Hex(0xAFC8FF), 0.35 * sheen * sheen);
        return Mix(c, Hex(0x0A0B26), 0.45 * Clamp01((d + 3) / 3));
    });

    // Mountains: three peaks, each lit on its left face, snow on the tops.
    struct Peak {
        Vec apex;
        double left;  // base corners at the bottom line
        double right;
    };
    const double base = 86.0;
    const double cx = kCentre.x;
    const Peak peaks[] = {{{cx - 11, 60.0}, cx - 25.5, cx + 3.5},
                          {{cx + 12, 62.0}, cx - 3.5, cx + 27.5},
                          {{cx, 47.0}, cx - 19.5, cx + 19.5}};
    for (const Peak& pk : peaks) {
        const std::vector<Vec> tri{{pk.left, base}, pk.apex, {pk.right, base}};
        auto shape = [&](Vec p) { return Intersect(SdPolygon(p, tri), field(p)); };
        canvas.Fill([&](Vec p) { return Intersect(SdPolygon(p, tri) - 0.9, field(p)); },
                    [](Vec, double) { return Hex(0x141633); });
        canvas.Fill(shape, [&](Vec p, double) {
            // The ridge runs from the apex down to a point right of the middle of the base.
            const Vec foot{(pk.left + pk.right) / 2 + 3.0, base};
            const bool lit = Cross(foot - pk.apex, p - pk.apex) > 0;
            const double h = Clamp01((p.y - pk.apex.y) / (base - pk.apex.y));
            // A jagged snow line a little below the apex.
            const double snowLine = pk.apex.y + 8.5 + 1.8 * Sin(p.x * 1.7);
            const bool snow = p.y < snowLine;
            Color rock =
                lit ? Mix(Hex(0xB4C2E6), Hex(0x5A6AA8), h) : Mix(Hex(0x5A5F9E), Hex(0x27295E), h);
            if (snow) rock = lit ? Hex(0xF4F8FF) : Hex(0xA9B4E0);
            return rock;
        });
    }

    // The rune above the peak, and its glow on everything around it.
    const Vec r0{cx, 24.5}, r1{cx, 41.0};
    const Vec armL{cx - 4.7, 32.0}, armR{cx + 4.7, 32.0};
    const Vec top{cx, 27.5};
    auto rune = [&](Vec p) {
        double d = SdSegment(p, r0, r1, 0.85);
        d = Union(d, SdSegment(p, top, armL, 0.8));
        d = Union(d, SdSegment(p, top, armR, 0.8));
        d = Union(d, SdSegment(p, {cx - 2.9, 38.0}, {cx, 35.2}, 0.7));
        d = Union(d, SdSegment(p, {cx + 2.9, 38.0}, {cx, 35.2}, 0.7));
        return d;
    };
    canvas.Glow([&](Vec p) {
        const double d = std::max(0.0, rune(p));
        const double g = 0.75 / (1 + (d / 2.4) * (d / 2.4));
        return Scale(Hex(0x38D8FF), g);
    });
    canvas.Fill(rune,
                [](Vec, double d) { return Mix(Hex(0xF2FFFF), Hex(0x8FF0FF), Clamp01(d + 0.9)); });
}

}  // namespace

std::vector<Rgb8> PaintLauncher(double* coverCut) {
    Canvas canvas(kW, kH, 3);
    PaintStar(canvas);
    PaintPanel(canvas);
    PaintDisc(canvas);
    PaintShield(canvas);

    // The window keeps the most covered pixels, exactly as many as the picture shows;
    // ties go to the earlier pixel in scan order so the choice is reproducible.
    std::vector<Rgba> px(static_cast<std::size_t>(kW * kH));
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) px[static_cast<std::size_t>(y * kW + x)] = canvas.Pixel(x, y);
    }
    std::vector<std::size_t> order(px.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return px[a].a > px[b].a; });
    const std::size_t opaqueCount = px.size() - kLauncherTransparentPixels;
    const double cut = px[order[opaqueCount - 1]].a;
    if (cut < 0.25 || cut > 0.75) {
        const auto half =
            std::count_if(px.begin(), px.end(), [](const Rgba& p) { return p.a >= 0.5; });
        throw std::logic_error("launcher art covers " + std::to_string(half) +
                               " pixels at half coverage, wants " + std::to_string(opaqueCount));
    }
    if (coverCut) *coverCut = cut;
    std::vector<bool> opaque(px.size(), false);
    for (std::size_t i = 0; i < opaqueCount; ++i) opaque[order[i]] = true;

    std::vector<Rgb8> out(px.size(), kTransparent);
    const Color surround{64 / 255.0, 64 / 255.0, 0};
    for (std::size_t i = 0; i < px.size(); ++i) {
        if (!opaque[i]) continue;
        // Edge pixels are the art blended over the olive surround: darker olive tones.
        const Color c = Mix(surround, Color{px[i].r, px[i].g, px[i].b}, px[i].a);
        Rgb8 v{ToByte(c.r), ToByte(c.g), ToByte(c.b)};
        if (v == kTransparent) v.b = 1;  // opaque must never read as the cut-away colour
        out[i] = v;
    }

    // The frame the window relies on.
    auto visible = [&](int x, int y) {
        return !(out[static_cast<std::size_t>(y * kW + x)] == kTransparent);
    };
    int minX = kW, maxX = -1, minY = kH, maxY = -1;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            if (!visible(x, y)) continue;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
    if (minX != 1 || maxX != 197 || minY != 5 || maxY != 97) {
        throw std::logic_error("launcher art spans columns " + std::to_string(minX) + ".." +
                               std::to_string(maxX) + ", rows " + std::to_string(minY) + ".." +
                               std::to_string(maxY));
    }
    if (visible(0, kH - 1) || visible(kW - 1, kH - 1))
        throw std::logic_error("launcher art fills a bottom corner");
    struct Area {
        int left, top, right, bottom;  // inclusive
    };
    for (const Area a : {Area{88, 45, 188, 81}, Area{88, 76, 189, 93}}) {
        for (int y = a.top; y <= a.bottom; ++y) {
            for (int x = a.left; x <= a.right; ++x) {
                const Rgb8 c = out[static_cast<std::size_t>(y * kW + x)];
                if (!visible(x, y) || std::max({c.r, c.g, c.b}) > 90) {
                    throw std::logic_error("label area not dark at " + std::to_string(x) + "," +
                                           std::to_string(y));
                }
            }
        }
    }
    return out;
}

}  // namespace assetgen
