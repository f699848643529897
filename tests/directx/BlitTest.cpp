// Blt and BltFast against a per-pixel reference, for every pixel size.
#include "directx/Blit.h"

#include "DirectDrawTestSupport.h"
#include "directx/SoftSurface.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int W = 24, H = 16;

// A recognisable, format-independent pattern: every pixel different within the format's bits.
DWORD Pattern(int x, int y, int bits) {
    const DWORD v = static_cast<DWORD>(x * 37 + y * 101 + 1);
    return bits == 32 ? (v * 2654435761u) & 0xFFFFFF : v & ((1u << bits) - 1);
}

// Every table runs on the host's memory and, for the sizes a GPU store holds, on the GPU, where
// each result must be the same to the bit.
enum class Store { Host, Gpu };
struct BlitParam {
    int bits;
    Store store;
};

class BlitTest : public DirectDrawTest, public ::testing::WithParamInterface<BlitParam> {
protected:
    void SetUp() override {
        if (OnGpu()) {
            road_.emplace();
            ASSERT_EQ(road_->Failure(), "");
        }
        DirectDrawTest::SetUp();
        Adapter().SetDesktopBitCount(Bits());
        CreateDirectDraw();
        const DWORD memory = OnGpu() ? DDSCAPS_VIDEOMEMORY : DDSCAPS_SYSTEMMEMORY;
        source = CreatePlain(W, H, memory);
        target = CreatePlain(W, H, memory);
        if (OnGpu()) {
            ASSERT_TRUE(static_cast<SoftSurface*>(target)->OnGpu());
        }
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                WritePixel(source, x, y, Pattern(x, y, Bits()));
    }
    void TearDown() override {
        if (source)
            source->Release();
        if (target)
            target->Release();
        DirectDrawTest::TearDown();
        road_.reset();
    }
    using Reference = std::function<DWORD(int x, int y)>;
    void ExpectTarget(const Reference& expected) {
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                ASSERT_EQ(ReadPixel(target, x, y), expected(x, y)) << x << "," << y;
    }
    int Bits() const { return GetParam().bits; }
    bool OnGpu() const { return GetParam().store == Store::Gpu; }
    IDirectDrawSurface* source = nullptr;
    IDirectDrawSurface* target = nullptr;

private:
    std::optional<GpuRoad> road_;
};

TEST_P(BlitTest, ColourFillCoversExactlyTheRectangle) {
    const DWORD value = Pattern(5, 5, Bits());
    DDBLTFX fx = FillFx(value);
    RECT rect{3, 2, 10, 7};
    ASSERT_EQ(target->Blt(&rect, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx), DD_OK);
    ExpectTarget([&](int x, int y) { return x >= 3 && x < 10 && y >= 2 && y < 7 ? value : 0; });
}

TEST_P(BlitTest, CopiesStretchesAndMirrors) {
    struct Case {
        const char* what;
        RECT dest, src;
        DWORD fx;
    };
    const std::vector<Case> cases = {
        {"copy", {4, 3, 14, 9}, {1, 2, 11, 8}, 0},
        {"double", {0, 0, 20, 12}, {2, 2, 12, 8}, 0},
        {"half", {1, 1, 9, 7}, {0, 0, 16, 12}, 0},
        {"mirror left-right", {2, 2, 12, 8}, {0, 0, 10, 6}, DDBLTFX_MIRRORLEFTRIGHT},
        {"mirror up-down", {2, 2, 12, 8}, {0, 0, 10, 6}, DDBLTFX_MIRRORUPDOWN},
        {"both", {0, 0, 24, 16}, {0, 0, 12, 8}, DDBLTFX_MIRRORLEFTRIGHT | DDBLTFX_MIRRORUPDOWN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DDBLTFX clear = FillFx(0);
        target->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &clear);
        DDBLTFX fx{};
        fx.dwSize = sizeof fx;
        fx.dwDDFX = c.fx;
        RECT dest = c.dest, src = c.src;
        ASSERT_EQ(target->Blt(&dest, source, &src, DDBLT_WAIT | (c.fx ? DDBLT_DDFX : 0), &fx),
                  DD_OK);
        const int dw = dest.right - dest.left, dh = dest.bottom - dest.top;
        const int sw = src.right - src.left, sh = src.bottom - src.top;
        ExpectTarget([&](int x, int y) -> DWORD {
            if (x < dest.left || x >= dest.right || y < dest.top || y >= dest.bottom)
                return 0;
            int sx = (x - dest.left) * sw / dw, sy = (y - dest.top) * sh / dh;
            if (c.fx & DDBLTFX_MIRRORLEFTRIGHT)
                sx = sw - 1 - sx;
            if (c.fx & DDBLTFX_MIRRORUPDOWN)
                sy = sh - 1 - sy;
            return Pattern(src.left + sx, src.top + sy, Bits());
        });
    }
}

TEST_P(BlitTest, SourceColourKeySkipsKeyedPixels) {
    // Key the pixels of every third column, in Blt, stretched Blt and BltFast.
    const DWORD key = Pattern(0, 0, Bits());
    // Small formats repeat values, so pixels meant to show are kept off the key.
    auto value = [&](int x, int y) {
        const DWORD p = Pattern(x, y, Bits());
        return x % 3 == 0 ? key : (p == key ? key ^ 2 : p);
    };
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            WritePixel(source, x, y, value(x, y));
    DDCOLORKEY ck{key, key};
    ASSERT_EQ(source->SetColorKey(DDCKEY_SRCBLT, &ck), DD_OK);
    const DWORD background = Pattern(7, 7, Bits());
    auto keyed = [&](int x, int y) { return x % 3 == 0 ? background : value(x, y); };
    struct Case {
        const char* what;
        std::function<HRESULT()> blit;
    };
    const std::vector<Case> cases = {
        {"Blt", [&] { return target->Blt(nullptr, source, nullptr, DDBLT_KEYSRC, nullptr); }},
        {"BltFast",
         [&] {
             return target->BltFast(0, 0, source, nullptr, DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT);
         }},
        {"Blt override",
         [&] {
             DDBLTFX fx{};
             fx.dwSize = sizeof fx;
             fx.ddckSrcColorkey = ck;
             return target->Blt(nullptr, source, nullptr, DDBLT_KEYSRCOVERRIDE, &fx);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DDBLTFX fill = FillFx(background);
        target->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fill);
        ASSERT_EQ(c.blit(), DD_OK);
        ExpectTarget(keyed);
    }
    // Stretched twice as wide from half the source: keyed columns come out in pairs.
    DDBLTFX fill = FillFx(background);
    target->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fill);
    RECT src{0, 0, W / 2, H};
    ASSERT_EQ(target->Blt(nullptr, source, &src, DDBLT_KEYSRC | DDBLT_WAIT, nullptr), DD_OK);
    ExpectTarget([&](int x, int y) {
        const int sx = x / 2;
        return sx % 3 == 0 ? background : value(sx, y);
    });
    // An opaque BltFast copies the key colour too.
    ASSERT_EQ(target->BltFast(0, 0, source, nullptr, DDBLTFAST_NOCOLORKEY), DD_OK);
    EXPECT_EQ(ReadPixel(target, 0, 0), key);
}

TEST_P(BlitTest, OverlappingCopyInsideOneSurface) {
    RECT src{0, 0, 16, 10};
    ASSERT_EQ(source->BltFast(3, 2, source, &src, 0), DD_OK);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(ReadPixel(source, x + 3, y + 2), Pattern(x, y, Bits()));
}

TEST_P(BlitTest, RectanglesAreCheckedAgainstTheSurfaces) {
    struct Case {
        const char* what;
        std::function<HRESULT()> call;
        HRESULT expected;
    };
    RECT outside{20, 10, 30, 20}, inverted{5, 5, 2, 8}, fits{0, 0, 8, 8}, wide{0, 0, 25, 4};
    const std::vector<Case> cases = {
        {"dest outside", [&] { return target->Blt(&outside, source, &fits, 0, nullptr); },
         DDERR_INVALIDRECT},
        {"dest inverted", [&] { return target->Blt(&inverted, source, &fits, 0, nullptr); },
         DDERR_INVALIDRECT},
        {"source too wide", [&] { return target->Blt(&fits, source, &wide, 0, nullptr); },
         DDERR_INVALIDRECT},
        {"BltFast past the edge", [&] { return target->BltFast(17, 0, source, &fits, 0); },
         DDERR_INVALIDRECT},
        {"BltFast at the edge", [&] { return target->BltFast(16, 8, source, &fits, 0); }, DD_OK},
        {"no source", [&] { return target->Blt(&fits, nullptr, &fits, 0, nullptr); },
         DDERR_INVALIDPARAMS},
        {"key without key",
         [&] { return target->Blt(nullptr, source, nullptr, DDBLT_KEYSRC, nullptr); },
         DDERR_NOCOLORKEY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(), c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPixelSize, BlitTest,
                         ::testing::Values(BlitParam{8, Store::Host}, BlitParam{16, Store::Host},
                                           BlitParam{24, Store::Host}, BlitParam{32, Store::Host},
                                           BlitParam{8, Store::Gpu}, BlitParam{16, Store::Gpu},
                                           BlitParam{32, Store::Gpu}),
                         [](const auto& info) {
                             return std::to_string(info.param.bits) +
                                    (info.param.store == Store::Gpu ? "BitsOnGpu" : "Bits");
                         });

// The 16-bit keyed loops work in groups of 16 and 8 pixels: every width and offset around
// those groups, with wide vectors and without, against a pixel-by-pixel reference.
TEST(KeyedRows16, EveryWidthMatchesTheReference) {
    constexpr LONG Pitch = 96; // 48 pixels
    std::vector<WORD> source(Pitch / 2 * 3), target(Pitch / 2 * 3), expected;
    for (std::size_t i = 0; i < source.size(); ++i)
        source[i] = i % 5 == 0 || i % 7 == 3 ? 0x1234 : WORD(i * 3 + 1);
    for (bool wide : {true, false}) {
        AllowWideVectors(wide);
        for (LONG width = 1; width <= 40; ++width)
            for (LONG x : {0, 1, 7}) {
                for (std::size_t i = 0; i < target.size(); ++i)
                    target[i] = WORD(0xF000 | i);
                expected = target;
                const PixelPlane to{{reinterpret_cast<BYTE*>(target.data()), Pitch, 48, 3}, 2};
                const PixelPlane from{{reinterpret_cast<BYTE*>(source.data()), Pitch, 48, 3}, 2};
                ColorKeyRange key{true, 0x1234, 0x1234, 0xFFFF};
                CopyRect(to, x, 0, from, RECT{2, 1, 2 + width, 3}, key);
                for (LONG r = 0; r < 2; ++r)
                    for (LONG i = 0; i < width; ++i) {
                        const WORD v = source[(1 + r) * 48 + 2 + i];
                        if (v != 0x1234)
                            expected[r * 48 + x + i] = v;
                    }
                ASSERT_EQ(target, expected) << "width " << width << " x " << x << " wide " << wide;
            }
    }
    AllowWideVectors(true);
}

// A blit cut to part of its destination (a clipper, or the part of a windowed primary's copy
// still to land) draws exactly that part of the whole picture, copied or stretched.
TEST(BlitRect, DrawsOnlyTheVisiblePartOfTheWholePicture) {
    struct Case {
        const char* what;
        RECT full, visible, src;
        bool mirrorX;
    };
    const std::vector<Case> cases = {
        {"copy, left and top cut", {-3, -2, 7, 6}, {0, 0, 7, 6}, {4, 1, 14, 9}, false},
        {"copy, middle part", {2, 1, 12, 9}, {5, 3, 9, 6}, {0, 0, 10, 8}, false},
        {"stretch, right part", {0, 0, 20, 10}, {12, 2, 20, 10}, {1, 1, 11, 6}, false},
        {"mirrored copy, cut", {1, 1, 11, 9}, {4, 1, 11, 5}, {2, 0, 12, 8}, true},
    };
    constexpr int W = 20, H = 10, Pitch = 2 * W + 6;
    std::vector<BYTE> sourceBits(Pitch * H), targetBits(Pitch * H);
    const PixelPlane source{{sourceBits.data(), Pitch, W, H}, 2};
    const PixelPlane target{{targetBits.data(), Pitch, W, H}, 2};
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            source.Pixels<WORD>(y)[x] = static_cast<WORD>(y << 8 | x);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::fill(targetBits.begin(), targetBits.end(), BYTE{0xEE});
        BlitRect(target, c.full, c.visible, source, c.src, ColorKeyRange{}, c.mirrorX, false);
        const int dw = c.full.right - c.full.left, dh = c.full.bottom - c.full.top;
        const int sw = c.src.right - c.src.left, sh = c.src.bottom - c.src.top;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const bool shown = x >= c.visible.left && x < c.visible.right &&
                                   y >= c.visible.top && y < c.visible.bottom;
                int sx = (x - c.full.left) * sw / dw;
                if (c.mirrorX)
                    sx = sw - 1 - sx;
                const int sy = (y - c.full.top) * sh / dh;
                const WORD expected =
                    shown ? static_cast<WORD>((c.src.top + sy) << 8 | (c.src.left + sx)) : 0xEEEE;
                ASSERT_EQ(target.Pixels<WORD>(y)[x], expected) << x << "," << y;
            }
    }
}

TEST_F(DirectDrawTest, DifferentPixelSizesDoNotBlit) {
    CreateDirectDraw();
    IDirectDrawSurface* a = CreatePlain(4, 4, DDSCAPS_SYSTEMMEMORY, 16);
    IDirectDrawSurface* b = CreatePlain(4, 4, DDSCAPS_SYSTEMMEMORY, 32);
    EXPECT_EQ(a->Blt(nullptr, b, nullptr, 0, nullptr), DDERR_INVALIDPIXELFORMAT);
    EXPECT_EQ(a->BltFast(0, 0, b, nullptr, 0), DDERR_INVALIDPIXELFORMAT);
    a->Release();
    b->Release();
}

} // namespace
