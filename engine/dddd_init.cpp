// Building the DirectDraw set-up for a display mode, releasing it, presenting frames and
// bringing lost surfaces back.
#include "dddd.h"
#include "dddd_private.h"
#include "directx/DisplayAdapter.h"
#include "directx/PixelFormat.h"
#include "platform/SysUtils.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

using dddd::ClipFast;
using dddd::ClipScaled;
using dddd::Format;
using dddd::FreshDesc;

namespace {

template <typename T> void ReleaseField(T*& field) {
    if (field)
        field->Release();
    field = nullptr;
}

template <typename T> void ReleaseChecked(T*& field, const char* message) {
    if (field)
        CheckResult(static_cast<int>(field->Release()), message);
    field = nullptr;
}

struct DriverSearch {
    std::string text;
    IDirectDraw* found = nullptr;
};

BOOL FindByNameCallback(GUID* guid, LPSTR description, LPSTR name, LPVOID context) {
    auto* search = static_cast<DriverSearch*>(context);
    const std::string entry = std::string(description) + " (" + name + ")";
    if (entry != search->text)
        return TRUE;
    IDirectDraw* object = nullptr;
    if (DirectDrawCreate(guid, &object, nullptr) != DD_OK)
        return TRUE;
    search->found = object;
    Trace(Format("Created DDraw Driver ... %s %p", entry.c_str(), static_cast<void*>(object)));
    return FALSE;
}

BOOL Find3DDriver(GUID* guid, LPSTR description, LPSTR, LPVOID context) {
    auto* engine = static_cast<TDDDD*>(context);
    Trace(Format("Enumerated DDraw Driver ... %s", description));
    if (!guid)
        return TRUE;
    IDirectDraw* object = nullptr;
    CheckResult(DirectDrawCreate(guid, &object, nullptr), "DirectDrawドライバの作成に失敗しました");
    DDCAPS hardware{}, emulation{};
    hardware.dwSize = emulation.dwSize = sizeof(DDCAPS);
    if (object->GetCaps(&hardware, &emulation) == DD_OK && (hardware.dwCaps & DDCAPS_3D) &&
        (hardware.ddsCaps.dwCaps & DDSCAPS_TEXTURE)) {
        engine->DirectDraw = object;
        return FALSE;
    }
    object->Release();
    return TRUE;
}

struct ModeSearch {
    int width, height, bitCount, refreshRate;
    int seen = 0;
    bool found = false;
};

HRESULT ModeCallback(LPDDSURFACEDESC desc, LPVOID context) {
    auto* search = static_cast<ModeSearch*>(context);
    // At most the first 256 modes count.
    if (search->seen++ >= 256)
        return DDENUMRET_CANCEL;
    auto matches = [](int wanted, DWORD value) { return wanted == 0 || DWORD(wanted) == value; };
    if (matches(search->width, desc->dwWidth) && matches(search->height, desc->dwHeight) &&
        matches(search->bitCount, desc->ddpfPixelFormat.dwRGBBitCount) &&
        matches(search->refreshRate, desc->dwRefreshRate))
        search->found = true;
    return DDENUMRET_OK;
}

} // namespace

void TDDDD::CreateDefaultDriver() {
    CheckResult(DirectDrawCreate(nullptr, &DirectDraw, nullptr),
                "DirectDrawオブジェクトが作成できません");
}

IDirectDraw* TDDDD::FindDriverByName(const std::string& text) {
    DriverSearch search{text.substr(0, 255)};
    DirectDrawEnumerateA(FindByNameCallback, &search);
    return search.found;
}

void TDDDD::InitializeScreen(bool fullScreen, int width, int height, int bitCount, int refreshRate,
                             const std::string& driverName) {
    Trace(Format("スクリーンモード%d x %d x %d として初期化を開始します", width, height, bitCount));
    // A window that goes full screen gets its place back when the engine returns to a window.
    if (fullScreen && Owner && !setUpFullScreen_) {
        windowedBounds_ =
            RECT{Owner->FormLeft(), Owner->FormTop(), Owner->FormLeft() + Owner->ClientWidth(),
                 Owner->FormTop() + Owner->ClientHeight()};
        haveWindowedBounds_ = true;
    }
    if (fullScreen && Owner)
        Owner->ShowForm();
    Busy = true;
    ReleaseAll();
    TakeWindow();
    if (!fullScreen && Owner && haveWindowedBounds_) {
        haveWindowedBounds_ = false;
        Owner->SetBounds(windowedBounds_.left, windowedBounds_.top,
                         windowedBounds_.right - windowedBounds_.left,
                         windowedBounds_.bottom - windowedBounds_.top);
    }

    if (fullScreen) {
        Trace("フルスクリーンで初期化を開始します");
        if (!driverName.empty()) {
            Trace("指定されたドライバ " + driverName + " を使用します");
            DirectDraw = FindDriverByName(driverName);
            if (!DirectDraw) {
                Trace("指定されたドライバが見つからなかったので、デフォルトのドライバを使用します");
                CreateDefaultDriver();
            }
        } else {
            Trace("デフォルトのドライバを使用します");
            if (Use3D)
                DirectDrawEnumerateA(Find3DDriver, this);
            if (!DirectDraw)
                CreateDefaultDriver();
        }
    } else {
        Trace("ウィンドウモードで初期化を開始します");
        CreateDefaultDriver();
    }
    CheckResult(
        DirectDraw->QueryInterface(IID_IDirectDraw2, reinterpret_cast<void**>(&DirectDraw2)),
        "DirectDrawオブジェクトとDirectDraw2オブジェクトの連結に失敗しました");

    DDCAPS hardware{}, emulation{};
    hardware.dwSize = emulation.dwSize = sizeof(DDCAPS);
    DirectDraw2->GetCaps(&hardware, &emulation);
    HALAvailable = (hardware.dwCaps & DDCAPS_3D) && bitCount > 8;
    Trace(Format("Caps:%016" PRIX64, static_cast<std::uint64_t>(hardware.dwCaps)));

    IDirectDrawSurface* primary = nullptr;
    IDirectDrawSurface* back = nullptr;
    if (fullScreen) {
        if (Owner)
            Owner->SetBounds(0, 0, width, height);
        CheckResult(DirectDraw2->SetCooperativeLevel(Window, DDSCL_FULLSCREEN | DDSCL_ALLOWREBOOT |
                                                                 DDSCL_EXCLUSIVE |
                                                                 DDSCL_ALLOWMODEX),
                    "協調レベルの設定に失敗しました");
        CheckResult(DirectDraw2->SetDisplayMode(width, height, bitCount, refreshRate, 0),
                    Format("画面モード%dx%dx%dの初期化に失敗しました", width, height, bitCount));
        DDSURFACEDESC desc = FreshDesc();
        desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
        desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX |
                              (Use3D ? DDSCAPS_3DDEVICE : 0);
        desc.dwBackBufferCount = 1;
        CheckResult(DirectDraw2->CreateSurface(&desc, &primary, nullptr),
                    "プライマリ・サーフェスの作成に失敗しました");
        DDSCAPS backCaps{DDSCAPS_BACKBUFFER};
        CheckResult(primary->GetAttachedSurface(&backCaps, &back),
                    "バックバッファの作成に失敗しました");
        if (Owner) {
            Owner->SetBounds(Owner->FormLeft(), Owner->FormTop(), GetSystemMetrics(SM_CXSCREEN),
                             GetSystemMetrics(SM_CYSCREEN));
            Owner->BringToFront();
        }
    } else {
        CheckResult(DirectDraw2->SetCooperativeLevel(Window, DDSCL_NORMAL),
                    "協調レベルの設定に失敗しました");
        DDSURFACEDESC desc = FreshDesc();
        desc.dwFlags = DDSD_CAPS;
        desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
        CheckResult(DirectDraw2->CreateSurface(&desc, &primary, nullptr),
                    "プライマリ・サーフェスの作成に失敗しました");
        DWORD memory = DDSCAPS_VIDEOMEMORY;
        const bool noHal = (D3DOptions & DontUseHAL) || !HALAvailable;
        switch (BackBufferLocationAtWindowed) {
        case bmtDefault:
        case bmtCompatible:
            if (Use3D)
                memory = noHal ? DDSCAPS_SYSTEMMEMORY | DDSCAPS_3DDEVICE
                               : DDSCAPS_VIDEOMEMORY | DDSCAPS_3DDEVICE;
            else
                memory = BackBufferLocationAtWindowed == bmtDefault ? DDSCAPS_VIDEOMEMORY
                                                                    : DDSCAPS_SYSTEMMEMORY;
            break;
        case bmtSystemMemory:
            memory = DDSCAPS_SYSTEMMEMORY | (Use3D ? DDSCAPS_3DDEVICE : 0);
            break;
        case bmtVideoMemory:
            memory = DDSCAPS_VIDEOMEMORY | (Use3D ? DDSCAPS_3DDEVICE : 0);
            break;
        }
        DDSURFACEDESC backDesc = FreshDesc();
        backDesc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
        backDesc.dwWidth = width;
        backDesc.dwHeight = height;
        backDesc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | memory;
        if (DirectDraw2->CreateSurface(&backDesc, &back, nullptr) != DD_OK) {
            back = nullptr;
            backDesc.ddsCaps.dwCaps &= ~DDSCAPS_VIDEOMEMORY;
            CheckResult(DirectDraw2->CreateSurface(&backDesc, &back, nullptr),
                        "バックバッファの作成に失敗しました");
        }
        const DWORD caps = backDesc.ddsCaps.dwCaps;
        dddd::TracePlacement("バックバッファ", caps);
        if (!AllowRakugaki) {
            CheckResult(DirectDraw2->CreateClipper(0, &Clipper, nullptr),
                        "Clipperオブジェクトの作成に失敗しました");
            CheckResult(Clipper->SetHWnd(0, Window), "Clipperのフォームへの割り当てに失敗しました");
            CheckResult(primary->SetClipper(Clipper),
                        "Clipperのプライマリサーフェスへの割り当てに失敗しました");
        }
    }

    BitCount = bitCount;
    FullScreen = fullScreen;
    setUpFullScreen_ = fullScreen;
    RefreshRate = refreshRate;
    ScreenWidth = width;
    ScreenHeight = height;

    delete PrimarySurface;
    delete BackBuffer;
    PrimarySurface = new TDDDDGenSurface(this, primary, width, height);
    BackBuffer = new TDDDDGenSurface(this, back, width, height);

    ReleaseField(Palette);
    if (!Use3D) {
        for (PALETTEENTRY& entry : PaletteEntries)
            entry.peFlags = 0x04;
    } else if (fullScreen) {
        PaletteEntries = directx::CubePalette(0x40);
    } else {
        PaletteEntries = directx::Adapter().systemPalette;
        for (int i = 0; i < 256; ++i)
            PaletteEntries[i].peFlags = (i < 10 || i >= 246) ? 0x40 : 0x01;
    }
    if (bitCount == 8) {
        CheckResult(
            DirectDraw2->CreatePalette(DDPCAPS_8BIT, PaletteEntries.data(), &Palette, nullptr),
            "DirectDrawPaletteの作成に失敗しました");
        CheckResult(primary->SetPalette(Palette),
                    "DirectDrawPaletteのFrontBufferへの割り当てに失敗しました");
        CheckResult(back->SetPalette(Palette),
                    "DirectDrawPaletteのBackBufferへの割り当てに失敗しました");
    }

    if (Use3D)
        Initialize3D(back, width, height);

    Busy = false;
    if (Initialized) {
        RebuildKeptObjects();
        if (OnChangeDisplayMode)
            OnChangeDisplayMode(this);
    }
    if (bitCount != 8) {
        DDSURFACEDESC desc{};
        BackBuffer->GetSurfaceDesc(desc);
        PixelFormat.RMask = desc.ddpfPixelFormat.dwRBitMask;
        PixelFormat.GMask = desc.ddpfPixelFormat.dwGBitMask;
        PixelFormat.BMask = desc.ddpfPixelFormat.dwBBitMask;
        DescribeMask(PixelFormat.RMask, PixelFormat.RShift, PixelFormat.RLoss);
        DescribeMask(PixelFormat.GMask, PixelFormat.GShift, PixelFormat.GLoss);
        DescribeMask(PixelFormat.BMask, PixelFormat.BShift, PixelFormat.BLoss);
        Trace(Format("PixelFormat: RMask=%.8x GMask=%.8x BMask=%.8x", PixelFormat.RMask,
                     PixelFormat.GMask, PixelFormat.BMask));
    }
}

void TDDDD::Initialize3D(IDirectDrawSurface* back, int width, int height) {
    DDSCAPS backCaps{};
    back->GetCaps(&backCaps);
    const bool hal = !(D3DOptions & DontUseHAL) && HALAvailable;
    const DWORD zCaps = (backCaps.dwCaps & DDSCAPS_VIDEOMEMORY) && hal
                            ? DDSCAPS_ZBUFFER
                            : DDSCAPS_ZBUFFER | DDSCAPS_SYSTEMMEMORY;
    IDirectDrawSurface* z = nullptr;
    for (const DWORD depth : {16u, 24u, 32u}) {
        DDSURFACEDESC desc = FreshDesc();
        desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_ZBUFFERBITDEPTH;
        desc.dwWidth = static_cast<DWORD>(width);
        desc.dwHeight = static_cast<DWORD>(height);
        desc.dwZBufferBitDepth = depth;
        desc.ddsCaps.dwCaps = zCaps;
        const HRESULT result = DirectDraw2->CreateSurface(&desc, &z, nullptr);
        if (depth == 32)
            CheckResult(result, "Zバッファの作成に失敗しました");
        if (result == DD_OK)
            break;
        z = nullptr;
    }
    CheckResult(back->AddAttachedSurface(z), "Zバッファのアタッチに失敗しました");
    delete ZBuffer;
    ZBuffer = new TDDDDGenSurface(this, z, width, height);

    IDirect3DRM* first = nullptr;
    CheckResult(Direct3DRMCreate(&first), "Direct3DRMオブジェクトの作成に失敗しました");
    IDirect3DRM2* second = nullptr;
    // The first interface goes before the check, so that a failed query leaves nothing behind.
    const HRESULT queried =
        first->QueryInterface(IID_IDirect3DRM2, reinterpret_cast<void**>(&second));
    first->Release();
    CheckResult(queried, "Direct3DRM2オブジェクトの作成に失敗しました");
    // The object of an earlier set-up is not needed any more.
    ReleaseField(Direct3DRM);
    Direct3DRM = second;

    CheckResult(DirectDraw2->QueryInterface(IID_IDirect3D2, reinterpret_cast<void**>(&Direct3D)),
                "Direct3Dオブジェクトの作成に失敗しました");
    D3DDeviceKind = 0;
    if (hal) {
        const HRESULT result = Direct3D->CreateDevice(IID_IDirect3DHALDevice, back, &D3DDevice);
        if (result == DD_OK)
            D3DDeviceKind = 1;
        else {
            D3DDevice = nullptr;
            Trace(Format(
                "HALデバイスが作れません。Zバッファはシステムメモリに作られています%016" PRIX64,
                static_cast<std::uint64_t>(static_cast<DWORD>(result))));
        }
    }
    if (!D3DDeviceKind && !(D3DOptions & DontUseMMX)) {
        if (Direct3D->CreateDevice(IID_IDirect3DMMXDevice, back, &D3DDevice) == DD_OK)
            D3DDeviceKind = 2;
        else
            D3DDevice = nullptr;
    }
    if (!D3DDeviceKind && !(D3DOptions & DontUseRGBEmulation)) {
        if (Direct3D->CreateDevice(IID_IDirect3DRGBDevice, back, &D3DDevice) == DD_OK)
            D3DDeviceKind = 3;
        else
            D3DDevice = nullptr;
    }
    if (!D3DDeviceKind) {
        CheckResult(Direct3D->CreateDevice(IID_IDirect3DRampDevice, back, &D3DDevice),
                    "Diret3Dデバイスの作成に失敗しました");
        D3DDeviceKind = 4;
    }
    CheckResult(Direct3DRM->CreateDeviceFromD3D(Direct3D, D3DDevice, &D3DRMDevice),
                "Diret3DRMデバイスの作成に失敗しました");
    D3DRMDevice->SetBufferCount(2);
    DDSURFACEDESC zDesc{};
    ZBuffer->GetSurfaceDesc(zDesc);
    UsingHAL = (zDesc.ddsCaps.dwCaps & DDSCAPS_VIDEOMEMORY) != 0;
    Trace(UsingHAL ? "HALでウハウハです" : "HELでシオシオです");
}

void TDDDD::ReleaseAll() {
    Busy = true;
    if (PendingFirstInit)
        return;
    Trace("リソースを全て解放します");
    if (!Destroying && Initialized) {
        InvalidateTextures();
        if (OnCleanUp)
            OnCleanUp(this);
    }
    // The 3D objects go whenever they exist: Use3D may have been switched off since they
    // were made, and a leftover would keep the DirectDraw object referenced.
    ReleaseChecked(D3DRMDevice, "Direct3DRMデバイスの解放に失敗しました");
    ReleaseChecked(D3DDevice, "Direct3Dデバイスの解放に失敗しました");
    ReleaseField(Palette);
    if (Destroying)
        ReleaseChecked(Direct3DRM, "Direct3DRMオブジェクトの解放に失敗しました");
    ReleaseField(Direct3D);
    ReleaseField(Clipper);
    delete ZBuffer;
    ZBuffer = nullptr;
    // The wrappers never release their surfaces, so both go in either mode. What was set up
    // decides, not FullScreen, which may already name the mode being switched to.
    delete BackBuffer;
    BackBuffer = nullptr;
    delete PrimarySurface;
    PrimarySurface = nullptr;
    if (setUpFullScreen_ && DirectDraw2)
        DirectDraw2->RestoreDisplayMode();
    ReleaseChecked(DirectDraw2, "DirectDrawオブジェクトの解放に失敗しました");
    ReleaseChecked(DirectDraw, "DirectDrawオブジェクトの解放に失敗しました");
}

void TDDDD::Present() {
    if (!PrimarySurface || !BackBuffer)
        return;
    if (FullScreen && PrimarySurface->Surface->Flip(nullptr, DDFLIP_WAIT) == DD_OK)
        return;
    DDSURFACEDESC desc = FreshDesc();
    BackBuffer->Surface->GetSurfaceDesc(&desc);
    RECT src{0, 0, static_cast<LONG>(desc.dwWidth), static_cast<LONG>(desc.dwHeight)};
    RECT client{};
    GetClientRect(Window, &client);
    POINT origin{};
    ClientToScreen(Window, &origin);
    RECT dst{origin.x, origin.y, origin.x + client.right, origin.y + client.bottom};
    const RECT clip{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (VsyncAtWindowed)
        DirectDraw2->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr);
    const bool sameSize = src.right - src.left == dst.right - dst.left &&
                          src.bottom - src.top == dst.bottom - dst.top;
    if (sameSize && AllowRakugaki) {
        LONG x = dst.left, y = dst.top;
        if (ClipFast(x, src.left, src.right, clip.left, clip.right) &&
            ClipFast(y, src.top, src.bottom, clip.top, clip.bottom))
            PrimarySurface->Surface->BltFast(static_cast<DWORD>(x), static_cast<DWORD>(y),
                                             BackBuffer->Surface, &src, DDBLTFAST_WAIT);
    } else if (!AllowRakugaki) {
        if (ClipScaled(dst.left, dst.right, src.left, src.right, clip.left, clip.right) &&
            ClipScaled(dst.top, dst.bottom, src.top, src.bottom, clip.top, clip.bottom)) {
            DDBLTFX fx{};
            fx.dwSize = sizeof fx;
            PrimarySurface->Surface->Blt(&dst, BackBuffer->Surface, &src, DDBLT_WAIT, &fx);
        }
    } else {
        PrimarySurface->Surface->Blt(&dst, BackBuffer->Surface, &src, DDBLT_WAIT, nullptr);
    }
}

void TDDDD::ClearBackBuffer() {
    if (!BackBuffer)
        return;
    RECT rect{0, 0, ScreenWidth, ScreenHeight};
    DDBLTFX fx{};
    fx.dwSize = sizeof fx;
    fx.dwFillColor = static_cast<DWORD>(BackColor);
    BackBuffer->Surface->Blt(&rect, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
}

void TDDDD::RestoreSurfaces() {
    if (PrimarySurface)
        PrimarySurface->RestoreIfLost();
    if (BackBuffer && !FullScreen)
        BackBuffer->RestoreIfLost();
    if (ZBuffer && Use3D)
        ZBuffer->RestoreIfLost();
    RestoreKeptObjects();
}

void TDDDD::UpdatePalette() {
    if (BitCount != 8)
        return;
    if (FullScreen) {
        if (Palette)
            CheckResult(Palette->SetEntries(0, 0, 256, PaletteEntries.data()),
                        "パレットが更新できませんでした");
        return;
    }
    // In a window the 20 static colours stay the system's; the rest become ours, and the
    // primary's palette follows the system's, so the window shows the new colours.
    auto& system = directx::Adapter().systemPalette;
    for (int i = 10; i <= 245; ++i)
        system[i] = PaletteEntries[i];
    if (Palette)
        CheckResult(Palette->SetEntries(0, 0, 256, system.data()),
                    "パレットが更新できませんでした");
}

bool TDDDD::IsDisplayModeAvailable(int width, int height, int bitCount, int refreshRate) {
    if (!DirectDraw2)
        return false;
    ModeSearch search{width, height, bitCount, refreshRate};
    DirectDraw2->EnumDisplayModes(0, nullptr, &search, ModeCallback);
    return search.found;
}

namespace {

// Indexes, not iterators: a reload may register objects.
template <typename Keeper> void ForEachKept(const std::vector<Keeper>& keepers, auto step) {
    for (std::size_t i = 0; i < keepers.size(); ++i)
        ((*keepers[i]).*step)();
}

} // namespace

// Surfaces come back before textures after a loss; after a re-initialisation textures are
// rebuilt first.
void TDDDD::RestoreKeptObjects() {
    ForEachKept(SurfaceKeepers, &TDDDDSurfaceKeeper::RestoreObject);
    ForEachKept(TextureKeepers, &TDDDDTextureKeeper::RestoreObject);
}

void TDDDD::InvalidateTextures() {
    ForEachKept(TextureKeepers, &TDDDDTextureKeeper::ForgetSurfaces);
}

void TDDDD::RebuildKeptObjects() {
    ForEachKept(TextureKeepers, &TDDDDTextureKeeper::RebuildObject);
    ForEachKept(SurfaceKeepers, &TDDDDSurfaceKeeper::RebuildObject);
}

void TDDDDSurfaceKeeper::RestoreObject() {
    if (!Surface->IsLost())
        return;
    Surface->RestoreIfLost();
    Trace("サーフェスを復元します");
    Surface->Reload();
}

void TDDDDSurfaceKeeper::RebuildObject() {
    Surface->Desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
    Trace("サーフェスを再構築します");
    if (Engine->DirectDraw2->CreateSurface(&Surface->Desc, &Surface->Surface, nullptr) != DD_OK) {
        Trace("システムメモリにサーフェスを再構築します");
        Surface->Desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
        CheckResult(Engine->DirectDraw2->CreateSurface(&Surface->Desc, &Surface->Surface, nullptr),
                    "サーフェスを作れませんでした");
    }
    DDCOLORKEY key{Surface->ColorKey, Surface->ColorKey};
    Surface->Surface->SetColorKey(DDCKEY_SRCBLT, &key);
    Surface->Reload();
}
