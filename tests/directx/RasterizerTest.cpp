#include "directx/Rasterizer.h"

#include "RasterReference.h"
#include "directx/Blit.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

using namespace directx;

namespace {

const PixelFormat kRGB565 = PixelFormat::Masks(16, 0xF800, 0x07E0, 0x001F, 0);
const PixelFormat kRGB555 = PixelFormat::Masks(16, 0x7C00, 0x03E0, 0x001F, 0);
const PixelFormat kRGB888 = PixelFormat::Masks(24, 0xFF0000, 0x00FF00, 0x0000FF, 0);
const PixelFormat kXRGB8888 = PixelFormat::Masks(32, 0xFF0000, 0x00FF00, 0x0000FF, 0);
const PixelFormat kARGB4444 = PixelFormat::Masks(16, 0x0F00, 0x00F0, 0x000F, 0xF000);
const PixelFormat kARGB8888 = PixelFormat::Masks(32, 0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000);
const PixelFormat kIndexed8 = PixelFormat::Masks(8, 0, 0, 0, 0);

std::vector<DWORD> CubePalette() {
    std::vector<DWORD> p(256);
    for (int i = 0; i < 256; ++i)
        p[i] = CubeColor(i);
    return p;
}

// Pixel memory with a padded pitch, so rows are addressed through the pitch.
struct Image {
    PixelFormat format;
    int width, height;
    LONG pitch;
    std::vector<BYTE> bits;
    std::vector<DWORD> palette;

    Image(PixelFormat f, int w, int h)
        : format(f), width(w), height(h), pitch(w * f.BytesPerPixel() + 8),
          bits(static_cast<std::size_t>(pitch) * h, 0) {
        if (f.Palettized())
            palette = CubePalette();
    }
    BYTE* Row(int y) { return bits.data() + static_cast<std::size_t>(y) * pitch; }
    std::uint32_t Get(int x, int y) {
        return reference::ReadRaw(Row(y) + x * format.BytesPerPixel(), format.BytesPerPixel());
    }
    void Set(int x, int y, std::uint32_t v) {
        reference::WriteRaw(Row(y) + x * format.BytesPerPixel(), format.BytesPerPixel(), v);
    }
    RasterTarget Target() {
        return {bits.data(), pitch,  width,
                height,      format, palette.empty() ? nullptr : palette.data()};
    }
    RasterTexture Texture() {
        RasterTexture t;
        t.bits = bits.data();
        t.pitch = pitch;
        t.width = width;
        t.height = height;
        t.format = format;
        t.palette = palette.empty() ? nullptr : palette.data();
        return t;
    }
    reference::Picture Picture() {
        reference::Picture p;
        p.width = width;
        p.height = height;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                p.pixels.push_back(reference::Decode(Get(x, y), format, palette.data()));
        p.touched.assign(p.pixels.size(), false);
        p.ambiguous.assign(p.pixels.size(), false);
        return p;
    }
};

std::uint32_t Lcg(std::uint32_t& seed) {
    seed = seed * 134775813u + 1;
    return seed >> 8;
}

// A texture of random texels; with a key value, some texels are set to it.
Image RandomTexture(PixelFormat f, int w, int h, std::uint32_t seed, bool withKeyTexels = false) {
    Image t(f, w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint32_t v = Lcg(seed);
            if (f.Palettized())
                v &= 0xFF;
            else
                v &= f.rMask | f.gMask | f.bMask | f.alphaMask;
            if (withKeyTexels && (x + 2 * y) % 5 == 0)
                v = 0;
            else if (withKeyTexels && v == 0)
                v = 1;
            t.Set(x, y, v);
        }
    return t;
}

// The engine's spinning square: corners TL, TR, BL, BR as a four-vertex strip.
std::vector<D3DTLVERTEX> Square(double cx, double cy, double half, double degrees, DWORD color,
                                float rhw = 0.5f) {
    const double a = degrees * std::numbers::pi / 180;
    const double bx = half * std::sin(a), by = -half * std::cos(a);
    const double ex = -by, ey = bx;
    const double px[4] = {cx + bx - ex, cx + bx + ex, cx - bx - ex, cx - bx + ex};
    const double py[4] = {cy + by - ey, cy + by + ey, cy - by - ey, cy - by + ey};
    const float u[4] = {0, 1, 0, 1}, v[4] = {0, 0, 1, 1};
    std::vector<D3DTLVERTEX> out;
    for (int i = 0; i < 4; ++i)
        out.push_back({float(px[i]), float(py[i]), 0.5f, rhw, color, 0, u[i], v[i]});
    return out;
}

struct Mismatch {
    int count = 0;
    std::string first;
};

// Compares every pixel with the reference in the target's own channel units.
Mismatch Compare(Image& img, const reference::Picture& ref, int tolerance) {
    Mismatch m;
    const PixelFormat& f = img.format;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * img.width + x;
            if (ref.ambiguous[at])
                continue;
            const std::uint32_t actual = img.Get(x, y);
            bool bad = false;
            if (f.Palettized()) {
                // Compare the colours the indices stand for.
                const reference::Color a = reference::Decode(actual, f, img.palette.data());
                const reference::Color& e = ref.pixels[at];
                bad = std::abs(a.r - e.r) > 40 || std::abs(a.g - e.g) > 40 ||
                      std::abs(a.b - e.b) > 90;
            } else {
                const std::uint32_t expected = reference::Encode(ref.pixels[at], f);
                for (DWORD mask : {f.rMask, f.gMask, f.bMask, f.alphaMask}) {
                    const auto c = reference::Info(mask);
                    if (!c.bits)
                        continue;
                    const int ea = int((expected >> c.shift) & ((1u << c.bits) - 1));
                    const int aa = int((actual >> c.shift) & ((1u << c.bits) - 1));
                    if (std::abs(ea - aa) > tolerance)
                        bad = true;
                }
            }
            if (bad) {
                if (m.count++ == 0) {
                    std::ostringstream text;
                    text << "(" << x << "," << y << ") got " << std::hex << actual << " want "
                         << reference::Encode(ref.pixels[at], f);
                    m.first = text.str();
                }
            }
        }
    return m;
}

void FillGradient(Image& img) {
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const DWORD argb =
                0xFF000000u | ((x * 5) & 0xFF) << 16 | ((y * 7) & 0xFF) << 8 | ((x + y) * 3 & 0xFF);
            img.Set(x, y, reference::Encode(reference::FromArgb(argb), img.format));
        }
}

const D3DRECT kEverywhere{0, 0, 1 << 20, 1 << 20};

// The strip v drawn by the reference and by the rasteriser into img, compared pixel by pixel.
struct Drawn {
    bool accepted = false;  // what the rasteriser's Draw returned
    reference::Picture ref; // the reference's picture
    Mismatch mismatch;      // where the two differ beyond the tolerance
};

Drawn DrawBoth(Image& img, const RasterStates& s, const std::vector<D3DTLVERTEX>& v,
               int tolerance = 1, const D3DRECT& clip = kEverywhere) {
    Drawn d;
    d.ref = img.Picture();
    reference::Draw(d.ref, s, clip, D3DPT_TRIANGLESTRIP, v);
    Rasterizer r;
    d.accepted = r.Draw(img.Target(), nullptr, s, clip, D3DPT_TRIANGLESTRIP, v.data(),
                        static_cast<DWORD>(v.size()));
    d.mismatch = Compare(img, d.ref, tolerance);
    return d;
}

} // namespace

TEST(Rasterizer, TexturedSquaresMatchTheReferenceAtEveryAngleFilterAndTargetFormat) {
    struct Case {
        const char* name;
        PixelFormat target;
        PixelFormat texture;
        double degrees;
        D3DTEXTUREFILTER filter;
        int tolerance;
    } cases[] = {
        {"565 0deg nearest", kRGB565, kRGB565, 0, D3DFILTER_NEAREST, 1},
        {"565 90deg nearest", kRGB565, kRGB565, 90, D3DFILTER_NEAREST, 1},
        {"565 37deg nearest", kRGB565, kRGB565, 37, D3DFILTER_NEAREST, 1},
        {"565 0deg bilinear", kRGB565, kRGB565, 0, D3DFILTER_LINEAR, 1},
        {"565 90deg bilinear", kRGB565, kRGB565, 90, D3DFILTER_LINEAR, 1},
        {"565 37deg bilinear", kRGB565, kRGB565, 37, D3DFILTER_LINEAR, 1},
        {"555 from 32-bit texture 211deg", kRGB555, kXRGB8888, 211, D3DFILTER_LINEAR, 1},
        {"24-bit 37deg nearest", kRGB888, kRGB565, 37, D3DFILTER_NEAREST, 1},
        {"24-bit 37deg bilinear", kRGB888, kXRGB8888, 37, D3DFILTER_LINEAR, 2},
        {"32-bit 90deg nearest", kXRGB8888, kXRGB8888, 90, D3DFILTER_NEAREST, 1},
        {"32-bit 123deg bilinear", kXRGB8888, kRGB565, 123, D3DFILTER_LINEAR, 2},
        {"32-bit from palettised texture", kXRGB8888, kIndexed8, 20, D3DFILTER_NEAREST, 1},
        {"8-bit target", kIndexed8, kRGB565, 37, D3DFILTER_NEAREST, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image tex = RandomTexture(c.texture, 16, 16, 99);
        const RasterTexture texture = tex.Texture();
        Image img(c.target, 96, 80);
        RasterStates s;
        s.texture = &texture;
        s.magFilter = s.minFilter = c.filter;
        const auto v = Square(47.3, 41.7, 30, c.degrees, 0xFFFFFFFF);
        const Drawn d = DrawBoth(img, s, v, c.tolerance);
        ASSERT_TRUE(d.accepted);
        EXPECT_EQ(d.mismatch.count, 0) << d.mismatch.first;
        // Something was really drawn: most of a 60x60 square.
        int touched = 0;
        for (bool t : d.ref.touched)
            touched += t;
        EXPECT_GT(touched, 3000);
    }
}

TEST(Rasterizer, ColourModulationDecalAndGouraudMatchTheReference) {
    struct Case {
        const char* name;
        D3DTEXTUREBLEND blend;
        bool textured;
        DWORD colors[4];
    } cases[] = {
        {"modulate, one tint",
         D3DTBLEND_MODULATE,
         true,
         {0xFF80C040, 0xFF80C040, 0xFF80C040, 0xFF80C040}},
        {"modulate, four tints",
         D3DTBLEND_MODULATE,
         true,
         {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF}},
        {"decal ignores the tint",
         D3DTBLEND_DECAL,
         true,
         {0xFF102030, 0xFF405060, 0xFF708090, 0xFF000000}},
        {"untextured gouraud",
         D3DTBLEND_MODULATE,
         false,
         {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF000000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image tex = RandomTexture(kXRGB8888, 8, 8, 5);
        const RasterTexture texture = tex.Texture();
        Image img(kXRGB8888, 64, 64);
        RasterStates s;
        s.texture = c.textured ? &texture : nullptr;
        s.textureBlend = c.blend;
        auto v = Square(32, 32, 24, 0, 0);
        for (int i = 0; i < 4; ++i)
            v[i].color = c.colors[i];
        const Mismatch m = DrawBoth(img, s, v).mismatch;
        EXPECT_EQ(m.count, 0) << m.first;
    }
    // A fully red tint on a white texel leaves pure red.
    Image white(kXRGB8888, 2, 2);
    for (int i = 0; i < 4; ++i)
        white.Set(i % 2, i / 2, 0xFFFFFF);
    const RasterTexture texture = white.Texture();
    Image img(kXRGB8888, 16, 16);
    RasterStates s;
    s.texture = &texture;
    const auto v = Square(8, 8, 8, 0, 0xFFFF0000);
    Rasterizer r;
    r.Draw(img.Target(), nullptr, s, kEverywhere, D3DPT_TRIANGLESTRIP, v.data(), 4);
    EXPECT_EQ(img.Get(8, 8), 0xFF0000u);
}

TEST(Rasterizer, AdditiveAndAlphaBlendingStayWithinOneUnitPerChannel) {
    struct Case {
        const char* name;
        PixelFormat target;
        D3DBLEND src, dst;
        DWORD color;
        bool textured;
    } cases[] = {
        {"add 565", kRGB565, D3DBLEND_ONE, D3DBLEND_ONE, 0xFF808080, true},
        {"add 24 saturates", kRGB888, D3DBLEND_ONE, D3DBLEND_ONE, 0xFFFFC040, false},
        {"add 32 with zero alpha", kXRGB8888, D3DBLEND_ONE, D3DBLEND_ONE, 0x000000FF, true},
        {"alpha 565", kRGB565, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 0x80FFFFFF, true},
        {"alpha 32", kXRGB8888, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 0x40FF8000, false},
        {"alpha 24 opaque", kRGB888, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 0xFF3060FF, true},
        {"alpha 32 into alpha target", kARGB8888, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA,
         0xC0204080, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image tex = RandomTexture(kRGB565, 16, 16, 7);
        const RasterTexture texture = tex.Texture();
        Image img(c.target, 80, 70);
        FillGradient(img);
        RasterStates s;
        s.texture = c.textured ? &texture : nullptr;
        s.blendEnable = true;
        s.srcBlend = c.src;
        s.destBlend = c.dst;
        const auto v = Square(40, 35, 28, 0, c.color);
        const Mismatch m = DrawBoth(img, s, v).mismatch;
        EXPECT_EQ(m.count, 0) << m.first;
    }
}

TEST(Rasterizer, AlphaTexturesGiveTheirAlphaToModulateAndBlending) {
    // A 4-4-4-4 texture: alpha comes from the texels, not the opaque vertex colour.
    Image tex = RandomTexture(kARGB4444, 8, 8, 11);
    const RasterTexture texture = tex.Texture();
    Image img(kXRGB8888, 40, 40);
    FillGradient(img);
    RasterStates s;
    s.texture = &texture;
    s.blendEnable = true;
    s.srcBlend = D3DBLEND_SRCALPHA;
    s.destBlend = D3DBLEND_INVSRCALPHA;
    const auto v = Square(20, 20, 16, 0, 0xFFFFFFFF);
    const Mismatch m = DrawBoth(img, s, v).mismatch;
    EXPECT_EQ(m.count, 0) << m.first;
}

TEST(Rasterizer, ColourKeyedTexelsAreLeftOutOnlyWhenKeyingIsOn) {
    struct Case {
        const char* name;
        PixelFormat texture;
        D3DTEXTUREFILTER filter;
        bool keyOn;
    } cases[] = {
        {"565 nearest keyed", kRGB565, D3DFILTER_NEAREST, true},
        {"565 nearest, keying off", kRGB565, D3DFILTER_NEAREST, false},
        {"palettised nearest keyed", kIndexed8, D3DFILTER_NEAREST, true},
        {"32-bit bilinear keyed", kXRGB8888, D3DFILTER_LINEAR, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image tex = RandomTexture(c.texture, 16, 16, 3, true);
        RasterTexture texture = tex.Texture();
        texture.hasColorKey = true;
        texture.keyLow = texture.keyHigh = 0;
        Image img(kRGB565, 64, 64);
        FillGradient(img);
        Image before = img;
        RasterStates s;
        s.texture = &texture;
        s.colorKeyEnable = c.keyOn;
        s.magFilter = s.minFilter = c.filter;
        const auto v = Square(32, 32, 32, 0, 0xFFFFFFFF);
        const Mismatch m = DrawBoth(img, s, v).mismatch;
        EXPECT_EQ(m.count, 0) << m.first;
        if (c.filter == D3DFILTER_NEAREST) {
            // 1:1 mapping: pixel (x, y) shows texel (x/4, y/4); keyed texels keep the background.
            int kept = 0;
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 64; ++x) {
                    const bool keyed = ((x / 4) + 2 * (y / 4)) % 5 == 0;
                    if (keyed && c.keyOn) {
                        EXPECT_EQ(img.Get(x, y), before.Get(x, y)) << x << "," << y;
                        ++kept;
                    } else if (keyed) {
                        EXPECT_EQ(img.Get(x, y), 0u) << x << "," << y;
                    }
                }
            EXPECT_EQ(kept, c.keyOn ? 52 * 16 : 0);
        }
    }
}

TEST(Rasterizer, FanOfManyTrianglesCoversEveryPixelExactlyOnce) {
    struct Case {
        const char* name;
        int triangles;
        double cx, cy, radius;
    } cases[] = {
        {"64 triangles off-grid centre", 64, 50.37, 49.81, 41.3},
        {"200 thin triangles", 200, 60.5, 40.25, 39.9},
        {"7 triangles on pixel centres", 7, 40, 40, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image img(kXRGB8888, 120, 100);
        RasterStates s;
        s.blendEnable = true;
        s.srcBlend = s.destBlend = D3DBLEND_ONE;
        std::vector<D3DTLVERTEX> fan{{float(c.cx), float(c.cy), 0, 1, 0xFF101010, 0, 0, 0}};
        for (int i = 0; i <= c.triangles; ++i) {
            const double a = 2 * std::numbers::pi * i / c.triangles;
            fan.push_back({float(c.cx + c.radius * std::cos(a)),
                           float(c.cy + c.radius * std::sin(a)), 0, 1, 0xFF101010, 0, 0, 0});
        }
        fan.back() = fan[1]; // close exactly
        Rasterizer r;
        r.Draw(img.Target(), nullptr, s, kEverywhere, D3DPT_TRIANGLEFAN, fan.data(),
               DWORD(fan.size()));
        // Per pixel, count the fan triangles whose (snapped) area holds its centre under the
        // top-left rule; the picture must show exactly that many blends, and never two.
        int covered = 0;
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x) {
                int holders = 0;
                for (std::size_t i = 1; i + 1 < fan.size(); ++i) {
                    const D3DTLVERTEX* t[3] = {&fan[0], &fan[i], &fan[i + 1]};
                    bool inside = true;
                    for (int e = 0; e < 3; ++e) {
                        const double x0 = reference::Snap(t[e]->sx), y0 = reference::Snap(t[e]->sy);
                        const double x1 = reference::Snap(t[(e + 1) % 3]->sx),
                                     y1 = reference::Snap(t[(e + 1) % 3]->sy);
                        const double dx = x1 - x0, dy = y1 - y0;
                        const double w = dx * (y - y0) - dy * (x - x0);
                        const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
                        if (w < 0 || (w == 0 && !topLeft))
                            inside = false;
                    }
                    holders += inside;
                }
                ASSERT_LE(holders, 1) << x << "," << y;
                const std::uint32_t got = img.Get(x, y);
                ASSERT_EQ(got, holders ? 0x101010u : 0u) << x << "," << y;
                covered += holders;
                // No gaps: everything well inside the circle is covered.
                if (std::hypot(x - c.cx, y - c.cy) <
                    c.radius * std::cos(std::numbers::pi / c.triangles) - 1.5) {
                    ASSERT_EQ(holders, 1) << x << "," << y;
                }
            }
        const double polygonArea =
            c.triangles / 2.0 * c.radius * c.radius * std::sin(2 * std::numbers::pi / c.triangles);
        EXPECT_NEAR(covered, polygonArea, 0.05 * polygonArea);
    }
}

TEST(Rasterizer, ClippingKeepsEveryPixelOutsideTheViewportUntouched) {
    struct Case {
        const char* name;
        D3DRECT clip;
        double cx, cy, half, degrees;
    } cases[] = {
        {"square over all four edges", {10, 12, 50, 41}, 30, 26, 40, 10},
        {"viewport beyond the target", {-20, -20, 500, 500}, 30, 30, 40, 0},
        {"square outside the viewport", {0, 0, 20, 20}, 50, 50, 10, 0},
        {"empty viewport", {30, 30, 30, 40}, 30, 30, 20, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image tex = RandomTexture(kRGB565, 16, 16, 21);
        const RasterTexture texture = tex.Texture();
        Image img(kRGB565, 64, 56);
        FillGradient(img);
        RasterStates s;
        s.texture = &texture;
        const auto v = Square(c.cx, c.cy, c.half, c.degrees, 0xFFFFFFFF);
        const Mismatch m = DrawBoth(img, s, v, 1, c.clip).mismatch;
        EXPECT_EQ(m.count, 0) << m.first;
    }
    // A triangle reaching millions of pixels away is clipped, not wrapped around.
    Image img(kXRGB8888, 32, 32);
    RasterStates s;
    s.cullMode = D3DCULL_NONE;
    const D3DTLVERTEX huge[3] = {{-3e7f, -3e7f, 0, 1, 0xFF00FF00, 0, 0, 0},
                                 {3e7f, -1e3f, 0, 1, 0xFF00FF00, 0, 0, 0},
                                 {-1e3f, 3e7f, 0, 1, 0xFF00FF00, 0, 0, 0}};
    Rasterizer r;
    r.Draw(img.Target(), nullptr, s, kEverywhere, D3DPT_TRIANGLELIST, huge, 3);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            ASSERT_EQ(img.Get(x, y), 0x00FF00u) << x << "," << y;
    // Vertices that are not numbers draw nothing.
    Image clean(kXRGB8888, 8, 8);
    D3DTLVERTEX bad[3] = {huge[0], huge[1], huge[2]};
    bad[1].sx = std::nanf("");
    r.Draw(clean.Target(), nullptr, s, kEverywhere, D3DPT_TRIANGLELIST, bad, 3);
    for (BYTE b : clean.bits)
        ASSERT_EQ(b, 0);
}

TEST(Rasterizer, PerspectiveCorrectTexturingFollowsRhw) {
    // A quad whose far edge (top) has a quarter of the near edge's rhw.
    Image tex = RandomTexture(kXRGB8888, 16, 16, 42);
    const RasterTexture texture = tex.Texture();
    Image img(kXRGB8888, 80, 80);
    RasterStates s;
    s.texture = &texture;
    std::vector<D3DTLVERTEX> v = {{25, 10, 0.9f, 0.25f, 0xFFFFFFFF, 0, 0, 0},
                                  {55, 10, 0.9f, 0.25f, 0xFFFFFFFF, 0, 1, 0},
                                  {5, 70, 0.1f, 1.0f, 0xFFFFFFFF, 0, 0, 1},
                                  {75, 70, 0.1f, 1.0f, 0xFFFFFFFF, 0, 1, 1}};
    const Drawn d = DrawBoth(img, s, v);
    EXPECT_EQ(d.mismatch.count, 0) << d.mismatch.first;

    // The affine picture differs: perspective really changed the texel choice.
    RasterStates affine = s;
    affine.perspective = false;
    Image img2(kXRGB8888, 80, 80);
    const Mismatch m = DrawBoth(img2, affine, v).mismatch;
    EXPECT_EQ(m.count, 0) << m.first;
    EXPECT_GT(Compare(img2, d.ref, 1).count, 200);
}

TEST(Rasterizer, DepthTestAndWriteDecideWhichSurfaceIsSeen) {
    struct Case {
        const char* name;
        bool zEnable, zWrite;
        D3DCMPFUNC func;
        DWORD expectCentre; // after drawing near red, then far green
    } cases[] = {
        {"z off: last drawn wins", false, true, D3DCMP_LESSEQUAL, 0x00FF00},
        {"z on: nearer wins", true, true, D3DCMP_LESSEQUAL, 0xFF0000},
        {"z on without writes: far one still passes", true, false, D3DCMP_LESSEQUAL, 0x00FF00},
        {"greater: the larger depth wins", true, true, D3DCMP_GREATER, 0xFF0000},
        {"never", true, true, D3DCMP_NEVER, 0x000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image img(kXRGB8888, 32, 32);
        std::vector<BYTE> zbits(32 * 64);
        RasterDepth depth{zbits.data(), 64, 32, 32, 16, 16};
        const bool farthestWins = c.func == D3DCMP_GREATER;
        Rasterizer::ClearDepth(depth, {0, 0, 32, 32}, farthestWins ? 0.0f : 1.0f);
        EXPECT_EQ(zbits[1], farthestWins ? 0x00 : 0xFF);
        RasterStates s;
        s.zEnable = c.zEnable;
        s.zWrite = c.zWrite;
        s.zFunc = c.func;
        auto nearQuad = Square(16, 16, 10, 0, 0xFFFF0000);
        auto farQuad = Square(16, 16, 12, 0, 0xFF00FF00);
        for (auto& v : nearQuad)
            v.sz = 0.25f;
        for (auto& v : farQuad)
            v.sz = c.func == D3DCMP_GREATER ? 0.1f : 0.75f;
        Rasterizer r;
        r.Draw(img.Target(), &depth, s, kEverywhere, D3DPT_TRIANGLESTRIP, nearQuad.data(), 4);
        r.Draw(img.Target(), &depth, s, kEverywhere, D3DPT_TRIANGLESTRIP, farQuad.data(), 4);
        EXPECT_EQ(img.Get(16, 16), c.expectCentre);
        if (c.func != D3DCMP_NEVER) {
            EXPECT_EQ(img.Get(5, 5), 0x00FF00u); // only the larger quad covers it
        }
    }
    // 32-bit cells with 24 significant bits.
    std::vector<BYTE> z32(8 * 8 * 4);
    RasterDepth depth{z32.data(), 32, 8, 8, 32, 24};
    Rasterizer::ClearDepth(depth, {2, 2, 4, 4}, 0.5f);
    std::uint32_t cell;
    std::memcpy(&cell, z32.data() + 2 * 32 + 2 * 4, 4);
    EXPECT_EQ(cell, 0x800000u);
    std::memcpy(&cell, z32.data(), 4);
    EXPECT_EQ(cell, 0u);
}

TEST(Rasterizer, CullingFollowsTheWindingOnScreen) {
    struct Case {
        D3DCULL cull;
        bool drawClockwise, drawCounterClockwise;
    } cases[] = {
        {D3DCULL_CCW, true, false},
        {D3DCULL_CW, false, true},
        {D3DCULL_NONE, true, true},
    };
    for (const Case& c : cases) {
        const D3DTLVERTEX cw[3] = {{2, 2, 0, 1, 0xFFFFFFFF, 0, 0, 0},
                                   {14, 2, 0, 1, 0xFFFFFFFF, 0, 0, 0},
                                   {2, 14, 0, 1, 0xFFFFFFFF, 0, 0, 0}};
        const D3DTLVERTEX ccw[3] = {cw[0], cw[2], cw[1]};
        RasterStates s;
        s.cullMode = c.cull;
        Rasterizer r;
        Image a(kXRGB8888, 16, 16), b(kXRGB8888, 16, 16);
        r.Draw(a.Target(), nullptr, s, kEverywhere, D3DPT_TRIANGLELIST, cw, 3);
        r.Draw(b.Target(), nullptr, s, kEverywhere, D3DPT_TRIANGLELIST, ccw, 3);
        EXPECT_EQ(a.Get(4, 4), c.drawClockwise ? 0xFFFFFFu : 0u) << c.cull;
        EXPECT_EQ(b.Get(4, 4), c.drawCounterClockwise ? 0xFFFFFFu : 0u) << c.cull;
    }
}

TEST(Rasterizer, ClearFillsRectanglesInEveryTargetFormat) {
    struct Case {
        PixelFormat format;
        D3DCOLOR color;
        std::uint32_t raw;
    } cases[] = {
        {kRGB565, 0xFFFF8000, 0xFC00},   {kRGB555, 0xFF0000FF, 0x001F},
        {kRGB888, 0x00123456, 0x123456}, {kXRGB8888, 0xFFABCDEF, 0xABCDEF},
        {kIndexed8, 0xFFFF0000, 0xE0},   {kARGB8888, 0x80FFFFFF, 0x80FFFFFF},
    };
    for (const Case& c : cases) {
        Image img(c.format, 10, 6);
        Rasterizer r;
        r.ClearTarget(img.Target(), {2, 1, 20, 4}, c.color);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 10; ++x)
                ASSERT_EQ(img.Get(x, y), (x >= 2 && y >= 1 && y < 4) ? c.raw : 0u)
                    << c.format.bitsPerPixel << " " << x << "," << y;
        // The padding past each row is never written.
        ASSERT_EQ(img.Row(1)[10 * c.format.BytesPerPixel()], 0);
    }
}

TEST(Rasterizer, ATextureChangedBetweenDrawsIsSeenAnew) {
    Image tex(kXRGB8888, 4, 4);
    for (int i = 0; i < 16; ++i)
        tex.Set(i % 4, i / 4, 0x0000FF);
    const RasterTexture texture = tex.Texture();
    RasterStates s;
    s.texture = &texture;
    Rasterizer r;
    Image img(kXRGB8888, 8, 8);
    const auto v = Square(4, 4, 4, 0, 0xFFFFFFFF);
    r.Draw(img.Target(), nullptr, s, kEverywhere, D3DPT_TRIANGLESTRIP, v.data(), 4);
    EXPECT_EQ(img.Get(3, 3), 0x0000FFu);
    tex.Set(1, 1, 0x00FF00);
    r.Draw(img.Target(), nullptr, s, kEverywhere, D3DPT_TRIANGLESTRIP, v.data(), 4);
    EXPECT_EQ(img.Get(3, 3), 0x00FF00u);
    EXPECT_EQ(img.Get(0, 0), 0x0000FFu);
}

TEST(Rasterizer, TheVectorLoopDrawsTheSameBytesAsTheStageFunctions) {
    AllowWideVectors(true);
    if (!WideVectorsInUse())
        GTEST_SKIP() << "no AVX2";
    struct Case {
        const char* name;
        PixelFormat textureFormat;
        bool keyed, add;
        DWORD tint;
    } cases[] = {
        {"keyed 5-6-5, added", kRGB565, true, true, 0xFFC0A080},
        {"keyed 5-6-5, opaque", kRGB565, true, false, 0x80FF40FF},
        {"plain 5-6-5, added", kRGB565, false, true, 0x00FFFF00},
        {"alpha texture, added", kARGB8888, false, true, 0x88888888},
        {"alpha texture, opaque", kARGB4444, false, false, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        Image tex = RandomTexture(c.textureFormat, 32, 16, 7, c.keyed);
        RasterTexture texture = tex.Texture();
        texture.hasColorKey = c.keyed;
        RasterStates s;
        s.texture = &texture;
        s.colorKeyEnable = c.keyed;
        s.magFilter = s.minFilter = D3DFILTER_LINEAR;
        s.blendEnable = c.add;
        s.srcBlend = s.destBlend = D3DBLEND_ONE;
        for (double degrees : {0.0, 17.0, 45.0, 200.0}) {
            Image plain = RandomTexture(kRGB565, 77, 61, 3), wide = plain;
            // Reaching past the target's edges, so runs of every length are cut.
            auto v = Square(38, 30, 37.3, degrees, c.tint);
            v[1].color = 0xFF102030;
            for (bool allowed : {false, true}) {
                AllowWideVectors(allowed);
                Image& img = allowed ? wide : plain;
                Rasterizer r;
                r.Draw(img.Target(), nullptr, s, kEverywhere, D3DPT_TRIANGLESTRIP, v.data(), 4);
            }
            ASSERT_TRUE(plain.bits == wide.bits) << c.name << " at " << degrees << " degrees";
        }
    }
    AllowWideVectors(true);
}

TEST(Rasterizer, AVersionedTextureIsConvertedAgainOnlyWhenItsVersionChanges) {
    Image tex(kXRGB8888, 4, 4);
    for (int i = 0; i < 16; ++i)
        tex.Set(i % 4, i / 4, 0x0000FF);
    RasterTexture texture = tex.Texture();
    texture.version = 7;
    RasterStates s;
    s.texture = &texture;
    Rasterizer r;
    Image img(kXRGB8888, 8, 8);
    const auto v = Square(4, 4, 4, 0, 0xFFFFFFFF);
    const std::uint32_t expected[] = {0x0000FF, 0x0000FF, 0x00FF00};
    for (int step = 0; step < 3; ++step) {
        if (step == 1)
            tex.Set(1, 1, 0x00FF00); // unannounced: the converted copy stands
        if (step == 2)
            texture.version = 8;
        r.Draw(img.Target(), nullptr, s, kEverywhere, D3DPT_TRIANGLESTRIP, v.data(), 4);
        EXPECT_EQ(img.Get(3, 3), expected[step]) << step;
    }
}

TEST(Rasterizer, RefusesWhatItCannotDraw) {
    Image img(kXRGB8888, 8, 8);
    RasterStates s;
    const auto v = Square(4, 4, 4, 0, 0xFFFFFFFF);
    Rasterizer r;
    EXPECT_FALSE(r.Draw(img.Target(), nullptr, s, kEverywhere, D3DPT_LINELIST, v.data(), 4));
    RasterTarget odd = img.Target();
    odd.format.bitsPerPixel = 12;
    EXPECT_FALSE(r.Draw(odd, nullptr, s, kEverywhere, D3DPT_TRIANGLESTRIP, v.data(), 4));
    EXPECT_TRUE(r.Draw(img.Target(), nullptr, s, kEverywhere, D3DPT_TRIANGLESTRIP, v.data(), 2));
    for (BYTE b : img.bits)
        ASSERT_EQ(b, 0);
}
