// Objects, reference counts, descriptions, locks, device contexts, memory, loss and faults.
#include "DirectDrawTestSupport.h"

#include <QImage>
#include <QPainter>
#include <string>
#include <vector>

using namespace directx;

namespace {

struct SizeCase {
    const char* what;
    std::function<HRESULT(IDirectDraw2*, IDirectDrawSurface*, DWORD size)> call;
    DWORD good;
};

TEST_F(DirectDrawTest, RecordSizesAreCheckedWhereTheyArePassed) {
    CreateDirectDraw();
    IDirectDrawSurface* surface = CreatePlain(8, 8);
    const std::vector<SizeCase> cases = {
        {"CreateSurface",
         [](IDirectDraw2* d, IDirectDrawSurface*, DWORD size) {
             DDSURFACEDESC desc{};
             desc.dwSize = size;
             desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
             desc.dwWidth = desc.dwHeight = 4;
             desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
             IDirectDrawSurface* s = nullptr;
             const HRESULT r = d->CreateSurface(&desc, &s, nullptr);
             if (s)
                 s->Release();
             return r;
         },
         108},
        {"GetCaps",
         [](IDirectDraw2* d, IDirectDrawSurface*, DWORD size) {
             DDCAPS caps{};
             caps.dwSize = size;
             return d->GetCaps(&caps, nullptr);
         },
         364},
        {"GetSurfaceDesc",
         [](IDirectDraw2*, IDirectDrawSurface* s, DWORD size) {
             DDSURFACEDESC desc{};
             desc.dwSize = size;
             return s->GetSurfaceDesc(&desc);
         },
         108},
        {"Lock",
         [](IDirectDraw2*, IDirectDrawSurface* s, DWORD size) {
             DDSURFACEDESC desc{};
             desc.dwSize = size;
             const HRESULT r = s->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
             if (r == DD_OK)
                 s->Unlock(nullptr);
             return r;
         },
         108},
        {"Blt colour fill",
         [](IDirectDraw2*, IDirectDrawSurface* s, DWORD size) {
             DDBLTFX fx = FillFx(1);
             fx.dwSize = size;
             return s->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
         },
         100},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(dd, surface, c.good), DD_OK);
        EXPECT_EQ(c.call(dd, surface, c.good - 1), DDERR_INVALIDPARAMS);
        EXPECT_EQ(c.call(dd, surface, 0), DDERR_INVALIDPARAMS);
    }
    // A plain copy ignores an effects record it does not need, even an all-zero one.
    IDirectDrawSurface* other = CreatePlain(8, 8);
    DDBLTFX zero{};
    EXPECT_EQ(surface->Blt(nullptr, other, nullptr, DDBLT_WAIT, &zero), DD_OK);
    other->Release();
    surface->Release();
}

TEST_F(DirectDrawTest, ReleaseReturnsTheReferencesLeft) {
    CreateDirectDraw();
    EXPECT_EQ(dd1->AddRef(), 2u);
    EXPECT_EQ(dd1->Release(), 1u);
    IDirectDraw2* again = nullptr;
    ASSERT_EQ(dd1->QueryInterface(IID_IDirectDraw2, reinterpret_cast<void**>(&again)), DD_OK);
    EXPECT_EQ(again, dd);
    EXPECT_EQ(again->Release(), 1u); // each interface counts for itself

    IDirectDrawSurface* surface = CreatePlain(4, 4);
    EXPECT_EQ(surface->AddRef(), 2u);
    EXPECT_EQ(surface->Release(), 1u);
    IDirectDrawPalette* palette = nullptr;
    PALETTEENTRY entries[256] = {};
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT, entries, &palette, nullptr), DD_OK);
    IDirectDrawClipper* clipper = nullptr;
    ASSERT_EQ(dd->CreateClipper(0, &clipper, nullptr), DD_OK);
    ASSERT_EQ(surface->SetClipper(clipper), DD_OK);
    EXPECT_EQ(clipper->Release(), 1u); // the surface still holds it
    EXPECT_EQ(palette->Release(), 0u);
    EXPECT_EQ(surface->Release(), 0u);

    // Surfaces do not keep DirectDraw alive: both interfaces end at 0.
    IDirectDrawSurface* kept = CreatePlain(4, 4);
    const std::size_t orphansBefore = Adapter().orphans.size();
    EXPECT_EQ(dd->Release(), 0u);
    dd = nullptr;
    EXPECT_EQ(dd1->Release(), 0u);
    dd1 = nullptr;
    EXPECT_EQ(kept->IsLost(), DDERR_SURFACELOST);
    // Held past its DirectDraw object, it waits among the orphans for its holder's release.
    EXPECT_EQ(Adapter().orphans.size(), orphansBefore + 1);
    EXPECT_EQ(kept->Release(), 0u);
    EXPECT_EQ(Adapter().orphans.size(), orphansBefore);
}

BOOL CollectDriver(GUID* guid, LPSTR description, LPSTR name, LPVOID context) {
    auto* seen = static_cast<std::vector<std::string>*>(context);
    seen->push_back(std::string(guid ? "guid " : "null ") + description + "/" + name);
    return seen->size() < 2 ? TRUE : FALSE;
}

TEST_F(DirectDrawTest, DriversAreEnumeratedUntilTheCallbackStops) {
    std::vector<std::string> seen;
    ASSERT_EQ(DirectDrawEnumerateA(CollectDriver, &seen), DD_OK);
    EXPECT_EQ(seen, std::vector<std::string>{"null Primary Display Driver/display"});

    DriverEntry second = DisplayAdapter::PrimaryDriver();
    second.guid = GUID{0x12345678, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
    second.description = "3D Card";
    second.name = "card3d";
    DriverEntry third = second;
    third.guid->Data1 = 0x9;
    Adapter().SetDrivers({DisplayAdapter::PrimaryDriver(), second, third});
    seen.clear();
    ASSERT_EQ(DirectDrawEnumerateA(CollectDriver, &seen), DD_OK);
    EXPECT_EQ(seen, (std::vector<std::string>{"null Primary Display Driver/display",
                                              "guid 3D Card/card3d"}));

    GUID wanted = *second.guid;
    IDirectDraw* object = nullptr;
    ASSERT_EQ(DirectDrawCreate(&wanted, &object, nullptr), DD_OK);
    EXPECT_EQ(object->Release(), 0u);
    wanted.Data1 = 0x77;
    EXPECT_EQ(DirectDrawCreate(&wanted, &object, nullptr), DDERR_INVALIDDIRECTDRAWGUID);
}

struct FormatCase {
    int bits;
    DWORD r, g, b;
    DWORD flags;
};

TEST_F(DirectDrawTest, SurfacesTakeTheDisplayFormatAndLockGivesPitchAndPointer) {
    const std::vector<FormatCase> cases = {
        {8, 0, 0, 0, DDPF_RGB | DDPF_PALETTEINDEXED8},
        {16, 0xF800, 0x07E0, 0x001F, DDPF_RGB},
        {24, 0xFF0000, 0xFF00, 0xFF, DDPF_RGB},
        {32, 0xFF0000, 0xFF00, 0xFF, DDPF_RGB},
    };
    CreateDirectDraw();
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.bits);
        Adapter().SetDesktopBitCount(c.bits);
        IDirectDrawSurface* surface = CreatePlain(13, 5);
        DDSURFACEDESC desc{};
        desc.dwSize = sizeof desc;
        ASSERT_EQ(surface->GetSurfaceDesc(&desc), DD_OK);
        EXPECT_EQ(desc.dwWidth, 13u);
        EXPECT_EQ(desc.dwHeight, 5u);
        EXPECT_EQ(desc.ddpfPixelFormat.dwRGBBitCount, DWORD(c.bits));
        EXPECT_EQ(desc.ddpfPixelFormat.dwRBitMask, c.r);
        EXPECT_EQ(desc.ddpfPixelFormat.dwGBitMask, c.g);
        EXPECT_EQ(desc.ddpfPixelFormat.dwBBitMask, c.b);
        EXPECT_EQ(desc.ddpfPixelFormat.dwFlags, c.flags);
        EXPECT_GE(desc.lPitch, 13 * c.bits / 8);
        EXPECT_EQ(desc.lPitch % 8, 0);

        DDSURFACEDESC whole{}, part{};
        whole.dwSize = part.dwSize = sizeof whole;
        ASSERT_EQ(surface->Lock(nullptr, &whole, DDLOCK_WAIT, nullptr), DD_OK);
        EXPECT_EQ(surface->Lock(nullptr, &part, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
        EXPECT_EQ(surface->Unlock(nullptr), DD_OK);
        EXPECT_EQ(surface->Unlock(nullptr), DDERR_NOTLOCKED);
        RECT rect{3, 2, 7, 4};
        ASSERT_EQ(surface->Lock(&rect, &part, DDLOCK_WAIT, nullptr), DD_OK);
        EXPECT_EQ(static_cast<BYTE*>(part.lpSurface),
                  static_cast<BYTE*>(whole.lpSurface) + 2 * whole.lPitch + 3 * c.bits / 8);
        EXPECT_EQ(part.lPitch, whole.lPitch);
        surface->Unlock(nullptr);
        RECT outside{10, 0, 14, 2};
        EXPECT_EQ(surface->Lock(&outside, &part, DDLOCK_WAIT, nullptr), DDERR_INVALIDRECT);
        WritePixel(surface, 12, 4, 0x5A);
        EXPECT_EQ(ReadPixel(surface, 12, 4), 0x5Au);
        surface->Release();
    }
}

TEST_F(DirectDrawTest, ExplicitFormatsAndDepthBuffers) {
    CreateDirectDraw();
    struct Case {
        DDPIXELFORMAT format;
        HRESULT result;
        DWORD bits;
    };
    auto rgb = [](DWORD bits, DWORD r, DWORD g, DWORD b) {
        DDPIXELFORMAT f{};
        f.dwSize = sizeof f;
        f.dwFlags = DDPF_RGB;
        f.dwRGBBitCount = bits;
        f.dwRBitMask = r;
        f.dwGBitMask = g;
        f.dwBBitMask = b;
        return f;
    };
    const std::vector<Case> cases = {
        {rgb(16, 0x7C00, 0x3E0, 0x1F), DD_OK, 16},
        {rgb(32, 0xFF0000, 0xFF00, 0xFF), DD_OK, 32},
        {rgb(16, 0xF800, 0xFFE0, 0x1F), DDERR_INVALIDPIXELFORMAT, 0}, // overlapping masks
        {rgb(12, 0xF00, 0xF0, 0xF), DDERR_INVALIDPIXELFORMAT, 0},
    };
    for (const Case& c : cases) {
        DDSURFACEDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
        desc.dwWidth = desc.dwHeight = 4;
        desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
        desc.ddpfPixelFormat = c.format;
        IDirectDrawSurface* s = nullptr;
        EXPECT_EQ(dd->CreateSurface(&desc, &s, nullptr), c.result);
        if (s) {
            DDPIXELFORMAT got{};
            got.dwSize = sizeof got;
            ASSERT_EQ(s->GetPixelFormat(&got), DD_OK);
            EXPECT_EQ(got.dwRGBBitCount, c.bits);
            EXPECT_EQ(got.dwRBitMask, c.format.dwRBitMask);
            s->Release();
        }
    }
    // Z-buffers of 16, 24 and 32 bits attach to a 3D target; other depths are refused.
    IDirectDrawSurface* target = CreatePlain(16, 16, DDSCAPS_SYSTEMMEMORY | DDSCAPS_3DDEVICE);
    for (DWORD depth : {8u, 16u, 24u, 32u}) {
        DDSURFACEDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_ZBUFFERBITDEPTH;
        desc.dwWidth = desc.dwHeight = 16;
        desc.dwZBufferBitDepth = depth;
        desc.ddsCaps.dwCaps = DDSCAPS_ZBUFFER | DDSCAPS_SYSTEMMEMORY;
        IDirectDrawSurface* z = nullptr;
        const HRESULT r = dd->CreateSurface(&desc, &z, nullptr);
        if (depth == 8) {
            EXPECT_EQ(r, DDERR_INVALIDPIXELFORMAT);
            continue;
        }
        ASSERT_EQ(r, DD_OK);
        DDSURFACEDESC got{};
        got.dwSize = sizeof got;
        z->GetSurfaceDesc(&got);
        EXPECT_EQ(got.dwZBufferBitDepth, depth);
        EXPECT_EQ(got.ddsCaps.dwCaps & DDSCAPS_ZBUFFER, DDSCAPS_ZBUFFER);
        ASSERT_EQ(target->AddAttachedSurface(z), DD_OK);
        EXPECT_EQ(target->AddAttachedSurface(z), DDERR_SURFACEALREADYATTACHED);
        DDSCAPS caps{DDSCAPS_ZBUFFER};
        IDirectDrawSurface* found = nullptr;
        ASSERT_EQ(target->GetAttachedSurface(&caps, &found), DD_OK);
        EXPECT_EQ(found, z);
        EXPECT_EQ(found->Release(), 2u); // ours and the attachment's
        DDBLTFX fx{};
        fx.dwSize = sizeof fx;
        fx.dwFillDepth = 0xFFFFFFFF;
        EXPECT_EQ(z->Blt(nullptr, nullptr, nullptr, DDBLT_DEPTHFILL, &fx), DD_OK);
        EXPECT_EQ(ReadPixel(z, 15, 15),
                  depth == 16 ? 0xFFFFu : (depth == 24 ? 0xFFFFFFu : 0xFFFFFFFFu));
        ASSERT_EQ(target->DeleteAttachedSurface(0, z), DD_OK);
        EXPECT_EQ(z->Release(), 0u);
    }
    target->Release();
}

TEST_F(DirectDrawTest, VideoMemoryRunsOutAndComesBack) {
    CreateDirectDraw();
    Adapter().SetVideoMemory(100 * 100 * 2 + 10);
    DWORD total = 0, free = 0;
    DDSCAPS caps{DDSCAPS_VIDEOMEMORY};
    ASSERT_EQ(dd->GetAvailableVidMem(&caps, &total, &free), DD_OK);
    EXPECT_EQ(total, 20010u);
    IDirectDrawSurface* first = CreatePlain(100, 100, DDSCAPS_VIDEOMEMORY);
    ASSERT_NE(first, nullptr);
    dd->GetAvailableVidMem(&caps, &total, &free);
    EXPECT_EQ(free, 10u);

    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    desc.dwWidth = desc.dwHeight = 100;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
    IDirectDrawSurface* second = nullptr;
    EXPECT_EQ(dd->CreateSurface(&desc, &second, nullptr), DDERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(second, nullptr);
    // Without a placement the surface goes to system memory instead.
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
    ASSERT_EQ(dd->CreateSurface(&desc, &second, nullptr), DD_OK);
    DDSCAPS got{};
    second->GetCaps(&got);
    EXPECT_EQ(got.dwCaps & (DDSCAPS_SYSTEMMEMORY | DDSCAPS_VIDEOMEMORY), DDSCAPS_SYSTEMMEMORY);
    second->Release();
    first->Release();
    dd->GetAvailableVidMem(&caps, &total, &free);
    EXPECT_EQ(free, 20010u);
}

TEST_F(DirectDrawTest, FaultsFailTheNamedCallsAndCallsAreRecorded) {
    CreateDirectDraw();
    Adapter().FailNext("IDirectDraw2::CreateSurface", 2, DDERR_GENERIC);
    Adapter().FailNext("IDirectDrawSurface::Blt", 1, DDERR_WASSTILLDRAWING);
    Adapter().RecordCalls(true);
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    desc.dwWidth = desc.dwHeight = 4;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
    IDirectDrawSurface* s = nullptr;
    EXPECT_EQ(dd->CreateSurface(&desc, &s, nullptr), DDERR_GENERIC);
    EXPECT_EQ(dd1->CreateSurface(&desc, &s, nullptr), DDERR_GENERIC);
    ASSERT_EQ(dd->CreateSurface(&desc, &s, nullptr), DD_OK);
    DDBLTFX fx = FillFx(3);
    EXPECT_EQ(s->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DDERR_WASSTILLDRAWING);
    EXPECT_EQ(s->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx), DD_OK);
    EXPECT_EQ(Adapter().Calls(), (std::vector<std::string>{
                                     "IDirectDraw2::CreateSurface", "IDirectDraw2::CreateSurface",
                                     "IDirectDraw2::CreateSurface", "IDirectDrawSurface::Blt",
                                     "IDirectDrawSurface::Blt"}));
    s->Release();
}

TEST_F(DirectDrawTest, LostSurfacesAnswerLostUntilRestored) {
    CreateDirectDraw();
    IDirectDrawSurface* mine = CreatePlain(8, 8, DDSCAPS_VIDEOMEMORY);
    IDirectDrawSurface* primary = nullptr;
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    ASSERT_EQ(dd->CreateSurface(&desc, &primary, nullptr), DD_OK);
    EXPECT_EQ(mine->IsLost(), DD_OK);

    // Another DirectDraw object changes the display mode.
    IDirectDraw* other = nullptr;
    ASSERT_EQ(DirectDrawCreate(nullptr, &other, nullptr), DD_OK);
    ASSERT_EQ(other->SetDisplayMode(640, 480, 8), DD_OK);
    EXPECT_EQ(mine->IsLost(), DDERR_SURFACELOST);
    EXPECT_EQ(primary->IsLost(), DDERR_SURFACELOST);
    DDBLTFX fx = FillFx(1);
    DDSURFACEDESC lock{};
    lock.dwSize = sizeof lock;
    HDC dc = nullptr;
    EXPECT_EQ(mine->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DDERR_SURFACELOST);
    EXPECT_EQ(mine->Lock(nullptr, &lock, DDLOCK_WAIT, nullptr), DDERR_SURFACELOST);
    EXPECT_EQ(mine->GetDC(&dc), DDERR_SURFACELOST);
    EXPECT_EQ(mine->BltFast(0, 0, mine, nullptr, 0), DDERR_SURFACELOST);
    EXPECT_EQ(mine->Restore(), DD_OK);
    EXPECT_EQ(mine->IsLost(), DD_OK);
    EXPECT_EQ(mine->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
    // The primary surface belongs to the previous mode.
    EXPECT_EQ(primary->Restore(), DDERR_WRONGMODE);
    // Releasing the object that changed the mode puts the desktop back.
    EXPECT_EQ(other->Release(), 0u);
    EXPECT_EQ(Adapter().CurrentMode(), Adapter().DesktopMode());
    EXPECT_EQ(primary->Restore(), DD_OK);
    // Fault injection loses everything too.
    Adapter().LoseAllSurfaces();
    EXPECT_EQ(mine->IsLost(), DDERR_SURFACELOST);
    primary->Release();
    mine->Release();
}

TEST_F(DirectDrawTest, DeviceContextsDrawIntoTheSurface) {
    CreateDirectDraw();
    struct Case {
        int bits;
        DWORD expectedRed;
    };
    PALETTEENTRY entries[256] = {};
    entries[7] = PALETTEENTRY{255, 0, 0, 0};
    entries[9] = PALETTEENTRY{0, 0, 255, 0};
    IDirectDrawPalette* palette = nullptr;
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT, entries, &palette, nullptr), DD_OK);
    for (const Case& c : std::vector<Case>{{8, 7}, {16, 0xF800}, {24, 0xFF0000}, {32, 0xFF0000}}) {
        SCOPED_TRACE(c.bits);
        IDirectDrawSurface* s = CreatePlain(20, 10, DDSCAPS_SYSTEMMEMORY, c.bits);
        if (c.bits == 8) {
            ASSERT_EQ(s->SetPalette(palette), DD_OK);
            WritePixel(s, 19, 9, 9); // stays blue through the converted copy
        }
        HDC dc = nullptr, second = nullptr;
        ASSERT_EQ(s->GetDC(&dc), DD_OK);
        EXPECT_EQ(s->GetDC(&second), DDERR_DCALREADYCREATED);
        DDSURFACEDESC lock{};
        lock.dwSize = sizeof lock;
        EXPECT_EQ(s->Lock(nullptr, &lock, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
        IDirectDrawSurface* other = CreatePlain(20, 10, DDSCAPS_SYSTEMMEMORY, c.bits);
        EXPECT_EQ(other->BltFast(0, 0, s, nullptr, 0), DDERR_SURFACEBUSY);
        EXPECT_EQ(s->Blt(nullptr, other, nullptr, 0, nullptr), DDERR_SURFACEBUSY);
        {
            QPainter painter(DeviceContextImage(dc));
            painter.fillRect(2, 3, 4, 2, QColor(255, 0, 0));
        }
        EXPECT_EQ(s->ReleaseDC(dc), DD_OK);
        EXPECT_EQ(s->ReleaseDC(dc), DDERR_NODC);
        EXPECT_EQ(ReadPixel(s, 2, 3), c.expectedRed);
        EXPECT_EQ(ReadPixel(s, 5, 4), c.expectedRed);
        EXPECT_EQ(ReadPixel(s, 6, 4), 0u);
        EXPECT_EQ(ReadPixel(s, 2, 5), 0u);
        if (c.bits == 8) {
            EXPECT_EQ(ReadPixel(s, 19, 9), 9u);
        }
        other->Release();
        s->Release();
    }
    palette->Release();
}

TEST_F(DirectDrawTest, PalettesOnlyOnPalettisedSurfaces) {
    CreateDirectDraw();
    PALETTEENTRY entries[256] = {};
    IDirectDrawPalette* palette = nullptr;
    EXPECT_EQ(dd->CreatePalette(0, entries, &palette, nullptr), DDERR_INVALIDPARAMS);
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, &palette, nullptr),
              DD_OK);
    IDirectDrawSurface* s16 = CreatePlain(4, 4, DDSCAPS_SYSTEMMEMORY, 16);
    EXPECT_EQ(s16->SetPalette(palette), DDERR_NOTPALETTIZED);
    PALETTEENTRY set[2] = {{1, 2, 3, 0}, {4, 5, 6, 0}};
    EXPECT_EQ(palette->SetEntries(0, 254, 2, set), DD_OK);
    EXPECT_EQ(palette->SetEntries(0, 255, 2, set), DDERR_INVALIDPARAMS);
    PALETTEENTRY got[2] = {};
    ASSERT_EQ(palette->GetEntries(0, 254, 2, got), DD_OK);
    EXPECT_EQ(got[1].peBlue, 6);
    s16->Release();
    EXPECT_EQ(palette->Release(), 0u);
}

// A surface hands out its clipper and palette with one more reference, and says when none is
// set, leaving the result null.
TEST_F(DirectDrawTest, AttachedClipperAndPaletteAreHandedOutWithAReference) {
    CreateDirectDraw();
    IDirectDrawSurface* s8 = CreatePlain(4, 4, DDSCAPS_SYSTEMMEMORY, 8);
    IDirectDrawClipper* clipper = nullptr;
    ASSERT_EQ(dd->CreateClipper(0, &clipper, nullptr), DD_OK);
    PALETTEENTRY entries[256] = {};
    IDirectDrawPalette* palette = nullptr;
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT, entries, &palette, nullptr), DD_OK);
    struct Case {
        const char* what;
        IUnknown* object;
        std::function<HRESULT(IUnknown**)> get;
        std::function<HRESULT()> attach;
        HRESULT none;
    };
    const std::vector<Case> cases = {
        {"clipper", clipper,
         [&](IUnknown** out) {
             return s8->GetClipper(reinterpret_cast<IDirectDrawClipper**>(out));
         },
         [&] { return s8->SetClipper(clipper); }, DDERR_NOCLIPPERATTACHED},
        {"palette", palette,
         [&](IUnknown** out) {
             return s8->GetPalette(reinterpret_cast<IDirectDrawPalette**>(out));
         },
         [&] { return s8->SetPalette(palette); }, DDERR_NOPALETTEATTACHED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IUnknown* got = c.object; // must be cleared
        EXPECT_EQ(c.get(&got), c.none);
        EXPECT_EQ(got, nullptr);
        EXPECT_EQ(c.get(nullptr), DDERR_INVALIDPARAMS);
        ASSERT_EQ(c.attach(), DD_OK);
        ASSERT_EQ(c.get(&got), DD_OK);
        EXPECT_EQ(got, c.object);
        // Ours, the surface's and the one handed out.
        EXPECT_EQ(got->Release(), 2u);
    }
    s8->Release();
    EXPECT_EQ(clipper->Release(), 0u);
    EXPECT_EQ(palette->Release(), 0u);
}

HRESULT CountMode(LPDDSURFACEDESC desc, LPVOID context) {
    auto* seen = static_cast<std::vector<std::string>*>(context);
    seen->push_back(std::to_string(desc->dwWidth) + "x" + std::to_string(desc->dwHeight) + "x" +
                    std::to_string(desc->ddpfPixelFormat.dwRGBBitCount));
    return seen->size() >= 20 ? DDENUMRET_CANCEL : DDENUMRET_OK;
}

TEST_F(DirectDrawTest, DisplayModesAndCapabilities) {
    CreateDirectDraw();
    struct Case {
        DWORD flags;
        DWORD width, bits;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {DDSD_WIDTH, 800, 0, {"800x600x8", "800x600x16", "800x600x24", "800x600x32"}},
        {DDSD_PIXELFORMAT, 0, 24, {"640x480x24", "800x600x24", "1024x768x24"}},
        {DDSD_WIDTH | DDSD_PIXELFORMAT, 1024, 16, {"1024x768x16"}},
        {DDSD_WIDTH, 1280, 0, {}},
    };
    for (const Case& c : cases) {
        DDSURFACEDESC filter{};
        filter.dwSize = sizeof filter;
        filter.dwFlags = c.flags;
        filter.dwWidth = c.width;
        filter.ddpfPixelFormat.dwRGBBitCount = c.bits;
        std::vector<std::string> seen;
        ASSERT_EQ(dd->EnumDisplayModes(0, &filter, &seen, CountMode), DD_OK);
        // The desktop's own mode may add itself; the listed ones come first.
        seen.resize(std::min(seen.size(), c.expected.size()));
        EXPECT_EQ(seen, c.expected);
    }
    std::vector<std::string> all;
    ASSERT_EQ(dd->EnumDisplayModes(0, nullptr, &all, CountMode), DD_OK);
    EXPECT_GE(all.size(), 12u);

    DDCAPS hardware{}, emulation{};
    hardware.dwSize = emulation.dwSize = sizeof(DDCAPS);
    ASSERT_EQ(dd->GetCaps(&hardware, &emulation), DD_OK);
    // The software road: no 3-D hardware (the GPU road's is tested with it).
    EXPECT_EQ(hardware.dwCaps & DDCAPS_3D, 0u);
    EXPECT_EQ(emulation.dwCaps & DDCAPS_3D, 0u);
    EXPECT_FALSE(Adapter().direct3d.Device(DeviceKind::HAL).available);
    EXPECT_EQ(hardware.ddsCaps.dwCaps & DDSCAPS_TEXTURE, DDSCAPS_TEXTURE);
    EXPECT_EQ(hardware.dwVidMemTotal, Adapter().VideoMemoryTotal());
    DDSURFACEDESC mode{};
    mode.dwSize = sizeof mode;
    ASSERT_EQ(dd->GetDisplayMode(&mode), DD_OK);
    EXPECT_EQ(mode.ddpfPixelFormat.dwRGBBitCount, 16u);
    EXPECT_EQ(mode.dwWidth, DWORD(GetSystemMetrics(SM_CXSCREEN)));
}

} // namespace
