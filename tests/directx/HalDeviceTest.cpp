// The HAL device on the GPU (Mesa's llvmpipe here, through the tests' switch) against the RGB
// device on system-memory twins: the same calls through the COM interfaces, the pixels read
// back with Lock and compared channel by channel.
#include "DirectDrawTestSupport.h"
#include "directx/GpuBlitter.h"
#include "directx/GpuRaster.h"
#include "directx/SoftSurface.h"
#include "directx/d3d.h"
#include "gpu/Renderer.h"

#include <cmath>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace {

const PixelFormat k565 = PixelFormat::Masks(16, 0xF800, 0x07E0, 0x001F, 0);
const PixelFormat k8888 = PixelFormat::Masks(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
const PixelFormat k888 = PixelFormat::Masks(32, 0xFF0000, 0xFF00, 0xFF, 0); // no alpha
const PixelFormat k4444 = PixelFormat::Masks(16, 0x0F00, 0x00F0, 0x000F, 0xF000);
const PixelFormat kPal8 = PixelFormat::Masks(8, 0, 0, 0, 0);
constexpr DWORD kVideo = DDSCAPS_VIDEOMEMORY, kSystem = DDSCAPS_SYSTEMMEMORY;

std::uint32_t Lcg(std::uint32_t& seed) {
    seed = seed * 134775813u + 1;
    return seed >> 8;
}

// The engine's spinning square as a strip: corners TL, TR, BL, BR.
std::vector<D3DTLVERTEX> Square(double cx, double cy, double half, double degrees, DWORD color,
                                float rhw = 0.5f, float z = 0.5f) {
    const double a = degrees * std::numbers::pi / 180;
    const double bx = half * std::sin(a), by = -half * std::cos(a), ex = -by, ey = bx;
    const double px[4] = {cx + bx - ex, cx + bx + ex, cx - bx - ex, cx - bx + ex};
    const double py[4] = {cy + by - ey, cy + by + ey, cy - by - ey, cy - by + ey};
    std::vector<D3DTLVERTEX> out;
    for (int i = 0; i < 4; ++i)
        out.push_back({float(px[i]), float(py[i]), z, rhw, color, 0, float(i & 1), float(i >> 1)});
    return out;
}

struct Draw {
    D3DPRIMITIVETYPE type;
    std::vector<D3DTLVERTEX> vertices;
    std::vector<std::pair<D3DRENDERSTATETYPE, DWORD>> states; // set before this draw
};

// One scene: a target, optionally a texture and Z-buffer, the states and the draws.
struct Scene {
    const char* name;
    int targetBits = 16;
    std::optional<PixelFormat> texture;
    bool keyed = false;
    bool zBuffer = false;
    std::optional<D3DVIEWPORT2> viewport; // none: the whole target
    std::vector<Draw> draws;
};

IDirect3DTexture2* AsTexture(IDirectDrawSurface* surface) {
    IDirect3DTexture2* texture = nullptr;
    EXPECT_EQ(surface->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&texture)),
              DD_OK);
    return texture;
}

// A device of one kind on its target, with everything it needs, released at the end.
struct Rig {
    IDirectDraw2* dd;
    std::vector<IUnknown*> owned;
    std::vector<IDirectDrawSurface*> surfaces;
    IDirectDrawSurface* target = nullptr;
    IDirectDrawSurface* texture = nullptr;
    IDirect3DDevice2* device = nullptr;
    IDirect3DViewport2* viewport = nullptr;
    D3DTEXTUREHANDLE handle = 0;
    HRESULT created = DD_OK; // the device's creation

    template <typename T> T* Keep(T* object) {
        owned.push_back(object);
        return object;
    }
    IDirectDrawSurface* Surface(int w, int h, DWORD caps, const PixelFormat* format, DWORD z = 0) {
        DDSURFACEDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags =
            DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | (z ? DDSD_ZBUFFERBITDEPTH : DDSD_PIXELFORMAT);
        desc.dwWidth = w;
        desc.dwHeight = h;
        desc.dwZBufferBitDepth = z;
        desc.ddsCaps.dwCaps = caps;
        if (format)
            desc.ddpfPixelFormat = format->ToDD();
        IDirectDrawSurface* s = nullptr;
        EXPECT_EQ(dd->CreateSurface(&desc, &s, nullptr), DD_OK);
        surfaces.push_back(s);
        return Keep(s);
    }
    Rig(IDirectDraw2* dd, const Scene& scene, REFCLSID kind, DWORD memory) : dd(dd) {
        const PixelFormat format = PixelFormat::ForDisplay(scene.targetBits);
        target = Surface(96, 80, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | memory, &format);
        if (scene.zBuffer || kind == IID_IDirect3DHALDevice) {
            IDirectDrawSurface* z = Surface(96, 80, DDSCAPS_ZBUFFER | memory, nullptr, 16);
            EXPECT_EQ(target->AddAttachedSurface(z), DD_OK);
        }
        IDirect3D2* d3d = nullptr;
        EXPECT_EQ(dd->QueryInterface(IID_IDirect3D2, reinterpret_cast<void**>(&d3d)), DD_OK);
        Keep(d3d);
        if ((created = d3d->CreateDevice(kind, target, &device)) != DD_OK)
            return;
        Keep(device);
        EXPECT_EQ(d3d->CreateViewport(&viewport, nullptr), DD_OK);
        Keep(viewport);
        EXPECT_EQ(device->AddViewport(viewport), DD_OK);
        EXPECT_EQ(device->SetCurrentViewport(viewport), DD_OK);
        D3DVIEWPORT2 vp = scene.viewport.value_or(
            D3DVIEWPORT2{sizeof(D3DVIEWPORT2), 0, 0, 96, 80, 0, 0, 0, 0, 0, 1});
        EXPECT_EQ(viewport->SetViewport2(&vp), DD_OK);
        if (scene.texture)
            texture = Texture(*scene.texture, 16, 16, memory, scene.keyed);
        Gradient();
    }
    IDirectDrawSurface* Texture(const PixelFormat& f, int w, int h, DWORD memory, bool keyed) {
        IDirectDrawSurface* t = Surface(w, h, DDSCAPS_TEXTURE | memory, &f);
        std::uint32_t seed = 99;
        const DWORD bits = f.Palettized() ? 0xFF : f.ColorBits();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                DWORD v = Lcg(seed) & bits;
                v = keyed && (x + 2 * y) % 5 == 0 ? 0 : (v ? v : 1);
                WritePixel(t, x, y, v);
            }
        if (f.Palettized()) {
            PALETTEENTRY entries[256];
            for (auto& e : entries)
                e = {BYTE(Lcg(seed)), BYTE(Lcg(seed)), BYTE(Lcg(seed)), 0};
            IDirectDrawPalette* palette = nullptr;
            EXPECT_EQ(dd->CreatePalette(DDPCAPS_8BIT, entries, &palette, nullptr), DD_OK);
            Keep(palette);
            EXPECT_EQ(t->SetPalette(palette), DD_OK);
        }
        DDCOLORKEY key{0, 0};
        EXPECT_EQ(t->SetColorKey(DDCKEY_SRCBLT, keyed ? &key : nullptr), DD_OK);
        EXPECT_EQ(Keep(AsTexture(t))->GetHandle(device, &handle), DD_OK);
        return t;
    }
    // A background that shows what blends and keys leave.
    void Gradient() {
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 96; ++x)
                WritePixel(target, x, y, (x * 613 + y * 1987) & 0xFFFF);
    }
    void Run(const Scene& scene) {
        if (scene.zBuffer) {
            D3DRECT all{0, 0, 96, 80};
            EXPECT_EQ(viewport->Clear(1, &all, D3DCLEAR_ZBUFFER), DD_OK);
        }
        EXPECT_EQ(device->SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, texture ? handle : 0),
                  DD_OK);
        for (const Draw& d : scene.draws) {
            for (const auto& [state, value] : d.states)
                EXPECT_EQ(device->SetRenderState(state, value), DD_OK);
            auto v = d.vertices;
            EXPECT_EQ(device->DrawPrimitive(d.type, D3DVT_TLVERTEX, v.data(), DWORD(v.size()), 0),
                      DD_OK);
        }
    }
    ~Rig() {
        for (auto it = owned.rbegin(); it != owned.rend(); ++it)
            (*it)->Release();
    }
};

// The surface's pixels, row by row, through locks.
std::vector<DWORD> Pixels(IDirectDrawSurface* surface, int width = 96, int height = 80) {
    std::vector<DWORD> pixels;
    for (int i = 0; i < width * height; ++i)
        pixels.push_back(ReadPixel(surface, i % width, i / width));
    return pixels;
}

// Pixels more than two steps apart in any channel, those not excused, and the pixels the
// software device changed.
struct Difference {
    int far = 0, changed = 0, farFromEdges = 0;
    std::string first;
};

Difference Compare(IDirectDrawSurface* gpu, IDirectDrawSurface* soft, IDirectDrawSurface* before,
                   const PixelFormat& f) {
    Difference d;
    const std::vector<DWORD> a = Pixels(gpu), b = Pixels(soft), old = Pixels(before);
    std::vector<bool> touched(96 * 80);
    for (int i = 0; i < 96 * 80; ++i)
        d.changed += touched[i] = b[i] != old[i];
    const auto close = [&](DWORD p, DWORD q) {
        for (DWORD mask : {f.rMask, f.gMask, f.bMask}) {
            const MaskChannel c = MaskChannel::Of(mask);
            if (std::abs(int((p >> c.shift) & c.Max()) - int((q >> c.shift) & c.Max())) > 2)
                return false;
        }
        return true;
    };
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 96; ++x) {
            const int at = y * 96 + x;
            if (close(a[at], b[at]))
                continue;
            if (d.far++ == 0)
                d.first = "at " + std::to_string(x) + "," + std::to_string(y);
            // Excused: an edge pixel (one the software device drew beside one it left), or a
            // texel choice on a texel boundary (what the software device shows next door).
            bool excused = x == 0 || y == 0 || x == 95 || y == 79;
            for (int n : {at - 97, at - 96, at - 95, at - 1, at + 1, at + 95, at + 96, at + 97})
                excused = excused || touched[n] != touched[at] || close(a[at], b[n]);
            d.farFromEdges += !excused;
        }
    return d;
}

class HalDeviceTest : public DirectDrawTest {
protected:
    void SetUp() override {
        road.emplace();
        ASSERT_EQ(road->Failure(), "");
        ASSERT_NE(GpuRaster::Get(), nullptr) << GpuRaster::WhyNot();
        DirectDrawTest::SetUp();
        CreateDirectDraw();
    }
    void TearDown() override {
        DirectDrawTest::TearDown();
        road.reset();
    }
    // The scene drawn by the HAL device on the GPU and the RGB device in system memory.
    void Both(const Scene& scene) {
        SCOPED_TRACE(scene.name);
        Rig gpu(dd, scene, IID_IDirect3DHALDevice, kVideo);
        Rig soft(dd, scene, IID_IDirect3DRGBDevice, kSystem);
        Rig before(dd, scene, IID_IDirect3DRGBDevice, kSystem);
        ASSERT_EQ(gpu.created, DD_OK);
        ASSERT_TRUE(static_cast<SoftSurface*>(gpu.target)->OnGpu());
        gpu.Run(scene);
        soft.Run(scene);
        const Difference d = Compare(gpu.target, soft.target, before.target,
                                     PixelFormat::ForDisplay(scene.targetBits));
        EXPECT_GT(d.changed, 100); // something was really drawn
        EXPECT_LE(d.far, 96 * 80 / 200) << scene.name << ": " << d.first;
        EXPECT_EQ(d.farFromEdges, 0) << scene.name << ": " << d.first;
    }
    std::optional<GpuRoad> road;
};

using S = D3DRENDERSTATETYPE;
const S kMag = D3DRENDERSTATE_TEXTUREMAG, kMin = D3DRENDERSTATE_TEXTUREMIN;
const S kBlend = D3DRENDERSTATE_BLENDENABLE, kSrc = D3DRENDERSTATE_SRCBLEND,
        kDst = D3DRENDERSTATE_DESTBLEND, kKey = D3DRENDERSTATE_COLORKEYENABLE,
        kTexBlend = D3DRENDERSTATE_TEXTUREMAPBLEND, kZ = D3DRENDERSTATE_ZENABLE,
        kZFunc = D3DRENDERSTATE_ZFUNC, kZWrite = D3DRENDERSTATE_ZWRITEENABLE,
        kCull = D3DRENDERSTATE_CULLMODE, kShade = D3DRENDERSTATE_SHADEMODE,
        kAddress = D3DRENDERSTATE_TEXTUREADDRESS;

Draw Strip(std::vector<D3DTLVERTEX> v, std::vector<std::pair<S, DWORD>> states = {}) {
    return Draw{D3DPT_TRIANGLESTRIP, std::move(v), std::move(states)};
}

std::vector<D3DTLVERTEX> FanOf(int triangles, double cx, double cy, double radius) {
    std::vector<D3DTLVERTEX> fan{{float(cx), float(cy), 0.5f, 1, 0xFFFFFFFF, 0, 0.5f, 0.5f}};
    for (int i = 0; i <= triangles; ++i) {
        const double a = 2 * std::numbers::pi * i / triangles;
        fan.push_back({float(cx + radius * std::cos(a)), float(cy + radius * std::sin(a)), 0.5f, 1,
                       0xFF000000u | (i * 0x2F4F6Fu & 0xFFFFFF), 0, float(0.5 + std::cos(a) / 2),
                       float(0.5 + std::sin(a) / 2)});
    }
    fan.back() = fan[1];
    return fan;
}

HRESULT DrawSquare(Rig& rig, double cx, double cy, double half, DWORD color) {
    auto v = Square(cx, cy, half, 0, color);
    return rig.device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, v.data(), 4, 0);
}

} // namespace

// One scene a line.
// clang-format off
TEST_F(HalDeviceTest, TexturedSquaresMatchTheSoftwareDeviceForEveryFilterFormatAndAngle) {
    const auto lin = std::pair{kMag, DWORD(D3DFILTER_LINEAR)};
    const auto minLin = std::pair{kMin, DWORD(D3DFILTER_LINEAR)};
    auto wide = Square(47.3, 41.7, 30, 15, ~0u);
    for (auto& p : wide)
        p.tu = p.tu * 3 - 1, p.tv = p.tv * 2.5f - 0.7f;
    const Scene scenes[] = {
        {"565 nearest 0deg", 16, k565, false, false, {}, {Strip(Square(47.3, 41.7, 30, 0, ~0u))}},
        {"565 nearest 37deg", 16, k565, false, false, {}, {Strip(Square(47.3, 41.7, 30, 37, ~0u))}},
        {"565 bilinear 37deg", 16, k565, false, false, {}, {Strip(Square(47.3, 41.7, 30, 37, ~0u), {lin, minLin})}},
        {"32-bit bilinear 123deg", 32, k8888, false, false, {}, {Strip(Square(47.3, 41.7, 30, 123, ~0u), {lin, minLin})}},
        {"palettised texture 20deg", 32, kPal8, false, false, {}, {Strip(Square(47.3, 41.7, 30, 20, ~0u))}},
        {"minified: bilinear min, nearest mag", 16, k565, false, false, {}, {Strip(Square(47.3, 41.7, 6, 10, ~0u), {minLin})}},
        {"clamped, then mirrored", 16, k565, false, false, {},
         {Strip(wide, {{kAddress, D3DTADDRESS_CLAMP}}), Strip(Square(20.2, 20.3, 15, 0, ~0u), {{kAddress, D3DTADDRESS_MIRROR}})}},
    };
    for (const Scene& s : scenes)
        Both(s);
}

TEST_F(HalDeviceTest, BlendsKeysAndTextureBlendsMatchTheSoftwareDevice) {
    const std::vector<std::pair<S, DWORD>> add{{kBlend, TRUE}, {kSrc, D3DBLEND_ONE}, {kDst, D3DBLEND_ONE}};
    const std::vector<std::pair<S, DWORD>> alpha{{kBlend, TRUE}, {kSrc, D3DBLEND_SRCALPHA}, {kDst, D3DBLEND_INVSRCALPHA}};
    auto tinted = Square(47.3, 40.6, 30, 0, 0xFFFF0000);
    tinted[1].color = 0xFF00FF00, tinted[2].color = 0x800000FF, tinted[3].color = 0x40FFFFFF;
    const std::pair<S, DWORD> key{kKey, TRUE};
    const Scene scenes[] = {
        {"added, 565", 16, k565, false, false, {}, {Strip(Square(47.4, 40.3, 28, 0, 0xFF808080), add)}},
        {"alpha blended tint, 32-bit", 32, k565, false, false, {}, {Strip(Square(47.4, 40.3, 28, 10, 0x80FFC040), alpha)}},
        {"destination alpha, none in the target", 32, k565, false, false, {},
         {Strip(Square(47.4, 40.3, 28, 0, 0x20FFFFFF)),
          Strip(Square(47.4, 40.3, 20, 30, 0x2000FF00), {{kBlend, TRUE}, {kSrc, D3DBLEND_DESTALPHA}, {kDst, D3DBLEND_INVDESTALPHA}})}},
        {"alpha texture blended", 32, k4444, false, false, {}, {Strip(Square(47.4, 40.3, 28, 0, ~0u), alpha)}},
        {"untextured gouraud", 16, std::nullopt, false, false, {}, {Strip(tinted)}},
        {"flat shading", 16, std::nullopt, false, false, {}, {Strip(tinted, {{kShade, D3DSHADE_FLAT}})}},
        {"decal", 16, k565, false, false, {}, {Strip(tinted, {{kTexBlend, D3DTBLEND_DECAL}})}},
        {"copy", 32, k8888, false, false, {}, {Strip(tinted, {{kTexBlend, D3DTBLEND_COPY}})}},
        {"modulate alpha, blended", 32, k4444, false, false, {},
         {Strip(tinted, {{kTexBlend, D3DTBLEND_MODULATEALPHA}, alpha[0], alpha[1], alpha[2]})}},
        {"keyed nearest", 16, k565, true, false, {}, {Strip(Square(48.2, 40.6, 32, 0, ~0u), {key})}},
        {"key off", 16, k565, true, false, {}, {Strip(Square(48.2, 40.6, 32, 0, ~0u))}},
        {"keyed bilinear 32-bit", 32, k8888, true, false, {},
         {Strip(Square(48.2, 40.6, 32, 25, ~0u), {key, {kMag, D3DFILTER_LINEAR}, {kMin, D3DFILTER_LINEAR}})}},
        {"keyed palettised", 16, kPal8, true, false, {}, {Strip(Square(48.2, 40.6, 32, 0, ~0u), {key})}},
        {"keyed bilinear 32-bit without alpha, added", 16, k888, true, false, {},
         {Strip(Square(48.2, 40.6, 32, 25, 0xFFC0C0C0), {key, {kMag, D3DFILTER_LINEAR}, {kMin, D3DFILTER_LINEAR}, add[0], add[1], add[2]})}},
    };
    for (const Scene& s : scenes)
        Both(s);
}

TEST_F(HalDeviceTest, PrimitivesClippingCullingAndDepthMatchTheSoftwareDevice) {
    const std::vector<D3DTLVERTEX> perspective = {{25.3f, 10.2f, 0.9f, 0.25f, ~0u, 0, 0, 0}, {55.3f, 10.2f, 0.9f, 0.25f, ~0u, 0, 1, 0},
                                                  {5, 70, 0.1f, 1.0f, ~0u, 0, 0, 1}, {75, 70, 0.1f, 1.0f, ~0u, 0, 1, 1}};
    const auto list = [](std::vector<D3DTLVERTEX> v) { return std::vector{v[0], v[1], v[2], v[2], v[1], v[3]}; };
    const auto depth = [](D3DCMPFUNC func, DWORD write) {
        return std::vector<Draw>{
            Strip(Square(40, 40, 20, 0, 0xFFFF0000, 0.5f, 0.25f), {{kZ, TRUE}, {kZFunc, func}, {kZWrite, write}}),
            Strip(Square(48, 36, 26, 30, 0xFF00FF00, 0.5f, 0.75f)),
            Strip(Square(50, 44, 16, 60, 0xFF0000FF, 0.5f, 1.7f))}; // beyond the far plane: clamped
    };
    const std::vector<D3DTLVERTEX> counterClockwise{{60, 10, 0.5f, 1, ~0u, 0, 0, 0}, {30, 70, 0.5f, 1, ~0u, 0, 0, 0},
                                                    {90, 70, 0.5f, 1, ~0u, 0, 0, 0}};
    const D3DVIEWPORT2 inner{sizeof(D3DVIEWPORT2), 10, 12, 40, 29, 0, 0, 0, 0, 0, 1};
    const std::vector<std::pair<S, DWORD>> add{{kBlend, TRUE}, {kSrc, D3DBLEND_ONE}, {kDst, D3DBLEND_ONE}};
    const Scene scenes[] = {
        {"perspective", 32, k8888, false, false, {}, {Strip(perspective)}},
        {"rhw 0 everywhere", 16, k565, false, false, {}, {Strip(Square(47.2, 40.7, 30, 33, ~0u, 0.0f))}},
        {"z 2 without a Z test, as the engine draws", 16, k565, false, false, {}, {Strip(Square(47.2, 40.7, 30, 12, ~0u, 0.5f, 2.0f))}},
        {"list", 16, k565, false, false, {}, {{D3DPT_TRIANGLELIST, list(Square(47.2, 40.7, 30, 50, ~0u)), {}}}},
        {"fan of 64", 32, k565, false, false, {}, {{D3DPT_TRIANGLEFAN, FanOf(64, 48.37, 39.81, 35.3), {}}}},
        {"fan of 200 thin ones, added", 32, std::nullopt, false, false, {}, {{D3DPT_TRIANGLEFAN, FanOf(200, 48.5, 40.25, 36), add}}},
        {"over the target's edges", 16, k565, false, false, {}, {Strip(Square(80.3, 70.4, 40, 10, ~0u))}},
        {"inside a viewport", 16, k565, false, false, inner, {Strip(Square(30.4, 26.3, 40, 10, ~0u))}},
        {"cull clockwise", 16, std::nullopt, false, false, {},
         {Strip(Square(40.2, 40.3, 25, 0, 0xFF00FF00), {{kCull, D3DCULL_CW}}), {D3DPT_TRIANGLELIST, counterClockwise, {}}}},
        {"z less-equal", 16, std::nullopt, false, true, {}, depth(D3DCMP_LESSEQUAL, TRUE)},
        {"z not equal", 32, std::nullopt, false, true, {}, depth(D3DCMP_NOTEQUAL, TRUE)},
        {"z without writes", 16, std::nullopt, false, true, {}, depth(D3DCMP_LESS, FALSE)},
    };
    for (const Scene& s : scenes)
        Both(s);
}
// clang-format on

TEST_F(HalDeviceTest, LocksAndBlitsSeeTheDrawsAndTheDrawsSeeLocksAndBlits) {
    const Scene scene{"plain", 16, std::nullopt, false, false, {}, {}};
    Rig rig(dd, scene, IID_IDirect3DHALDevice, kVideo);
    GpuRaster& raster = *GpuRaster::Get();
    // Draws with the same states are one GL draw; a state change starts another.
    const std::uint64_t before = raster.DrawCalls();
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(DrawSquare(rig, 10.3 + i * 7, 10.4, 3, 0xFFFF0000), DD_OK);
    ASSERT_EQ(rig.device->SetRenderState(kShade, D3DSHADE_FLAT), DD_OK); // no GL state
    ASSERT_EQ(DrawSquare(rig, 40.3, 40.4, 10, 0xFF00FF00), DD_OK);
    for (auto [state, value] :
         {std::pair{kBlend, TRUE}, {kSrc, D3DBLEND_ONE}, {kDst, D3DBLEND_ONE}})
        ASSERT_EQ(rig.device->SetRenderState(state, DWORD(value)), DD_OK);
    ASSERT_EQ(DrawSquare(rig, 40.3, 40.4, 2, 0xFF000010), DD_OK);
    EXPECT_EQ(ReadPixel(rig.target, 10, 10), 0xF800u); // the lock sees the draws
    EXPECT_EQ(ReadPixel(rig.target, 40, 40), 0x07E2u);
    EXPECT_EQ(raster.DrawCalls() - before, 2u);
    // A blit reading the target sees them too, on the GPU and into system memory.
    for (DWORD memory : {kVideo, kSystem}) {
        IDirectDrawSurface* copy = CreatePlain(96, 80, memory);
        ASSERT_EQ(copy->Blt(nullptr, rig.target, nullptr, DDBLT_WAIT, nullptr), DD_OK);
        EXPECT_EQ(Pixels(copy), Pixels(rig.target));
        copy->Release();
    }
    // A host write and a GPU fill before the next draw stay where it does not draw.
    WritePixel(rig.target, 90, 5, 0x1234);
    RECT band{0, 70, 96, 80};
    DDBLTFX fx = FillFx(0x001F);
    ASSERT_EQ(rig.target->Blt(&band, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx), DD_OK);
    ASSERT_EQ(DrawSquare(rig, 60.3, 40.4, 5, 0xFFFFFFFF), DD_OK);
    EXPECT_EQ(ReadPixel(rig.target, 90, 5), 0x1234u);
    EXPECT_EQ(ReadPixel(rig.target, 50, 75), 0x001Fu);
    EXPECT_EQ(ReadPixel(rig.target, 60, 40), 0xFFFFu);
    EXPECT_EQ(ReadPixel(rig.target, 10, 10), 0xF800u);
    // The viewport's clear, on the GPU, of the target and the Z-buffer.
    D3DRECT part{0, 0, 48, 80};
    ASSERT_EQ(rig.viewport->Clear(1, &part, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER), DD_OK);
    EXPECT_EQ(ReadPixel(rig.target, 40, 40), 0u);
    EXPECT_EQ(ReadPixel(rig.target, 60, 40), 0xFFFFu);
    IDirectDrawSurface* z = nullptr;
    DDSCAPS caps{DDSCAPS_ZBUFFER};
    ASSERT_EQ(rig.target->GetAttachedSurface(&caps, &z), DD_OK);
    EXPECT_EQ(ReadPixel(z, 10, 10), 0xFFFFu);
    // Depth written on the GPU reads back in the Z-buffer's cells.
    ASSERT_EQ(rig.device->SetRenderState(kZ, TRUE), DD_OK);
    auto v = Square(20.3, 20.4, 5, 0, 0xFFFFFFFF, 0.5f, 0.25f);
    ASSERT_EQ(rig.device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, v.data(), 4, 0),
              DD_OK);
    EXPECT_NEAR(double(ReadPixel(z, 20, 20)), 0.25 * 65535, 2);
    EXPECT_EQ(ReadPixel(z, 40, 40), 0xFFFFu);
    z->Release();
}

TEST_F(HalDeviceTest, TextureLoadUploadsAndCopiesBetweenVideoMemoryOnTheGpu) {
    const Scene scene{
        "loaded", 16, k565, false, false, {}, {Strip(Square(47.3, 41.7, 30, 21, ~0u))}};
    Rig soft(dd, scene, IID_IDirect3DRGBDevice, kSystem);
    soft.Run(scene);
    Rig gpu(dd, Scene{"empty", 16, std::nullopt, false, false, {}, {}}, IID_IDirect3DHALDevice,
            kVideo);
    IDirectDrawSurface* work = gpu.Texture(k565, 16, 16, kSystem, false);
    IDirectDrawSurface* first = gpu.Surface(16, 16, DDSCAPS_TEXTURE | kVideo, &k565);
    IDirectDrawSurface* second = gpu.Surface(16, 16, DDSCAPS_TEXTURE | kVideo, &k565);
    ASSERT_TRUE(static_cast<SoftSurface*>(second)->OnGpu());
    IDirect3DTexture2* fromWork = gpu.Keep(AsTexture(work));
    IDirect3DTexture2* loaded = gpu.Keep(AsTexture(first));
    ASSERT_EQ(loaded->Load(fromWork), DD_OK);                    // an upload
    ASSERT_EQ(gpu.Keep(AsTexture(second))->Load(loaded), DD_OK); // a copy on the GPU
    EXPECT_EQ(Pixels(second, 16, 16), Pixels(work, 16, 16));
    gpu.texture = second;
    ASSERT_EQ(gpu.Keep(AsTexture(second))->GetHandle(gpu.device, &gpu.handle), DD_OK);
    gpu.Run(scene);
    const Difference d = Compare(gpu.target, soft.target, gpu.target, k565);
    EXPECT_LE(d.far, 96 * 80 / 200) << d.first;
}

TEST_F(HalDeviceTest, LostSurfacesAndAGpuResetLeaveADeviceThatDrawsAgain) {
    const Scene scene{"plain", 16, std::nullopt, false, false, {}, {}};
    Rig rig(dd, scene, IID_IDirect3DHALDevice, kVideo);
    ASSERT_EQ(DrawSquare(rig, 20.3, 20.4, 5, 0xFFFF0000), DD_OK);
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "lost");
        if (reset) {
            gpu::SimulateResetForTests();
            EXPECT_FALSE(GpuBlitter::Get()->EndFrame()); // every surface lost
        } else {
            Adapter().LoseAllSurfaces();
        }
        EXPECT_EQ(rig.target->IsLost(), DDERR_SURFACELOST);
        EXPECT_EQ(DrawSquare(rig, 40.3, 40.4, 5, 0xFF00FF00), DDERR_SURFACELOST);
        for (IDirectDrawSurface* s : rig.surfaces)
            EXPECT_EQ(s->Restore(), DD_OK);
        rig.Gradient(); // the owner draws what it had again
        ASSERT_EQ(DrawSquare(rig, 40.3, 40.4, 5, 0xFF00FF00), DD_OK);
        EXPECT_EQ(ReadPixel(rig.target, 40, 40), 0x07E0u);
        EXPECT_EQ(ReadPixel(rig.target, 5, 60), (5 * 613 + 60 * 1987) & 0xFFFFu);
    }
}

TEST_F(DirectDrawTest, TheGpuDeviceThatCannotStartKeepsDirect3DSurfacesOnTheHost) {
    // clang-format off
    struct Case { const char* name; bool shaderFault; DWORD caps; int bits; bool onGpu; } cases[] = {
        {"16-bit target", false, DDSCAPS_3DDEVICE, 16, true}, {"32-bit target", false, DDSCAPS_3DDEVICE, 32, true},
        {"24-bit target", false, DDSCAPS_3DDEVICE, 24, false}, {"8-bit target", false, DDSCAPS_3DDEVICE, 8, false},
        {"texture", false, DDSCAPS_TEXTURE, 16, true}, {"8-bit texture", false, DDSCAPS_TEXTURE, 8, true},
        {"target, shaders broken", true, DDSCAPS_3DDEVICE, 16, false},
        {"plain surface, shaders broken", true, DDSCAPS_OFFSCREENPLAIN, 16, true},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GpuRoad road;
        ASSERT_EQ(road.Failure(), "");
        if (c.shaderFault) { // the device back end starts again, and fails
            GpuRaster::ForgetForTests();
            gpu::InjectStartFault(gpu::StartFault::Shader);
            Adapter().Reset();
        }
        EXPECT_EQ(GpuRaster::Get() == nullptr, c.shaderFault);
        EXPECT_EQ(Adapter().direct3d.Device(DeviceKind::HAL).available, !c.shaderFault);
        EXPECT_EQ(GpuRaster::WhyNot().find("shaders") != std::string::npos, c.shaderFault);
        CreateDirectDraw();
        IDirectDrawSurface* s = CreatePlain(16, 16, kVideo | c.caps, c.bits);
        EXPECT_EQ(static_cast<SoftSurface*>(s)->OnGpu(), c.onGpu);
        if (c.caps == DDSCAPS_3DDEVICE && c.bits == 16) { // no HAL device without the GPU's
            Rig rig(dd, Scene{"device", 16, {}, false, false, {}, {}}, IID_IDirect3DHALDevice,
                    kVideo);
            EXPECT_EQ(rig.created == DD_OK, !c.shaderFault);
        }
        s->Release();
        dd->Release();
        dd1->Release();
        dd = nullptr;
        dd1 = nullptr;
    }
}
