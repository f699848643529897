// Direct3D and Direct3D RM on the software DirectDraw: device kinds and their fall-back,
// viewports and Clear, render states, texture formats, textures, drawing through devices,
// reference counts, fault injection, and a picture presented in a window.
#include "DirectDrawTestSupport.h"
#include "directx/d3d.h"
#include "directx/d3drm.h"
#include "forms/Forms.h"
#include "tests/CardWith3D.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr DWORD kVideo = DDSCAPS_VIDEOMEMORY;
constexpr DWORD kSystem = DDSCAPS_SYSTEMMEMORY;

class Direct3DTest : public DirectDrawTest {
protected:
    void TearDown() override {
        for (IUnknown* object : owned)
            object->Release();
        owned.clear();
        DirectDrawTest::TearDown();
        dd = nullptr;
        dd1 = nullptr;
    }
    template <typename T> T* Keep(T* object) {
        if (object)
            owned.insert(owned.begin(), object); // released newest first
        return object;
    }
    IDirectDrawSurface* Surface(int width, int height, DWORD caps, int bits = 16,
                                const DDPIXELFORMAT* format = nullptr) {
        DDSURFACEDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
        desc.dwWidth = width;
        desc.dwHeight = height;
        desc.ddsCaps.dwCaps = caps;
        desc.ddpfPixelFormat = format ? *format : PixelFormat::ForDisplay(bits).ToDD();
        IDirectDrawSurface* surface = nullptr;
        EXPECT_EQ(dd->CreateSurface(&desc, &surface, nullptr), DD_OK);
        return surface;
    }
    IDirectDrawSurface* ZBuffer(int width, int height, DWORD memory, DWORD depth = 16) {
        DDSURFACEDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_ZBUFFERBITDEPTH;
        desc.dwWidth = width;
        desc.dwHeight = height;
        desc.dwZBufferBitDepth = depth;
        desc.ddsCaps.dwCaps = DDSCAPS_ZBUFFER | memory;
        IDirectDrawSurface* surface = nullptr;
        EXPECT_EQ(dd->CreateSurface(&desc, &surface, nullptr), DD_OK);
        return surface;
    }
    IDirect3D2* Direct3D() {
        IDirect3D2* d3d = nullptr;
        EXPECT_EQ(dd->QueryInterface(IID_IDirect3D2, reinterpret_cast<void**>(&d3d)), DD_OK);
        return d3d;
    }
    // A render target with a Z-buffer, a device on it, a viewport over all of it.
    void Scene(int width, int height, REFCLSID kind = IID_IDirect3DRGBDevice, int bits = 16,
               DWORD memory = kSystem) {
        CreateDirectDraw();
        target =
            Keep(Surface(width, height, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | memory, bits));
        depth = Keep(ZBuffer(width, height, memory));
        ASSERT_EQ(target->AddAttachedSurface(depth), DD_OK);
        d3d = Keep(Direct3D());
        ASSERT_EQ(d3d->CreateDevice(kind, target, &device), DD_OK);
        Keep(device);
        ASSERT_EQ(d3d->CreateViewport(&viewport, nullptr), DD_OK);
        Keep(viewport);
        ASSERT_EQ(device->AddViewport(viewport), DD_OK);
        ASSERT_EQ(device->SetCurrentViewport(viewport), DD_OK);
        D3DVIEWPORT2 vp{44, 0, 0, DWORD(width), DWORD(height), 0, 0, float(width), float(height),
                        0,  1};
        ASSERT_EQ(viewport->SetViewport2(&vp), DD_OK);
    }
    std::vector<IUnknown*> owned;
    IDirectDrawSurface* target = nullptr;
    IDirectDrawSurface* depth = nullptr;
    IDirect3D2* d3d = nullptr;
    IDirect3DDevice2* device = nullptr;
    IDirect3DViewport2* viewport = nullptr;
};

std::vector<D3DTLVERTEX> Rect(float l, float t, float r, float b, DWORD color, float z = 0.5f) {
    return {{l, t, z, 0.5f, color, 0, 0, 0},
            {r, t, z, 0.5f, color, 0, 1, 0},
            {l, b, z, 0.5f, color, 0, 0, 1},
            {r, b, z, 0.5f, color, 0, 1, 1}};
}

const IID* const kChain[4] = {&IID_IDirect3DHALDevice, &IID_IDirect3DMMXDevice,
                              &IID_IDirect3DRGBDevice, &IID_IDirect3DRampDevice};

} // namespace

TEST_F(Direct3DTest, DeviceKindsFallBackFromHalToRampAsTheSurfacesAndAdapterAllow) {
    struct Case {
        const char* name;
        DWORD backMemory, zMemory;
        bool driverWithout3D;
        std::vector<const char*> faults; // per-kind creation faults
        std::vector<DeviceKind> missing;
        int expected; // index into kChain of the first kind that works; -1 none
        HRESULT halResult;
    } cases[] = {
        {"all in video memory", kVideo, kVideo, false, {}, {}, 0, DD_OK},
        {"system memory target", kSystem, kSystem, false, {}, {}, 1, D3DERR_SURFACENOTINVIDMEM},
        {"Z-buffer in system memory",
         kVideo,
         kSystem,
         false,
         {},
         {},
         1,
         D3DERR_ZBUFF_NEEDS_VIDEOMEMORY},
        {"driver without 3-D", kVideo, kVideo, true, {}, {}, 1, D3DERR_INVALID_DEVICE},
        {"HAL fails, no MMX", kVideo, kVideo, false, {"HAL"}, {DeviceKind::MMX}, 2, DDERR_GENERIC},
        {"only Ramp works",
         kSystem,
         kSystem,
         false,
         {"MMX", "RGB"},
         {},
         3,
         D3DERR_SURFACENOTINVIDMEM},
        {"nothing offered",
         kSystem,
         kSystem,
         false,
         {},
         {DeviceKind::HAL, DeviceKind::MMX, DeviceKind::RGB, DeviceKind::Ramp},
         -1,
         D3DERR_INVALID_DEVICE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Adapter().Reset();
        if (!c.driverWithout3D)
            OfferHardware3D();
        for (const char* kind : c.faults)
            Adapter().FailNext(std::string("IDirect3D2::CreateDevice(") + kind + ")", 1,
                               DDERR_GENERIC);
        for (DeviceKind kind : c.missing)
            Adapter().direct3d.Device(kind).available = false;
        CreateDirectDraw();
        IDirectDrawSurface* back =
            Surface(64, 48, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | c.backMemory);
        IDirectDrawSurface* z = ZBuffer(64, 48, c.zMemory);
        ASSERT_EQ(back->AddAttachedSurface(z), DD_OK);
        IDirect3D2* direct3d = Direct3D();
        int got = -1;
        HRESULT hal = 1;
        for (int i = 0; i < 4 && got < 0; ++i) {
            IDirect3DDevice2* dev = nullptr;
            const HRESULT r = direct3d->CreateDevice(*kChain[i], back, &dev);
            if (i == 0)
                hal = r;
            if (r == DD_OK) {
                got = i;
                EXPECT_EQ(dev->Release(), 0u);
            } else {
                EXPECT_EQ(dev, nullptr);
            }
        }
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(hal, c.halResult);
        EXPECT_EQ(direct3d->Release(), 0u);
        z->Release();
        back->Release();
        dd->Release();
        dd = nullptr;
        dd1->Release();
        dd1 = nullptr;
    }
}

TEST_F(Direct3DTest, DevicesRefuseSurfacesTheyCannotDrawOn) {
    CreateDirectDraw();
    IDirect3D2* direct3d = Keep(Direct3D());
    struct Case {
        const char* name;
        IDirectDrawSurface* surface;
        const IID* kind;
        HRESULT expected;
    } cases[] = {
        {"no 3-D device capability", Keep(Surface(8, 8, DDSCAPS_OFFSCREENPLAIN | kSystem)),
         &IID_IDirect3DRGBDevice, DDERR_INVALIDCAPS},
        {"unknown device", Keep(Surface(8, 8, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | kSystem)),
         &IID_IDirectDraw2, D3DERR_INVALID_DEVICE},
        {"8-bit target",
         Keep(Surface(8, 8, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | kSystem, 8)),
         &IID_IDirect3DRampDevice, DD_OK},
        {"32-bit target",
         Keep(Surface(8, 8, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | kSystem, 32)),
         &IID_IDirect3DMMXDevice, DD_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IDirect3DDevice2* dev = nullptr;
        EXPECT_EQ(direct3d->CreateDevice(*c.kind, c.surface, &dev), c.expected);
        if (dev) {
            EXPECT_EQ(dev->Release(), 0u);
        }
    }
    IDirect3DDevice2* dev = nullptr;
    EXPECT_EQ(direct3d->CreateDevice(IID_IDirect3DRGBDevice, nullptr, &dev), DDERR_INVALIDPARAMS);
}

TEST_F(Direct3DTest, ReleaseCountsFollowTheEnginesOrderDownToZero) {
    OfferHardware3D();
    CreateDirectDraw();
    IDirectDrawSurface* back = Surface(32, 32, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | kVideo);
    IDirectDrawSurface* z = ZBuffer(32, 32, kVideo);
    ASSERT_EQ(back->AddAttachedSurface(z), DD_OK);

    IDirect3DRM* rm1 = nullptr;
    ASSERT_EQ(Direct3DRMCreate(&rm1), DD_OK);
    IDirect3DRM2* rm = nullptr;
    ASSERT_EQ(rm1->QueryInterface(IID_IDirect3DRM2, reinterpret_cast<void**>(&rm)), DD_OK);
    EXPECT_EQ(rm1->Release(), 0u); // the first interface's own count

    IDirect3D2* direct3d = Direct3D();
    IDirect3D2* again = Direct3D(); // every QueryInterface counts
    EXPECT_EQ(again->Release(), 1u);
    IDirect3DDevice2* dev = nullptr;
    ASSERT_EQ(direct3d->CreateDevice(IID_IDirect3DHALDevice, back, &dev), DD_OK);
    IDirect3DRMDevice2* rmDevice = nullptr;
    ASSERT_EQ(rm->CreateDeviceFromD3D(direct3d, dev, &rmDevice), DD_OK);
    EXPECT_EQ(rmDevice->SetBufferCount(2), DD_OK);
    EXPECT_EQ(rmDevice->GetBufferCount(), 2u);

    // The scene's viewport is never released; it must not hold the device or DirectDraw.
    IDirect3DViewport2* vp = nullptr;
    ASSERT_EQ(direct3d->CreateViewport(&vp, nullptr), DD_OK);
    ASSERT_EQ(dev->AddViewport(vp), DD_OK);
    ASSERT_EQ(dev->SetCurrentViewport(vp), DD_OK);

    // A texture's interface is asked for, used and released at once.
    DDPIXELFORMAT f565 = TextureFormat(16, 0xF800, 0x07E0, 0x001F);
    IDirectDrawSurface* tex = Surface(8, 8, DDSCAPS_TEXTURE | kSystem, 16, &f565);
    IDirect3DTexture2* texture = nullptr;
    ASSERT_EQ(tex->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&texture)),
              DD_OK);
    D3DTEXTUREHANDLE handle = 0;
    ASSERT_EQ(texture->GetHandle(dev, &handle), DD_OK);
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(texture->Release(), 0u);

    // The engine's release order, each final release answering 0.
    EXPECT_EQ(rmDevice->Release(), 0u);
    EXPECT_EQ(dev->Release(), 0u);
    EXPECT_EQ(rm->Release(), 0u);
    EXPECT_EQ(direct3d->Release(), 0u);
    EXPECT_EQ(vp->Release(), 0u); // the device gave its reference back
    tex->Release();
    z->Release();
    back->Release();
    EXPECT_EQ(dd->Release(), 0u);
    dd = nullptr;
    EXPECT_EQ(dd1->Release(), 0u);
    dd1 = nullptr;
}

TEST_F(Direct3DTest, ViewportClearFillsTargetAndDepthInsideTheViewportOnly) {
    Scene(40, 30);
    WritePixel(target, 0, 0, 0x1234);
    struct Case {
        const char* name;
        DWORD flags;
        D3DRECT rect;
        DWORD expectedInside; // target pixel (5, 5)
    } cases[] = {
        {"target only", D3DCLEAR_TARGET, {0, 0, 40, 30}, 0},
        {"both", D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, {2, 2, 100, 100}, 0},
        {"depth only", D3DCLEAR_ZBUFFER, {0, 0, 40, 30}, 0xFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                WritePixel(target, x, y, 0xFFFF);
                WritePixel(depth, x, y, 0x1111);
            }
        // The viewport covers x 4..24, y 3..18.
        D3DVIEWPORT2 vp{44, 4, 3, 20, 15, 0, 0, 20, 15, 0, 1};
        ASSERT_EQ(viewport->SetViewport2(&vp), DD_OK);
        D3DRECT rect = c.rect;
        ASSERT_EQ(viewport->Clear(1, &rect, c.flags), DD_OK);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                const bool inside = x >= std::max<LONG>(4, rect.x1) && x < 24 &&
                                    y >= std::max<LONG>(3, rect.y1) && y < 18;
                ASSERT_EQ(ReadPixel(target, x, y), inside ? c.expectedInside : 0xFFFFu)
                    << x << "," << y;
                const bool zCleared = inside && (c.flags & D3DCLEAR_ZBUFFER);
                ASSERT_EQ(ReadPixel(depth, x, y), zCleared ? 0xFFFFu : 0x1111u) << x << "," << y;
            }
    }
    EXPECT_EQ(viewport->Clear(1, nullptr, D3DCLEAR_TARGET), DDERR_INVALIDPARAMS);
    D3DRECT all{0, 0, 40, 30};
    EXPECT_EQ(viewport->Clear(1, &all, 0), DDERR_INVALIDPARAMS);

    // A viewport needs a device before its data, and its data before a clear.
    IDirect3DViewport2* loose = nullptr;
    ASSERT_EQ(d3d->CreateViewport(&loose, nullptr), DD_OK);
    D3DVIEWPORT2 vp{44, 0, 0, 10, 10, 0, 0, 10, 10, 0, 1};
    EXPECT_EQ(loose->SetViewport2(&vp), D3DERR_VIEWPORTHASNODEVICE);
    EXPECT_EQ(loose->Clear(1, &all, D3DCLEAR_TARGET), D3DERR_VIEWPORTHASNODEVICE);
    ASSERT_EQ(device->AddViewport(loose), DD_OK);
    EXPECT_EQ(loose->Clear(1, &all, D3DCLEAR_TARGET), D3DERR_VIEWPORTDATANOTSET);
    vp.dwSize = 40;
    EXPECT_EQ(loose->SetViewport2(&vp), DDERR_INVALIDPARAMS);
    EXPECT_EQ(device->AddViewport(loose), DDERR_INVALIDPARAMS); // already added
    EXPECT_EQ(device->DeleteViewport(loose), DD_OK);
    EXPECT_EQ(loose->Release(), 0u);
}

namespace {

struct Seen {
    std::vector<DDPIXELFORMAT> formats;
    std::size_t stopAfter = 100;
};

HRESULT Collect(LPDDSURFACEDESC desc, LPVOID context) {
    auto* seen = static_cast<Seen*>(context);
    EXPECT_EQ(desc->dwSize, 108u);
    EXPECT_TRUE(desc->dwFlags & DDSD_PIXELFORMAT);
    seen->formats.push_back(desc->ddpfPixelFormat);
    return seen->formats.size() >= seen->stopAfter ? DDENUMRET_CANCEL : DDENUMRET_OK;
}

std::vector<DWORD> Bits(const std::vector<DDPIXELFORMAT>& formats) {
    std::vector<DWORD> bits;
    for (const auto& f : formats)
        bits.push_back(f.dwRGBBitCount * 0x10 + ((f.dwFlags & DDPF_ALPHAPIXELS) ? 1 : 0));
    return bits;
}

} // namespace

TEST_F(Direct3DTest, TextureFormatsComeInTheAdaptersOrderUntilTheCallbackStops) {
    struct Case {
        const char* name;
        const IID* kind;
        bool withoutAlpha;
        std::size_t stopAfter;
        std::vector<DWORD> expected; // bit count * 16 + has alpha
    } cases[] = {
        {"RGB, all",
         &IID_IDirect3DRGBDevice,
         false,
         100,
         {0x80, 0x100, 0x100, 0x101, 0x101, 0x180, 0x200, 0x201}},
        {"stopped after two", &IID_IDirect3DRGBDevice, false, 2, {0x80, 0x100}},
        {"no alpha formats",
         &IID_IDirect3DMMXDevice,
         true,
         100,
         {0x80, 0x100, 0x100, 0x180, 0x200}},
        {"ramp: palettised only", &IID_IDirect3DRampDevice, false, 100, {0x80}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Adapter().Reset();
        if (c.withoutAlpha)
            Adapter().direct3d.RemoveAlphaTextureFormats();
        Scene(8, 8, *c.kind);
        Seen seen;
        seen.stopAfter = c.stopAfter;
        ASSERT_EQ(device->EnumTextureFormats(&Collect, &seen), DD_OK);
        EXPECT_EQ(Bits(seen.formats), c.expected);
        TearDown();
    }
    // Tests may set the list outright.
    Adapter().Reset();
    Adapter().direct3d.Device(DeviceKind::RGB).textureFormats = {
        TextureFormat(32, 0xFF0000, 0xFF00, 0xFF), TextureFormat(16, 0xF800, 0x07E0, 0x1F)};
    Scene(8, 8);
    Seen seen;
    device->EnumTextureFormats(&Collect, &seen);
    EXPECT_EQ(Bits(seen.formats), (std::vector<DWORD>{0x200, 0x100}));
    EXPECT_EQ(device->EnumTextureFormats(nullptr, nullptr), DDERR_INVALIDPARAMS);
}

TEST_F(Direct3DTest, DrawPrimitiveShowsTexelsTintsAndKeysOnTheTarget) {
    Scene(32, 32);
    DDPIXELFORMAT f565 = TextureFormat(16, 0xF800, 0x07E0, 0x001F);
    IDirectDrawSurface* tex = Keep(Surface(4, 4, DDSCAPS_TEXTURE | kSystem, 16, &f565));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            WritePixel(tex, x, y, (x + y) % 3 == 0 ? 0 : (x < 2 ? 0xF800 : 0x07E0));
    DDCOLORKEY key{0, 0};
    ASSERT_EQ(tex->SetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
    IDirect3DTexture2* texture = nullptr;
    ASSERT_EQ(tex->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&texture)),
              DD_OK);
    D3DTEXTUREHANDLE handle = 0;
    ASSERT_EQ(texture->GetHandle(device, &handle), DD_OK);
    D3DTEXTUREHANDLE same = 0;
    ASSERT_EQ(texture->GetHandle(device, &same), DD_OK);
    EXPECT_EQ(same, handle);
    texture->Release();

    struct Case {
        const char* name;
        bool colorKey;
        DWORD tint;
        DWORD keyedPixel, red, green; // expected at a keyed texel, a red one, a green one
    } cases[] = {
        {"white, keyed", true, 0xFFFFFFFF, 0x001F, 0xF800, 0x07E0},
        {"white, keying off", false, 0xFFFFFFFF, 0x0000, 0xF800, 0x07E0},
        {"half tint", true, 0xFF808080, 0x001F, 0x8000, 0x0400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                WritePixel(target, x, y, 0x001F);
        ASSERT_EQ(device->SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, handle), DD_OK);
        ASSERT_EQ(device->SetRenderState(D3DRENDERSTATE_COLORKEYENABLE, c.colorKey), DD_OK);
        // Accepted although a software device does nothing with them.
        EXPECT_EQ(device->SetRenderState(D3DRENDERSTATE_DITHERENABLE, FALSE), DD_OK);
        EXPECT_EQ(device->SetRenderState(D3DRENDERSTATE_STIPPLEDALPHA, FALSE), DD_OK);
        auto quad = Rect(0, 0, 32, 32, c.tint);
        ASSERT_EQ(
            device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, quad.data(), 4, D3DDP_WAIT),
            DD_OK);
        // Texel (tx, ty) covers pixels 8tx..8tx+7.
        EXPECT_EQ(ReadPixel(target, 4, 4), c.keyedPixel);  // texel (0,0): keyed
        EXPECT_EQ(ReadPixel(target, 12, 4), c.red);        // texel (1,0)
        EXPECT_EQ(ReadPixel(target, 20, 4), c.green);      // texel (2,0)
        EXPECT_EQ(ReadPixel(target, 28, 4), c.keyedPixel); // texel (3,0): keyed
    }
    DWORD value = 0;
    EXPECT_EQ(device->GetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, &value), DD_OK);
    EXPECT_EQ(value, handle);
    EXPECT_EQ(device->GetRenderState(D3DRENDERSTATE_CULLMODE, &value), DD_OK);
    EXPECT_EQ(value, DWORD(D3DCULL_CCW));
}

TEST_F(Direct3DTest, DrawPrimitiveAnswersErrorsForWhatItCannotDo) {
    Scene(16, 16);
    auto quad = Rect(0, 0, 16, 16, 0xFFFFFFFF);
    struct Case {
        const char* name;
        D3DPRIMITIVETYPE type;
        D3DVERTEXTYPE vertexType;
        HRESULT expected;
    } cases[] = {
        {"strip of transformed vertices", D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, DD_OK},
        {"untransformed vertices", D3DPT_TRIANGLESTRIP, D3DVT_VERTEX, D3DERR_INVALIDVERTEXTYPE},
        {"not a primitive type", D3DPRIMITIVETYPE(9), D3DVT_TLVERTEX, D3DERR_INVALIDPRIMITIVETYPE},
        {"lines", D3DPT_LINELIST, D3DVT_TLVERTEX, DDERR_UNSUPPORTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(device->DrawPrimitive(c.type, c.vertexType, quad.data(), 4, 0), c.expected);
    }
    // A handle nobody gave out.
    device->SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, 77);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, quad.data(), 4, 0),
              DDERR_INVALIDPARAMS);
    device->SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, 0);
    // A locked target is busy; a lost one is lost until restored.
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    ASSERT_EQ(target->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, quad.data(), 4, 0),
              DDERR_SURFACEBUSY);
    target->Unlock(nullptr);
    Adapter().LoseAllSurfaces();
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, quad.data(), 4, 0),
              DDERR_SURFACELOST);
    target->Restore();
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, quad.data(), 4, 0), DD_OK);
    // Without a current viewport there is nowhere to draw.
    ASSERT_EQ(device->DeleteViewport(viewport), DD_OK);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, quad.data(), 4, 0),
              D3DERR_NOCURRENTVIEWPORT);
    EXPECT_EQ(device->SetCurrentViewport(viewport), DDERR_INVALIDPARAMS);
}

TEST_F(Direct3DTest, DepthTestThroughTheDeviceUsesTheAttachedZBuffer) {
    Scene(16, 16);
    D3DRECT all{0, 0, 16, 16};
    ASSERT_EQ(viewport->Clear(1, &all, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER), DD_OK);
    device->SetRenderState(D3DRENDERSTATE_ZENABLE, TRUE);
    auto nearQuad = Rect(0, 0, 16, 16, 0xFFFF0000, 0.2f);
    auto farQuad = Rect(4, 4, 12, 12, 0xFF0000FF, 0.8f);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, nearQuad.data(), 4, 0);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, farQuad.data(), 4, 0);
    EXPECT_EQ(ReadPixel(target, 8, 8), 0xF800u);
    EXPECT_EQ(ReadPixel(depth, 8, 8), DWORD(std::lround(0.2 * 65535)));
    device->SetRenderState(D3DRENDERSTATE_ZENABLE, FALSE);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, farQuad.data(), 4, 0);
    EXPECT_EQ(ReadPixel(target, 8, 8), 0x001Fu);
}

TEST_F(Direct3DTest, TextureLoadCopiesOnlyBetweenTexturesOfOneSizeAndFormat) {
    CreateDirectDraw();
    DDPIXELFORMAT f565 = TextureFormat(16, 0xF800, 0x07E0, 0x001F);
    DDPIXELFORMAT f4444 = TextureFormat(16, 0x0F00, 0x00F0, 0x000F, 0xF000);
    DDPIXELFORMAT f8 = PixelFormat::ForDisplay(8).ToDD();
    IDirectDrawSurface* work = Keep(Surface(8, 8, DDSCAPS_TEXTURE | kSystem, 16, &f565));
    IDirectDrawSurface* video =
        Keep(Surface(8, 8, DDSCAPS_TEXTURE | kVideo | DDSCAPS_ALLOCONLOAD, 16, &f565));
    IDirectDrawSurface* small = Keep(Surface(4, 8, DDSCAPS_TEXTURE | kSystem, 16, &f565));
    IDirectDrawSurface* other = Keep(Surface(8, 8, DDSCAPS_TEXTURE | kSystem, 16, &f4444));
    IDirectDrawSurface* plain = Keep(Surface(8, 8, DDSCAPS_OFFSCREENPLAIN | kSystem));
    for (int i = 0; i < 64; ++i)
        WritePixel(work, i % 8, i / 8, DWORD(i * 1000));
    auto textureOf = [&](IDirectDrawSurface* s) {
        IDirect3DTexture2* t = nullptr;
        EXPECT_EQ(s->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&t)), DD_OK);
        return Keep(t);
    };
    IDirect3DTexture2* none = nullptr;
    EXPECT_EQ(plain->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&none)),
              E_NOINTERFACE);
    struct Case {
        const char* name;
        IDirectDrawSurface* destination;
        HRESULT expected;
    } cases[] = {
        {"same size and format", video, DD_OK},
        {"narrower", small, D3DERR_TEXTURE_LOAD_FAILED},
        {"other format", other, D3DERR_TEXTURE_LOAD_FAILED},
    };
    IDirect3DTexture2* source = textureOf(work);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(textureOf(c.destination)->Load(source), c.expected);
    }
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(ReadPixel(video, i % 8, i / 8), DWORD(i * 1000) & 0xFFFF);
    EXPECT_EQ(ReadPixel(other, 3, 3), 0u);

    // Palettised textures bring their colours.
    IDirectDrawSurface* p1 = Keep(Surface(4, 4, DDSCAPS_TEXTURE | kSystem, 8, &f8));
    IDirectDrawSurface* p2 = Keep(Surface(4, 4, DDSCAPS_TEXTURE | kSystem, 8, &f8));
    PALETTEENTRY colours[256] = {};
    colours[7] = PALETTEENTRY{10, 20, 30, 0};
    IDirectDrawPalette* palette = nullptr;
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT, colours, &palette, nullptr), DD_OK);
    ASSERT_EQ(p1->SetPalette(palette), DD_OK);
    palette->Release();
    WritePixel(p1, 1, 1, 7);
    ASSERT_EQ(textureOf(p2)->Load(textureOf(p1)), DD_OK);
    EXPECT_EQ(ReadPixel(p2, 1, 1), 7u);
    IDirectDrawPalette* got = nullptr;
    ASSERT_EQ(p2->GetPalette(&got), DD_OK);
    PALETTEENTRY entry{};
    got->GetEntries(0, 7, 1, &entry);
    EXPECT_EQ(entry.peGreen, 20);
    got->Release();
}

TEST_F(Direct3DTest, AHandleOfAReleasedTextureIsNoLongerDrawn) {
    Scene(8, 8);
    DDPIXELFORMAT f565 = TextureFormat(16, 0xF800, 0x07E0, 0x001F);
    IDirectDrawSurface* tex = Surface(2, 2, DDSCAPS_TEXTURE | kSystem, 16, &f565);
    IDirect3DTexture2* texture = nullptr;
    tex->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&texture));
    D3DTEXTUREHANDLE handle = 0;
    texture->GetHandle(device, &handle);
    texture->Release();
    EXPECT_EQ(tex->Release(), 0u);
    device->SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, handle);
    auto quad = Rect(0, 0, 8, 8, 0xFFFFFFFF);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, quad.data(), 4, 0),
              DDERR_INVALIDPARAMS);
}

TEST_F(Direct3DTest, RetainedModeDevicesAndViewportsCheckTheirArguments) {
    Scene(64, 48);
    IDirect3DRM* rm1 = nullptr;
    ASSERT_EQ(Direct3DRMCreate(&rm1), DD_OK);
    IDirect3DRM2* rm = nullptr;
    ASSERT_EQ(rm1->QueryInterface(IID_IDirect3DRM2, reinterpret_cast<void**>(&rm)), DD_OK);
    IDirect3DRMDevice2* rmDevice = nullptr;
    EXPECT_EQ(rm->CreateDeviceFromD3D(nullptr, device, &rmDevice), D3DRMERR_BADOBJECT);
    // A device of another Direct3D object is refused.
    IDirectDraw* otherDD1 = nullptr;
    ASSERT_EQ(DirectDrawCreate(nullptr, &otherDD1, nullptr), DD_OK);
    IDirect3D2* otherD3D = nullptr;
    ASSERT_EQ(otherDD1->QueryInterface(IID_IDirect3D2, reinterpret_cast<void**>(&otherD3D)), DD_OK);
    EXPECT_EQ(rm->CreateDeviceFromD3D(otherD3D, device, &rmDevice), D3DRMERR_BADDEVICE);
    EXPECT_EQ(otherD3D->Release(), 0u);
    EXPECT_EQ(otherDD1->Release(), 0u);

    ASSERT_EQ(rm->CreateDeviceFromD3D(d3d, device, &rmDevice), DD_OK);
    EXPECT_EQ(rmDevice->GetWidth(), 64u);
    struct BufferCase {
        DWORD count;
        HRESULT expected;
    } buffers[] = {{2, DD_OK}, {0, D3DRMERR_BADVALUE}, {1, DD_OK}, {9, D3DRMERR_BADVALUE}};
    for (const auto& b : buffers)
        EXPECT_EQ(rmDevice->SetBufferCount(b.count), b.expected) << b.count;
    EXPECT_EQ(rmDevice->GetBufferCount(), 1u);

    IDirect3DRMFrame* camera = nullptr;
    ASSERT_EQ(rm->CreateFrame(nullptr, &camera), DD_OK);
    IDirect3DRMViewport* rmViewport = nullptr;
    EXPECT_EQ(rm->CreateViewport(rmDevice, nullptr, 0, 0, 64, 48, &rmViewport), D3DRMERR_BADOBJECT);
    EXPECT_EQ(rm->CreateViewport(rmDevice, camera, 10, 0, 64, 48, &rmViewport), D3DRMERR_BADVALUE);
    ASSERT_EQ(rm->CreateViewport(rmDevice, camera, 0, 0, 64, 48, &rmViewport), DD_OK);
    struct BackCase {
        float back;
        HRESULT expected;
    } backs[] = {{5000.0f, DD_OK}, {0.5f, D3DRMERR_BADVALUE}, {1.0f, D3DRMERR_BADVALUE}};
    for (const auto& b : backs)
        EXPECT_EQ(rmViewport->SetBack(b.back), b.expected) << b.back;
    EXPECT_EQ(rmViewport->GetBack(), 5000.0f);

    // The viewport holds the device and the camera until it goes.
    EXPECT_EQ(camera->Release(), 1u);
    EXPECT_EQ(rmViewport->Release(), 0u);
    EXPECT_EQ(rmDevice->Release(), 0u);
    // Each interface version counts for itself; the object lives while either is held.
    EXPECT_EQ(rm->Release(), 0u);
    IDirect3DRMFrame* frame = nullptr;
    EXPECT_EQ(rm1->CreateFrame(nullptr, &frame), DD_OK);
    EXPECT_EQ(frame->Release(), 0u);
    EXPECT_EQ(rm1->Release(), 0u);
}

TEST_F(Direct3DTest, FaultInjectionFailsTheNamedCallsOnce) {
    struct Case {
        const char* method;
        HRESULT code;
    } cases[] = {
        {"IDirect3D2::CreateDevice", DDERR_OUTOFMEMORY},
        {"IDirect3D2::CreateDevice(RGB)", D3DERR_INITFAILED},
        {"IDirect3DDevice2::DrawPrimitive", DDERR_GENERIC},
        {"IDirect3DViewport2::Clear", DDERR_SURFACELOST},
        {"Direct3DRMCreate", DDERR_OUTOFMEMORY},
        {"IDirect3DRMDevice2::SetBufferCount", D3DRMERR_BADVALUE},
    };
    Scene(8, 8);
    IDirect3DRM* rm1 = nullptr;
    ASSERT_EQ(Direct3DRMCreate(&rm1), DD_OK);
    IDirect3DRM2* rm = nullptr;
    rm1->QueryInterface(IID_IDirect3DRM2, reinterpret_cast<void**>(&rm));
    rm1->Release();
    IDirect3DRMDevice2* rmDevice = nullptr;
    ASSERT_EQ(rm->CreateDeviceFromD3D(d3d, device, &rmDevice), DD_OK);
    auto quad = Rect(0, 0, 8, 8, 0xFFFFFFFF);
    D3DRECT all{0, 0, 8, 8};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        auto call = [&]() -> HRESULT {
            const std::string m = c.method;
            if (m.rfind("IDirect3D2::CreateDevice", 0) == 0) {
                IDirect3DDevice2* dev = nullptr;
                const HRESULT r = d3d->CreateDevice(IID_IDirect3DRGBDevice, target, &dev);
                if (dev)
                    dev->Release();
                return r;
            }
            if (m == "IDirect3DDevice2::DrawPrimitive")
                return device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, quad.data(), 4,
                                             0);
            if (m == "IDirect3DViewport2::Clear")
                return viewport->Clear(1, &all, D3DCLEAR_TARGET);
            if (m == "Direct3DRMCreate") {
                IDirect3DRM* other = nullptr;
                const HRESULT r = Direct3DRMCreate(&other);
                if (other)
                    other->Release();
                return r;
            }
            return rmDevice->SetBufferCount(2);
        };
        Adapter().FailNext(c.method, 1, c.code);
        EXPECT_EQ(call(), c.code);
        EXPECT_EQ(call(), DD_OK);
    }
    EXPECT_EQ(rmDevice->Release(), 0u);
    EXPECT_EQ(rm->Release(), 0u);
}

// A rotating, tinted, additively blended textured square drawn by a device and presented in a
// window through the primary surface; the last grab is kept as a PNG.
TEST_F(Direct3DTest, RotatingTintedBlendedQuadIsPresentedInAWindow) {
    TForm form;
    form.setGeometry(60, 50, 200, 200);
    form.show();
    QCoreApplication::processEvents();
    HWND window = WindowHandle(&form);
    Scene(200, 200);
    ASSERT_EQ(dd->SetCooperativeLevel(window, DDSCL_NORMAL), DD_OK);
    DDSURFACEDESC pd{};
    pd.dwSize = sizeof pd;
    pd.dwFlags = DDSD_CAPS;
    pd.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    IDirectDrawSurface* primary = nullptr;
    ASSERT_EQ(dd->CreateSurface(&pd, &primary, nullptr), DD_OK);
    Keep(primary);
    IDirectDrawClipper* clipper = nullptr;
    ASSERT_EQ(dd->CreateClipper(0, &clipper, nullptr), DD_OK);
    Keep(clipper);
    clipper->SetHWnd(0, window);
    primary->SetClipper(clipper);

    // A 64 x 64 texture: a white disc with a blue rim on black, with a notch towards +u so
    // the turn shows; black is keyed out.
    DDPIXELFORMAT f565 = TextureFormat(16, 0xF800, 0x07E0, 0x001F);
    IDirectDrawSurface* tex = Keep(Surface(64, 64, DDSCAPS_TEXTURE | kSystem, 16, &f565));
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const double r = std::hypot(x - 31.5, y - 31.5);
            const bool notch = x > 40 && std::abs(y - 31.5) < 4;
            WritePixel(tex, x, y, notch ? 0 : r < 24 ? 0xFFFF : r < 30 ? 0x001F : 0);
        }
    DDCOLORKEY key{0, 0};
    tex->SetColorKey(DDCKEY_SRCBLT, &key);
    IDirect3DTexture2* texture = nullptr;
    tex->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&texture));
    D3DTEXTUREHANDLE handle = 0;
    texture->GetHandle(device, &handle);
    texture->Release();

    device->SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, handle);
    device->SetRenderState(D3DRENDERSTATE_TEXTUREMAG, D3DFILTER_LINEAR);
    device->SetRenderState(D3DRENDERSTATE_TEXTUREMIN, D3DFILTER_LINEAR);
    device->SetRenderState(D3DRENDERSTATE_COLORKEYENABLE, TRUE);
    device->SetRenderState(D3DRENDERSTATE_BLENDENABLE, TRUE);
    device->SetRenderState(D3DRENDERSTATE_TEXTUREMAPBLEND, D3DTBLEND_MODULATE);
    device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ONE);
    D3DRECT all{0, 0, 200, 200};
    QImage shot;
    for (int frame = 0; frame < 4; ++frame) {
        ASSERT_EQ(viewport->Clear(1, &all, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER), DD_OK);
        // Two overlapping squares, turned by frame, in orange and in blue-green.
        for (int k = 0; k < 2; ++k) {
            const double a = (frame * 20 + k * 45) * std::numbers::pi / 180;
            const double bx = 60 * std::sin(a), by = -60 * std::cos(a);
            const double cx = 85 + 30 * k, cy = 100;
            const DWORD tint = k == 0 ? 0xFFFF8000 : 0xFF00C0C0;
            const double px[4] = {cx + bx + by, cx + bx - by, cx - bx + by, cx - bx - by};
            const double py[4] = {cy + by - bx, cy + by + bx, cy - by - bx, cy - by + bx};
            const float u[4] = {0, 1, 0, 1}, v[4] = {0, 0, 1, 1};
            D3DTLVERTEX quad[4];
            for (int i = 0; i < 4; ++i)
                quad[i] = {float(px[i]), float(py[i]), 0.5f, 0.5f, tint, 0, u[i], v[i]};
            ASSERT_EQ(
                device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, quad, 4, D3DDP_WAIT),
                DD_OK);
        }
        RECT dest{60, 50, 260, 250};
        ASSERT_EQ(primary->Blt(&dest, target, nullptr, DDBLT_WAIT, nullptr), DD_OK);
        shot = form.grab().toImage();
        // The notch of the orange disc turns with the frame: 30 px out along its angle.
        const double a = frame * 20 * std::numbers::pi / 180;
        const int nx = int(std::lround(85 + 30 * std::cos(a))),
                  ny = int(std::lround(100 + 30 * std::sin(a)));
        const int ox = int(std::lround(85 - 30 * std::cos(a))),
                  oy = int(std::lround(100 - 30 * std::sin(a)));
        EXPECT_LT(qRed(shot.pixel(nx, ny)), 40) << frame;  // the notch shows the black
        EXPECT_GT(qRed(shot.pixel(ox, oy)), 240) << frame; // the opposite side is orange
    }
    shot.save(QDir::temp().filePath("zelka-direct3d_window.png"));
    // The overlap of the two discs adds orange and blue-green: near white-ish with red.
    const QRgb centre = shot.pixel(100, 100);
    EXPECT_GT(qRed(centre), 200);
    EXPECT_GT(qGreen(centre), 200);
    EXPECT_GT(qBlue(centre), 150);
    // Outside both squares the cleared black remains.
    EXPECT_EQ(shot.pixel(5, 5) & 0xFFFFFF, 0u);
    // The left disc alone is orange: red full, green half, no blue.
    const QRgb left = shot.pixel(50, 100);
    EXPECT_GT(qRed(left), 240);
    EXPECT_NEAR(qGreen(left), 128, 12);
    EXPECT_LT(qBlue(left), 10);
}

TEST_F(Direct3DTest, PalettisedTexturesDrawThroughTheirCurrentPalette) {
    Scene(8, 8, IID_IDirect3DRampDevice, 32);
    DDPIXELFORMAT f8 = PixelFormat::ForDisplay(8).ToDD();
    IDirectDrawSurface* tex = Keep(Surface(2, 2, DDSCAPS_TEXTURE | kSystem, 8, &f8));
    PALETTEENTRY colours[256] = {};
    colours[1] = PALETTEENTRY{255, 0, 0, 0};
    colours[2] = PALETTEENTRY{0, 0, 255, 0};
    IDirectDrawPalette* palette = nullptr;
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT, colours, &palette, nullptr), DD_OK);
    Keep(palette);
    ASSERT_EQ(tex->SetPalette(palette), DD_OK);
    WritePixel(tex, 0, 0, 1);
    WritePixel(tex, 1, 0, 2);
    WritePixel(tex, 0, 1, 2);
    WritePixel(tex, 1, 1, 1);
    IDirect3DTexture2* texture = nullptr;
    tex->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&texture));
    D3DTEXTUREHANDLE handle = 0;
    texture->GetHandle(device, &handle);
    texture->Release();
    device->SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, handle);
    auto quad = Rect(0, 0, 8, 8, 0xFFFFFFFF);
    struct Case {
        PALETTEENTRY first;
        DWORD topLeft, topRight;
    } cases[] = {
        {{255, 0, 0, 0}, 0xFF0000, 0x0000FF},
        {{0, 255, 0, 0}, 0x00FF00, 0x0000FF}, // entry 1 changed between draws
    };
    for (const Case& c : cases) {
        PALETTEENTRY entry = c.first;
        ASSERT_EQ(palette->SetEntries(0, 1, 1, &entry), DD_OK);
        ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, quad.data(), 4, 0),
                  DD_OK);
        EXPECT_EQ(ReadPixel(target, 1, 1), c.topLeft);
        EXPECT_EQ(ReadPixel(target, 6, 1), c.topRight);
        EXPECT_EQ(ReadPixel(target, 6, 6), c.topLeft);
    }
}

TEST_F(Direct3DTest, DrawingStaysInsideTheCurrentViewport) {
    Scene(16, 16);
    struct Case {
        DWORD x, y, width, height;
    } cases[] = {{4, 4, 8, 8}, {0, 10, 16, 6}, {12, 0, 100, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x * 1000 + c.y);
        D3DVIEWPORT2 whole{44, 0, 0, 16, 16, 0, 0, 16, 16, 0, 1};
        viewport->SetViewport2(&whole);
        D3DRECT all{0, 0, 16, 16};
        viewport->Clear(1, &all, D3DCLEAR_TARGET);
        D3DVIEWPORT2 vp{44, c.x, c.y, c.width, c.height, 0, 0, float(c.width), float(c.height),
                        0,  1};
        ASSERT_EQ(viewport->SetViewport2(&vp), DD_OK);
        auto quad = Rect(-5, -5, 30, 30, 0xFFFFFFFF);
        ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, quad.data(), 4, 0),
                  DD_OK);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const bool inside = DWORD(x) >= c.x && DWORD(x) < c.x + c.width &&
                                    DWORD(y) >= c.y && DWORD(y) < c.y + c.height;
                ASSERT_EQ(ReadPixel(target, x, y), inside ? 0xFFFFu : 0u) << x << "," << y;
            }
    }
}

TEST_F(Direct3DTest, ATextureRewrittenByAnyRouteIsDrawnAnew) {
    Scene(8, 8);
    DDPIXELFORMAT f565 = TextureFormat(16, 0xF800, 0x07E0, 0x001F);
    IDirectDrawSurface* tex =
        Keep(Surface(4, 4, DDSCAPS_TEXTURE | DDSCAPS_3DDEVICE | kSystem, 16, &f565));
    IDirectDrawSurface* green = Keep(Surface(4, 4, DDSCAPS_TEXTURE | kSystem, 16, &f565));
    DDBLTFX fill = FillFx(0x07E0);
    ASSERT_EQ(green->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fill), DD_OK);
    IDirect3DTexture2 *texture = nullptr, *greenTexture = nullptr;
    ASSERT_EQ(tex->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&texture)),
              DD_OK);
    Keep(texture);
    ASSERT_EQ(green->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&greenTexture)),
              DD_OK);
    Keep(greenTexture);
    D3DTEXTUREHANDLE handle = 0;
    ASSERT_EQ(texture->GetHandle(device, &handle), DD_OK);
    ASSERT_EQ(device->SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, handle), DD_OK);
    auto draw = [&] {
        auto quad = Rect(0, 0, 8, 8, 0xFFFFFFFF);
        ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, quad.data(), 4, 0),
                  DD_OK);
    };
    struct Case {
        const char* name;
        std::function<void()> rewrite;
        DWORD expected; // the pixel over texel (0, 0)
    } cases[] = {
        {"Lock and Unlock", [&] { WritePixel(tex, 0, 0, 0x001F); }, 0x001F},
        {"colour fill",
         [&] {
             DDBLTFX fx = FillFx(0xF800);
             ASSERT_EQ(tex->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
         },
         0xF800},
        {"BltFast", [&] { ASSERT_EQ(tex->BltFast(0, 0, green, nullptr, 0), DD_OK); }, 0x07E0},
        {"GetDC",
         [&] {
             HDC dc = nullptr;
             ASSERT_EQ(tex->GetDC(&dc), DD_OK);
             QPainter(DeviceContextImage(dc)).fillRect(0, 0, 4, 4, Qt::white);
             ASSERT_EQ(tex->ReleaseDC(dc), DD_OK);
         },
         0xFFFF},
        {"Load",
         [&] {
             WritePixel(green, 0, 0, 0x0010);
             ASSERT_EQ(texture->Load(greenTexture), DD_OK);
         },
         0x0010},
        // The texture becomes the target of a draw of its own texels, tinted black.
        {"drawn into",
         [&] {
             IDirect3DDevice2* onTexture = nullptr;
             ASSERT_EQ(d3d->CreateDevice(IID_IDirect3DRGBDevice, tex, &onTexture), DD_OK);
             Keep(onTexture);
             IDirect3DViewport2* view = nullptr;
             ASSERT_EQ(d3d->CreateViewport(&view, nullptr), DD_OK);
             Keep(view);
             ASSERT_EQ(onTexture->AddViewport(view), DD_OK);
             ASSERT_EQ(onTexture->SetCurrentViewport(view), DD_OK);
             D3DVIEWPORT2 vp{44, 0, 0, 4, 4, 0, 0, 4, 4, 0, 1};
             ASSERT_EQ(view->SetViewport2(&vp), DD_OK);
             auto quad = Rect(0, 0, 4, 4, 0xFF000000);
             ASSERT_EQ(
                 onTexture->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, quad.data(), 4, 0),
                 DD_OK);
         },
         0x0000},
    };
    draw();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.rewrite();
        draw();
        EXPECT_EQ(ReadPixel(target, 0, 0), c.expected);
    }
}

TEST_F(Direct3DTest, GdiAndDirect3DDrawAColourWithOneIndexOnAnEightBitSurface) {
    Scene(8, 4, IID_IDirect3DRampDevice, 8);
    std::array<PALETTEENTRY, 256> entries = CubePalette();
    entries[10] = PALETTEENTRY{99, 109, 99, 0}; // nearer to grey 99 by plain distance
    entries[11] = PALETTEENTRY{99, 99, 111, 0}; // nearer once green weighs more than blue
    IDirectDrawPalette* palette = Keep([&] {
        IDirectDrawPalette* p = nullptr;
        EXPECT_EQ(dd->CreatePalette(DDPCAPS_8BIT, entries.data(), &p, nullptr), DD_OK);
        return p;
    }());
    ASSERT_EQ(target->SetPalette(palette), DD_OK);
    for (const DWORD rgb : {0x636363u, 0x2A8060u, 0xFF0000u}) {
        SCOPED_TRACE(rgb);
        auto quad = Rect(0, 0, 4, 4, 0xFF000000u | rgb);
        ASSERT_EQ(
            device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, quad.data(), 4, D3DDP_WAIT),
            DD_OK);
        HDC dc = nullptr;
        ASSERT_EQ(target->GetDC(&dc), DD_OK);
        QPainter(DeviceContextImage(dc)).fillRect(4, 0, 4, 4, QColor(QRgb(rgb)));
        ASSERT_EQ(target->ReleaseDC(dc), DD_OK);
        EXPECT_EQ(ReadPixel(target, 5, 1), ReadPixel(target, 1, 1));
    }
    EXPECT_EQ(ReadPixel(target, 1, 1), 0xE0u); // an entry's own colour gives its index
}
