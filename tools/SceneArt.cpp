#include "SceneArt.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

Picture::Picture(int width, int height)
    : width_(width), height_(height), pixels_(std::size_t(width) * height),
      opaque_(std::size_t(width) * height, false) {}

Rgb Picture::At(int x, int y) const {
    if (!Opaque(x, y))
        return Rgb{};
    Rgb c = pixels_[Index(x, y)];
    if (c.R < kDarkestOpaque.R && c.G < kDarkestOpaque.G && c.B < kDarkestOpaque.B) {
        c.R = std::max(c.R, kDarkestOpaque.R);
        c.G = std::max(c.G, kDarkestOpaque.G);
        c.B = std::max(c.B, kDarkestOpaque.B);
    }
    return c;
}

void Picture::Set(int x, int y, Rgb colour) {
    if (!Inside(x, y))
        return;
    pixels_[Index(x, y)] = colour;
    opaque_[Index(x, y)] = true;
}

void Picture::Erase(int x, int y) {
    if (Inside(x, y))
        opaque_[Index(x, y)] = false;
}

std::vector<std::uint8_t> Picture::EncodeBmp() const {
    const std::uint32_t rowBytes = (std::uint32_t(width_) * 3 + 3) & ~3u;
    const std::uint32_t imageBytes = rowBytes * height_;
    const std::uint32_t fileBytes = 14 + 40 + imageBytes;
    std::vector<std::uint8_t> out;
    out.reserve(fileBytes);
    auto u16 = [&](std::uint32_t v) {
        out.push_back(v & 0xFF);
        out.push_back((v >> 8) & 0xFF);
    };
    auto u32 = [&](std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    out.push_back('B');
    out.push_back('M');
    u32(fileBytes);
    u32(0);
    u32(14 + 40);
    u32(40);
    u32(width_);
    u32(height_); // positive: bottom-up rows
    u16(1);
    u16(24);
    u32(0); // no compression
    u32(imageBytes);
    u32(2835); // 72 dots per inch
    u32(2835);
    u32(0);
    u32(0);
    for (int y = height_ - 1; y >= 0; --y) {
        for (int x = 0; x < width_; ++x) {
            const Rgb c = At(x, y);
            out.push_back(c.B);
            out.push_back(c.G);
            out.push_back(c.R);
        }
        for (std::uint32_t pad = width_ * 3; pad < rowBytes; ++pad)
            out.push_back(0);
    }
    return out;
}

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Col {
    double r = 0, g = 0, b = 0;
};
Col operator+(Col a, Col b) {
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}
Col operator*(Col a, double k) {
    return {a.r * k, a.g * k, a.b * k};
}
Col Mix(Col a, Col b, double t) {
    return a * (1 - t) + b * t;
}

double Clamp01(double v) {
    return std::clamp(v, 0.0, 1.0);
}
double Smooth(double e0, double e1, double x) {
    const double t = Clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

Rgb ToRgb(Col c) {
    auto channel = [](double v) {
        return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
    };
    return {channel(c.r), channel(c.g), channel(c.b)};
}

// Lattice values from an integer hash, so the pictures never depend on a random generator.
double Lattice(int x, int y, std::uint32_t seed) {
    std::uint32_t h =
        std::uint32_t(x) * 0x8DA6B343u ^ std::uint32_t(y) * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    h ^= h >> 15;
    return (h & 0xFFFFFF) / double(0x1000000);
}

// Value noise over a lattice of period x period cells; u, v in tile units [0, 1), so the
// noise repeats exactly once per tile.
double PeriodicNoise(double u, double v, int period, std::uint32_t seed) {
    const double x = u * period;
    const double y = v * period;
    const int x0 = static_cast<int>(std::floor(x));
    const int y0 = static_cast<int>(std::floor(y));
    const double fx = Smooth(0, 1, x - x0);
    const double fy = Smooth(0, 1, y - y0);
    auto at = [&](int i, int j) {
        return Lattice(((i % period) + period) % period, ((j % period) + period) % period, seed);
    };
    const double top = at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx;
    const double bottom = at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx;
    return top * (1 - fy) + bottom * fy;
}

double PeriodicFbm(double u, double v, int basePeriod, int octaves, std::uint32_t seed) {
    double sum = 0;
    double weight = 0.5;
    double total = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += PeriodicNoise(u, v, basePeriod << o, seed + o * 101) * weight;
        total += weight;
        weight *= 0.5;
    }
    return sum / total;
}

// Shapes as signed distances: negative inside. Edges are hard (no blending into the
// transparent surroundings, which would leave near-black fringes).
using Shape = std::function<double(double x, double y)>;
using Shader = std::function<Col(double x, double y, double depth)>;

double CircleDist(double x, double y, double cx, double cy, double r) {
    return std::hypot(x - cx, y - cy) - r;
}

double EllipseDist(double x, double y, double cx, double cy, double rx, double ry) {
    // Scaled distance; exact enough for shading bands a few pixels wide.
    const double k = std::hypot((x - cx) / rx, (y - cy) / ry);
    return (k - 1) * std::min(rx, ry);
}

double BoxDist(double x, double y, double x0, double y0, double x1, double y1, double radius) {
    const double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
    const double hx = (x1 - x0) / 2 - radius, hy = (y1 - y0) / 2 - radius;
    const double dx = std::abs(x - cx) - hx, dy = std::abs(y - cy) - hy;
    return std::hypot(std::max(dx, 0.0), std::max(dy, 0.0)) + std::min(std::max(dx, dy), 0.0) -
           radius;
}

double SegmentDist(double x, double y, double ax, double ay, double bx, double by, double r) {
    const double px = x - ax, py = y - ay, dx = bx - ax, dy = by - ay;
    const double t = Clamp01((px * dx + py * dy) / (dx * dx + dy * dy));
    return std::hypot(px - dx * t, py - dy * t) - r;
}

struct Point {
    double x, y;
};

double PolygonDist(double x, double y, const std::vector<Point>& p) {
    double d = 1e9;
    bool inside = false;
    for (std::size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
        d = std::min(d, SegmentDist(x, y, p[j].x, p[j].y, p[i].x, p[i].y, 0));
        if ((p[i].y > y) != (p[j].y > y) &&
            x < (p[j].x - p[i].x) * (y - p[i].y) / (p[j].y - p[i].y) + p[i].x)
            inside = !inside;
    }
    return inside ? -d : d;
}

// Paints every pixel whose centre lies inside the shape, within the given box.
void Fill(Picture& picture, int x0, int y0, int x1, int y1, const Shape& shape,
          const Shader& shader) {
    for (int y = std::max(0, y0); y < std::min(picture.Height(), y1); ++y)
        for (int x = std::max(0, x0); x < std::min(picture.Width(), x1); ++x) {
            const double d = shape(x + 0.5, y + 0.5);
            if (d < 0)
                picture.Set(x, y, ToRgb(shader(x + 0.5, y + 0.5, -d)));
        }
}

void Fill(Picture& picture, const Shape& shape, const Shader& shader) {
    Fill(picture, 0, 0, picture.Width(), picture.Height(), shape, shader);
}

Shader Flat(Col c) {
    return [c](double, double, double) { return c; };
}

// A ball lit from the upper left, with a highlight.
Shader Ball(double cx, double cy, double r, Col dark, Col light) {
    return [=](double x, double y, double) {
        const double nx = (x - cx) / r, ny = (y - cy) / r;
        const double nz = std::sqrt(std::max(0.0, 1 - nx * nx - ny * ny));
        const double lambert = Clamp01(-0.45 * nx - 0.55 * ny + 0.70 * nz);
        const double highlight = std::pow(Clamp01(-0.40 * nx - 0.50 * ny + 0.77 * nz), 24);
        return Mix(dark, light, lambert) + Col{255, 255, 255} * (highlight * 0.8);
    };
}

// Darkens the opaque pixels that touch a transparent one (or the frame, where the picture
// does not repeat): a crisp outline that keeps shapes readable over any background.
void Outline(Picture& picture, Col ink, int cellWidth) {
    std::vector<std::array<int, 2>> edge;
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) {
            if (!picture.Opaque(x, y))
                continue;
            const bool border = (x % cellWidth == 0) || (x % cellWidth == cellWidth - 1) ||
                                y == 0 || y == picture.Height() - 1;
            if (border || !picture.Opaque(x - 1, y) || !picture.Opaque(x + 1, y) ||
                !picture.Opaque(x, y - 1) || !picture.Opaque(x, y + 1))
                edge.push_back({x, y});
        }
    for (const auto& p : edge) {
        const Rgb c = picture.At(p[0], p[1]);
        const Col own{double(c.R), double(c.G), double(c.B)};
        picture.Set(p[0], p[1], ToRgb(Mix(own, ink, 0.7)));
    }
}

// --- "samp4.bmp": deck plating -------------------------------------------------------------

Picture FloorTile() {
    constexpr int kSize = 100;
    constexpr double kPanel = 50;
    Picture picture(kSize, kSize);
    const Col steel{78, 90, 110};
    const Col seam{26, 30, 44};
    const Col glow{80, 230, 255};
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            const double lx = std::fmod(px, kPanel), ly = std::fmod(py, kPanel);
            const int panel = int(px / kPanel) + int(py / kPanel);
            const double u = px / kSize, v = py / kSize;
            const double grime = PeriodicFbm(u, v, 5, 4, 17) - 0.5;
            const double brushed = (Lattice(0, y, 3) - 0.5) * 6;
            Col c = steel * (1 + grime * 0.35) + Col{brushed, brushed, brushed};

            // Bevels: light on the upper and left edges of a panel, shadow on the others.
            const double toLow = std::min(lx, ly), toHigh = std::min(kPanel - lx, kPanel - ly);
            const double edge = std::min(toLow, toHigh);
            if (edge < 1.5)
                c = seam;
            else if (edge < 4.5)
                c = toLow < toHigh ? c * 1.35 + Col{12, 12, 14} : c * 0.62;

            if (edge >= 4.5) {
                const double cx = lx - kPanel / 2, cy = ly - kPanel / 2;
                if (panel % 2 == 0) {
                    // A vent: dark slots with a faint cyan glow underneath.
                    if (std::abs(cx) < 14 && std::abs(cy) < 12) {
                        const bool slot = std::fmod(ly, 5.0) < 2.6;
                        if (slot)
                            c = Mix(Col{22, 30, 48}, glow, 0.22 * (1 - std::abs(cx) / 14));
                        else
                            c = c * 1.15;
                    }
                } else {
                    // A round light set into the plate, with a ring around it.
                    const double r = std::hypot(cx, cy);
                    if (r < 6.5)
                        c = Mix(glow, Col{235, 255, 255}, Smooth(6.5, 1.0, r));
                    else if (r < 9.5)
                        c = Mix(Col{40, 50, 70}, Col{120, 135, 160},
                                Smooth(9.5, 6.5, r) * (cy < 0 ? 1.0 : 0.45));
                    else if (r < 13)
                        c = Mix(c, glow, 0.25 * Smooth(13, 9.5, r));
                }
                // Rivets near the corners.
                for (double rx : {7.0, kPanel - 7.0})
                    for (double ry : {7.0, kPanel - 7.0}) {
                        const double d = std::hypot(lx - rx, ly - ry);
                        if (d < 2.4) {
                            const double lit = Clamp01(0.5 - (lx - rx + ly - ry) / 4.0);
                            c = Mix(Col{50, 58, 74}, Col{190, 200, 215}, lit);
                        }
                    }
            }
            picture.Set(x, y, ToRgb(c));
        }
    return picture;
}

// --- "samp3.bmp": clouds -------------------------------------------------------------------

Picture CloudTile() {
    constexpr int kSize = 100;
    Picture picture(kSize, kSize);
    // Broad, soft noise (few octaves): a handful of large clouds rather than speckle.
    auto density = [](double u, double v) {
        return PeriodicFbm(u, v, 3, 3, 5) * 0.8 + PeriodicNoise(u, v, 2, 41) * 0.2 - 0.5;
    };
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const double u = (x + 0.5) / kSize, v = (y + 0.5) / kSize;
            const double d = density(u, v);
            if (d <= 0.012)
                continue;
            // Lit from above: the upper rims bright, the undersides in blue shadow.
            const double above = density(u, v - 5.0 / kSize);
            const double below = density(u, v + 5.0 / kSize);
            const double lit = Clamp01(0.5 + (below - above) * 6);
            const double core = Smooth(0.0, 0.10, d);
            Col c = Mix(Col{132, 146, 186}, Col{222, 228, 246}, core);
            c = Mix(c * 0.78, c + Col{30, 28, 18}, lit);
            picture.Set(x, y, ToRgb(c));
        }
    return picture;
}

// --- "boss2.bmp": the boss --------------------------------------------------------------------

// The boss ship is drawn about the vertical line x = kBossMid of a kBossSize square, back to
// front: wings, engine pods, hull, guns, core.
constexpr int kBossSize = 256;
constexpr double kBossMid = 128;

// Wings, swept back from the hull, with lights at their tips.
void BossWings(Picture& picture) {
    // Mirror image about the vertical centre line: shapes are given for the right half.
    auto mirrored = [](std::function<double(double, double)> half) {
        return [half](double x, double y) { return half(std::abs(x - kBossMid), y); };
    };
    const std::vector<Point> wing{{26, 88},   {116, 62},  {124, 74},
                                  {122, 122}, {104, 140}, {26, 182}};
    Fill(picture, mirrored([&](double ax, double y) { return PolygonDist(ax, y, wing); }),
         [&](double x, double y, double depth) {
             const double ax = std::abs(x - kBossMid);
             Col c = Mix(Col{92, 34, 96}, Col{150, 62, 140}, Clamp01((150 - y) / 110));
             if (depth < 3)
                 c = c * 1.45; // rim light on the armour plate
             // Panel lines across the wing.
             if (std::fmod(ax + y * 0.35, 22.0) < 1.3 && depth > 3)
                 c = c * 0.6;
             return c;
         });
    // Wing-tip lights.
    for (double side : {-1.0, 1.0})
        Fill(
            picture,
            [&](double x, double y) { return CircleDist(x, y, kBossMid + side * 118, 98, 3); },
            Ball(kBossMid + side * 118, 98, 3, Col{170, 120, 20}, Col{255, 240, 120}));
}

// Engine pods with flames at the rear.
void BossEnginePods(Picture& picture) {
    for (double side : {-1.0, 1.0}) {
        const double cx = kBossMid + side * 54;
        Fill(
            picture,
            [&](double x, double y) {
                const double t = Clamp01((30 - y) / 26);
                return SegmentDist(x, y, cx, 6, cx, 30, 0) - (7 - 5 * t);
            },
            [&](double x, double y, double) {
                const double heat = Clamp01(std::abs(x - cx) / 7 + (30 - y) / 40);
                return Mix(Col{255, 250, 210}, Col{255, 110, 20}, heat);
            });
        Fill(
            picture,
            [&](double x, double y) { return BoxDist(x, y, cx - 11, 26, cx + 11, 118, 9); },
            [&](double x, double, double depth) {
                const double across = (x - cx) / 11;
                Col c = Mix(Col{54, 58, 80}, Col{168, 172, 196}, Clamp01(0.75 - across * 0.6));
                if (depth < 2)
                    c = c * 0.7;
                return c;
            });
        Fill(
            picture, [&](double x, double y) { return BoxDist(x, y, cx - 8, 26, cx + 8, 34, 2); },
            Flat(Col{40, 40, 60}));
    }
}

// The hull: widest behind the core, narrowing to a nose that points at the player.
void BossHull(Picture& picture) {
    auto halfWidth = [](double y) {
        if (y < 22 || y > 236)
            return -1.0;
        if (y < 120)
            return 36 * std::sqrt(1 - std::pow((120 - y) / 98, 2));
        return 36 * (1 - std::pow((y - 120) / 116, 1.5));
    };
    Fill(
        picture, [&](double x, double y) { return std::abs(x - kBossMid) - halfWidth(y); },
        [&](double x, double y, double) {
            const double w = std::max(1.0, halfWidth(y));
            const double across = (x - kBossMid) / w;
            const double lit = std::sqrt(std::max(0.0, 1 - across * across));
            Col c = Mix(Col{58, 56, 92}, Col{190, 188, 218}, lit * Clamp01(0.85 - across * 0.35));
            if (std::abs(x - kBossMid) < 1.2 && (y < 90 || y > 146))
                c = c * 0.55; // the spine
            if (std::fmod(y, 26.0) < 1.2 && std::abs(across) < 0.9)
                c = c * 0.7; // hull plate seams
            return c;
        });
}

// The guns: nose cannons, and turrets on the wings.
void BossGuns(Picture& picture) {
    for (double side : {-1.0, 1.0})
        Fill(
            picture,
            [&](double x, double y) {
                return SegmentDist(x, y, kBossMid + side * 17, 176, kBossMid + side * 17, 214, 3.2);
            },
            [&](double x, double, double) {
                const double across = (x - (kBossMid + side * 17)) / 3.2;
                return Mix(Col{120, 124, 146}, Col{40, 40, 60}, Clamp01(0.5 + across * 0.5));
            });

    // Turrets on the wings.
    for (double side : {-1.0, 1.0}) {
        const double cx = kBossMid + side * 88, cy = 120;
        Fill(
            picture,
            [&](double x, double y) { return SegmentDist(x, y, cx, cy, cx, cy + 20, 2.4); },
            Flat(Col{70, 74, 96}));
        Fill(
            picture, [&](double x, double y) { return CircleDist(x, y, cx, cy, 10); },
            Ball(cx, cy, 10, Col{20, 76, 90}, Col{110, 230, 220}));
    }
}

// The core: a red eye in a gold ring, the weak spot; and small lights along the leading
// edges.
void BossCore(Picture& picture) {
    Fill(
        picture, [&](double x, double y) { return CircleDist(x, y, kBossMid, 118, 25); },
        Ball(kBossMid, 118, 25, Col{110, 76, 18}, Col{250, 214, 110}));
    Fill(
        picture, [&](double x, double y) { return CircleDist(x, y, kBossMid, 118, 19); },
        [&](double x, double y, double) {
            const double r = std::hypot(x - kBossMid, y - 118) / 19;
            Col c = Mix(Col{255, 230, 200}, Col{140, 8, 30}, Smooth(0.0, 1.0, r));
            const double fromGlint = std::hypot(x - (kBossMid - 6), y - 111);
            if (fromGlint < 4)
                c = Mix(Col{255, 255, 255}, c, fromGlint / 4);
            return c;
        });
    // Small lights along the leading edges.
    for (int i = 0; i < 5; ++i)
        for (double side : {-1.0, 1.0}) {
            const double cx = kBossMid + side * (40 + i * 16), cy = 178 - i * 8.6;
            Fill(
                picture, [&](double x, double y) { return CircleDist(x, y, cx, cy, 1.8); },
                Flat(i % 2 ? Col{255, 90, 90} : Col{255, 220, 90}));
        }
}

Picture Boss() {
    Picture picture(kBossSize, kBossSize);
    BossWings(picture);
    BossEnginePods(picture);
    BossHull(picture);
    BossGuns(picture);
    BossCore(picture);
    Outline(picture, Col{34, 18, 50}, kBossSize);
    return picture;
}

// --- "samp5.bmp": six sprites --------------------------------------------------------------

constexpr int kCell = 32;

void DrawFighter(Picture& p, double ox) {
    const double mid = ox + 16;
    auto mirrored = [&](const std::vector<Point>& half) {
        return [&, half](double x, double y) { return PolygonDist(std::abs(x - mid), y, half); };
    };
    const std::vector<Point> wing{{2, 20}, {12, 12}, {14, 26}, {2, 26}};
    Fill(p, int(ox), 0, int(ox) + kCell, kCell, mirrored(wing), [&](double, double y, double) {
        return Mix(Col{40, 80, 200}, Col{120, 170, 255}, Clamp01((26 - y) / 14));
    });
    Fill(
        p, int(ox), 0, int(ox) + kCell, kCell,
        [&](double x, double y) {
            return SegmentDist(x, y, mid, 6, mid, 23, 0) - (1 + Clamp01((y - 4) / 8) * 3.5);
        },
        [&](double x, double, double) {
            return Mix(Col{250, 250, 255}, Col{130, 140, 170}, Clamp01((x - mid + 2) / 5));
        });
    Fill(
        p, [&](double x, double y) { return EllipseDist(x, y, mid, 13, 2, 3.5); },
        Ball(mid, 13, 3.5, Col{0, 110, 150}, Col{160, 250, 255}));
    Fill(
        p, [&](double x, double y) { return SegmentDist(x, y, mid, 25, mid, 28.5, 2.2); },
        [&](double, double y, double) {
            return Mix(Col{255, 240, 140}, Col{255, 90, 20}, Clamp01((y - 25) / 5.5));
        });
}

void DrawSaucer(Picture& p, double ox) {
    const double mid = ox + 16;
    Fill(
        p, [&](double x, double y) { return EllipseDist(x, y, mid, 19, 14.5, 6); },
        [&](double x, double y, double) {
            const double lit = Clamp01(0.8 - (y - 19) / 8 - (x - mid) / 40);
            return Mix(Col{60, 66, 80}, Col{200, 206, 220}, lit);
        });
    Fill(
        p, [&](double x, double y) { return EllipseDist(x, y, mid, 15, 8, 7.5); },
        Ball(mid, 15, 8, Col{10, 100, 40}, Col{140, 255, 150}));
    for (int i = 0; i < 5; ++i) {
        const double cx = mid - 10 + i * 5, cy = 21.5 + (i == 0 || i == 4 ? -1.0 : 0.0);
        Fill(
            p, [&](double x, double y) { return CircleDist(x, y, cx, cy, 1.3); },
            Flat(i % 2 ? Col{255, 70, 60} : Col{255, 230, 80}));
    }
}

void DrawOrb(Picture& p, double ox) {
    const double cx = ox + 16, cy = 16;
    Fill(
        p,
        [&](double x, double y) {
            const double r = std::hypot(x - cx, y - cy);
            return std::max(r - 13.5, 11.5 - r);
        },
        [&](double x, double y, double) {
            const double a = std::atan2(y - cy, x - cx);
            return Mix(Col{150, 40, 170}, Col{255, 150, 255}, 0.5 + 0.5 * std::sin(a * 3));
        });
    for (int i = 0; i < 4; ++i) {
        const double a = kPi / 4 + i * kPi / 2;
        const double sx = cx + std::cos(a) * 12.5, sy = cy + std::sin(a) * 12.5;
        Fill(
            p, [&](double x, double y) { return std::abs(x - sx) + std::abs(y - sy) - 2.5; },
            Flat(Col{255, 235, 255}));
    }
    Fill(
        p, [&](double x, double y) { return CircleDist(x, y, cx, cy, 9); },
        Ball(cx, cy, 9, Col{170, 20, 110}, Col{255, 140, 220}));
}

void DrawMissile(Picture& p, double ox) {
    const double mid = ox + 16;
    const std::vector<Point> fin{{0, 4}, {7, 4}, {7, 12}, {3.5, 12}};
    Fill(
        p, int(ox), 0, int(ox) + kCell, kCell,
        [&](double x, double y) { return PolygonDist(std::abs(x - mid), y, fin); },
        Flat(Col{150, 150, 170}));
    Fill(
        p, [&](double x, double y) { return SegmentDist(x, y, mid, 6, mid, 22, 3.6); },
        [&](double x, double y, double) {
            const double across = (x - mid) / 3.6;
            Col c = Mix(Col{255, 90, 80}, Col{120, 16, 24}, Clamp01(0.35 + across * 0.6));
            if (y > 20)
                c = Mix(Col{255, 255, 255}, Col{150, 150, 170}, Clamp01(0.3 + across * 0.6));
            if (std::abs(y - 12) < 1)
                c = Col{240, 220, 60};
            return c;
        });
    Fill(
        p,
        [&](double x, double y) {
            return SegmentDist(x, y, mid, 2.2, mid, 3.8, 0) - (1.0 + (y - 2.2) * 0.4);
        },
        Flat(Col{255, 220, 90}));
    // The flame points up: the missile is coming down at the player.
    Fill(
        p, [&](double x, double y) { return EllipseDist(x, y, mid, 3.6, 2.4, 2.6); },
        [&](double x, double y, double) {
            return Mix(Col{255, 255, 200}, Col{255, 120, 30},
                       Clamp01(std::hypot(x - mid, y - 3.6) / 2.6));
        });
    Fill(
        p,
        [&](double x, double y) {
            return EllipseDist(x, y, mid, 27.5, 3.3, 3.5) + std::max(0.0, 24.5 - y) * 10;
        },
        [&](double x, double, double) {
            return Mix(Col{255, 255, 255}, Col{150, 150, 170}, Clamp01(0.4 + (x - mid) / 6));
        });
}

void DrawBurst(Picture& p, double ox) {
    const double cx = ox + 16, cy = 16;
    auto radius = [](double a) {
        const double spikes = std::pow(std::abs(std::cos(a * 4.5)), 3);
        return 8.2 + 6.0 * spikes + 0.7 * std::sin(a * 11);
    };
    Fill(
        p, int(ox), 0, int(ox) + kCell, kCell,
        [&](double x, double y) {
            const double a = std::atan2(y - cy, x - cx);
            return std::hypot(x - cx, y - cy) - radius(a);
        },
        [&](double x, double y, double) {
            const double a = std::atan2(y - cy, x - cx);
            const double t = std::hypot(x - cx, y - cy) / radius(a);
            Col c = Mix(Col{255, 255, 230}, Col{255, 210, 60}, Smooth(0.0, 0.45, t));
            c = Mix(c, Col{230, 70, 20}, Smooth(0.45, 1.0, t));
            // Soot blotches in the flame.
            if (Lattice(int(x) / 3, int(y) / 3, 9) > 0.84 && t > 0.45)
                c = Mix(c, Col{120, 40, 30}, 0.6);
            return c;
        });
}

void DrawPowerUp(Picture& p, double ox) {
    const double x0 = ox + 3, x1 = ox + 29;
    Fill(
        p, [&](double x, double y) { return BoxDist(x, y, x0, 7, x1, 25, 8.5); },
        [&](double, double y, double depth) {
            Col c = Mix(Col{255, 230, 120}, Col{220, 100, 10}, Clamp01((y - 7) / 18));
            if (depth < 2)
                c = c * 0.75;
            if (y < 11 && depth > 2)
                c = c + Col{25, 25, 30};
            return c;
        });
    // The letter P.
    const double stem = ox + 12;
    Fill(
        p,
        [&](double x, double y) {
            const double bar = BoxDist(x, y, stem, 10, stem + 3, 22, 0);
            const double ring = std::abs(std::hypot(x - (stem + 4.5), y - 13.5) - 3.2) - 1.5;
            return std::min(bar, x < stem + 2 ? 1.0 : ring);
        },
        Flat(Col{120, 20, 20}));
}

} // namespace

Picture DrawFloorTile() {
    return FloorTile();
}
Picture DrawCloudTile() {
    Picture picture = CloudTile();
    return picture;
}
Picture DrawBoss() {
    return Boss();
}

Picture DrawSpriteSheet() {
    Picture picture(6 * kCell, kCell);
    DrawFighter(picture, 0 * kCell);
    DrawSaucer(picture, 1 * kCell);
    DrawOrb(picture, 2 * kCell);
    DrawMissile(picture, 3 * kCell);
    DrawBurst(picture, 4 * kCell);
    DrawPowerUp(picture, 5 * kCell);
    Outline(picture, Col{24, 20, 44}, kCell);
    return picture;
}

const std::vector<ScenePicture>& ScenePictures() {
    static const std::vector<ScenePicture> pictures{
        {"samp4.bmp", DrawFloorTile},
        {"boss2.bmp", DrawBoss},
        {"samp3.bmp", DrawCloudTile},
        {"samp5.bmp", DrawSpriteSheet},
    };
    return pictures;
}
