// Building the DirectDraw set-up for a display mode, releasing it, presenting frames and
// bringing lost surfaces back.
#include "dddd.h"
#include "dddd_private.h"
#include "directx/PixelFormat.h"
#include "directx/ScreenDevice.h"
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

// Releases the interface and halts when others still hold it. The field lets go of the
// pointer only once the release is checked: a halted release leaves it held, so the
// shutdown that follows releases it once more.
template <typename T> void ReleaseChecked(ComPtr<T>& field, const char* message) {
    if (!field)
        return;
    CheckResult(static_cast<int>(field->Release()), message);
    field.Detach();
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
    auto* found = static_cast<ComPtr<IDirectDraw>*>(context);
    Trace(Format("Enumerated DDraw Driver ... %s", description));
    if (!guid)
        return TRUE;
    IDirectDraw* object = nullptr;
    CheckResult(DirectDrawCreate(guid, &object, nullptr), "DirectDrawドライバの作成に失敗しました");
    DDCAPS hardware{}, emulation{};
    hardware.dwSize = emulation.dwSize = sizeof(DDCAPS);
    if (object->GetCaps(&hardware, &emulation) == DD_OK && (hardware.dwCaps & DDCAPS_3D) &&
        (hardware.ddsCaps.dwCaps & DDSCAPS_TEXTURE)) {
        found->Attach(object);
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
    CheckResult(DirectDrawCreate(nullptr, DirectDraw.Put(), nullptr),
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
    LeaveWindowPlace(fullScreen);
    Busy = true;
    ReleaseAll();
    TakeWindow();
    ReturnToWindowPlace(fullScreen);

    OpenDirectDraw(fullScreen, bitCount, driverName);
    const TScreenSurfaces surfaces = fullScreen
                                         ? CreateFlippingChain(width, height, bitCount, refreshRate)
                                         : CreateWindowedSurfaces(width, height);
    RecordMode(fullScreen, width, height, bitCount, refreshRate, surfaces);
    FillPaletteEntries(fullScreen);
    if (bitCount == 8)
        CreateScreenPalette(surfaces);
    if (Use3D)
        Initialize3D(surfaces.back, width, height);

    Busy = false;
    if (state_ == TDDDDState::Initialized) {
        RebuildKeptObjects();
        if (OnChangeDisplayMode)
            OnChangeDisplayMode(this);
    }
    if (bitCount != 8)
        DescribeBackBufferFormat();
}

// A window that goes full screen gets its place back when the engine returns to a window.
void TDDDD::LeaveWindowPlace(bool fullScreen) {
    if (fullScreen && Owner && !windowedBounds_)
        windowedBounds_ =
            RECT{Owner->FormLeft(), Owner->FormTop(), Owner->FormLeft() + Owner->ClientWidth(),
                 Owner->FormTop() + Owner->ClientHeight()};
    if (fullScreen && Owner)
        Owner->ShowForm();
}

void TDDDD::ReturnToWindowPlace(bool fullScreen) {
    if (fullScreen || !Owner || !windowedBounds_)
        return;
    const RECT bounds = *windowedBounds_;
    windowedBounds_.reset();
    Owner->SetBounds(bounds.left, bounds.top, bounds.right - bounds.left,
                     bounds.bottom - bounds.top);
}

void TDDDD::OpenDirectDraw(bool fullScreen, int bitCount, const std::string& driverName) {
    CreateDriver(fullScreen, driverName);
    CheckResult(DirectDraw->QueryInterface(IID_IDirectDraw2, DirectDraw2.PutVoid()),
                "DirectDrawオブジェクトとDirectDraw2オブジェクトの連結に失敗しました");
    DDCAPS hardware{}, emulation{};
    hardware.dwSize = emulation.dwSize = sizeof(DDCAPS);
    DirectDraw2->GetCaps(&hardware, &emulation);
    HALAvailable = (hardware.dwCaps & DDCAPS_3D) && bitCount > 8;
    Trace(Format("Caps:%016" PRIX64, static_cast<std::uint64_t>(hardware.dwCaps)));
}

// Full screen takes the named driver, or for 3D the first with 3D hardware; a window always
// the default driver.
void TDDDD::CreateDriver(bool fullScreen, const std::string& driverName) {
    if (!fullScreen) {
        Trace("ウィンドウモードで初期化を開始します");
        CreateDefaultDriver();
        return;
    }
    Trace("フルスクリーンで初期化を開始します");
    if (!driverName.empty()) {
        Trace("指定されたドライバ " + driverName + " を使用します");
        DirectDraw.Attach(FindDriverByName(driverName));
        if (!DirectDraw) {
            Trace("指定されたドライバが見つからなかったので、デフォルトのドライバを使用します");
            CreateDefaultDriver();
        }
        return;
    }
    Trace("デフォルトのドライバを使用します");
    if (Use3D)
        DirectDrawEnumerateA(Find3DDriver, &DirectDraw);
    if (!DirectDraw)
        CreateDefaultDriver();
}

TDDDD::TScreenSurfaces TDDDD::CreateFlippingChain(int width, int height, int bitCount,
                                                  int refreshRate) {
    TScreenSurfaces surfaces;
    if (Owner)
        Owner->SetBounds(0, 0, width, height);
    CheckResult(DirectDraw2->SetCooperativeLevel(Window, DDSCL_FULLSCREEN | DDSCL_ALLOWREBOOT |
                                                             DDSCL_EXCLUSIVE | DDSCL_ALLOWMODEX),
                "協調レベルの設定に失敗しました");
    CheckResult(DirectDraw2->SetDisplayMode(width, height, bitCount, refreshRate, 0),
                Format("画面モード%dx%dx%dの初期化に失敗しました", width, height, bitCount));
    DDSURFACEDESC desc = FreshDesc();
    desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    desc.ddsCaps.dwCaps =
        DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | (Use3D ? DDSCAPS_3DDEVICE : 0);
    desc.dwBackBufferCount = 1;
    CheckResult(DirectDraw2->CreateSurface(&desc, &surfaces.primary, nullptr),
                "プライマリ・サーフェスの作成に失敗しました");
    DDSCAPS backCaps{DDSCAPS_BACKBUFFER};
    CheckResult(surfaces.primary->GetAttachedSurface(&backCaps, &surfaces.back),
                "バックバッファの作成に失敗しました");
    if (Owner) {
        Owner->SetBounds(Owner->FormLeft(), Owner->FormTop(), GetSystemMetrics(SM_CXSCREEN),
                         GetSystemMetrics(SM_CYSCREEN));
        Owner->BringToFront();
    }
    return surfaces;
}

TDDDD::TScreenSurfaces TDDDD::CreateWindowedSurfaces(int width, int height) {
    TScreenSurfaces surfaces;
    CheckResult(DirectDraw2->SetCooperativeLevel(Window, DDSCL_NORMAL),
                "協調レベルの設定に失敗しました");
    DDSURFACEDESC desc = FreshDesc();
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    CheckResult(DirectDraw2->CreateSurface(&desc, &surfaces.primary, nullptr),
                "プライマリ・サーフェスの作成に失敗しました");
    DDSURFACEDESC backDesc = FreshDesc();
    backDesc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    backDesc.dwWidth = width;
    backDesc.dwHeight = height;
    backDesc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | WindowedBackBufferMemory();
    // Video memory that is not there leaves the back buffer to system memory.
    if (DirectDraw2->CreateSurface(&backDesc, &surfaces.back, nullptr) != DD_OK) {
        surfaces.back = nullptr;
        backDesc.ddsCaps.dwCaps &= ~DDSCAPS_VIDEOMEMORY;
        CheckResult(DirectDraw2->CreateSurface(&backDesc, &surfaces.back, nullptr),
                    "バックバッファの作成に失敗しました");
    }
    dddd::TracePlacement("バックバッファ", backDesc.ddsCaps.dwCaps);
    if (!AllowRakugaki)
        AttachClipper(surfaces.primary);
    return surfaces;
}

DWORD TDDDD::WindowedBackBufferMemory() const {
    const DWORD device = Use3D ? DDSCAPS_3DDEVICE : 0;
    switch (BackBufferLocationAtWindowed) {
    case bmtDefault:
    case bmtCompatible:
        if (Use3D) {
            const bool noHal = (D3DOptions & DontUseHAL) || !HALAvailable;
            return (noHal ? DDSCAPS_SYSTEMMEMORY : DDSCAPS_VIDEOMEMORY) | device;
        }
        return BackBufferLocationAtWindowed == bmtDefault ? DDSCAPS_VIDEOMEMORY
                                                          : DDSCAPS_SYSTEMMEMORY;
    case bmtSystemMemory:
        return DDSCAPS_SYSTEMMEMORY | device;
    case bmtVideoMemory:
        return DDSCAPS_VIDEOMEMORY | device;
    }
    return DDSCAPS_VIDEOMEMORY;
}

// The clipper keeps copies to the primary inside the form's window.
void TDDDD::AttachClipper(IDirectDrawSurface* primary) {
    CheckResult(DirectDraw2->CreateClipper(0, Clipper.Put(), nullptr),
                "Clipperオブジェクトの作成に失敗しました");
    CheckResult(Clipper->SetHWnd(0, Window), "Clipperのフォームへの割り当てに失敗しました");
    CheckResult(primary->SetClipper(Clipper),
                "Clipperのプライマリサーフェスへの割り当てに失敗しました");
}

void TDDDD::RecordMode(bool fullScreen, int width, int height, int bitCount, int refreshRate,
                       const TScreenSurfaces& surfaces) {
    BitCount = bitCount;
    FullScreen = fullScreen;
    RefreshRate = refreshRate;
    ScreenWidth = width;
    ScreenHeight = height;
    PrimarySurface = std::make_unique<TDDDDGenSurface>(this, surfaces.primary, width, height);
    BackBuffer = std::make_unique<TDDDDGenSurface>(this, surfaces.back, width, height);
}

// Without 3D every entry is the application's; full-screen 3D takes a fixed colour cube; 3D
// in a window keeps the system's 20 static colours and leaves the rest to the device.
void TDDDD::FillPaletteEntries(bool fullScreen) {
    Palette.Reset();
    if (!Use3D) {
        for (PALETTEENTRY& entry : PaletteEntries)
            entry.peFlags = PC_NOCOLLAPSE;
    } else if (fullScreen) {
        PaletteEntries = directx::CubePalette(D3DPAL_READONLY);
    } else {
        GetSystemPaletteEntries(nullptr, 0, 256, PaletteEntries.data());
        for (int i = 0; i < 256; ++i)
            PaletteEntries[i].peFlags = (i < 10 || i >= 246) ? D3DPAL_READONLY : PC_RESERVED;
    }
}

void TDDDD::CreateScreenPalette(const TScreenSurfaces& surfaces) {
    CheckResult(
        DirectDraw2->CreatePalette(DDPCAPS_8BIT, PaletteEntries.data(), Palette.Put(), nullptr),
        "DirectDrawPaletteの作成に失敗しました");
    CheckResult(surfaces.primary->SetPalette(Palette),
                "DirectDrawPaletteのFrontBufferへの割り当てに失敗しました");
    CheckResult(surfaces.back->SetPalette(Palette),
                "DirectDrawPaletteのBackBufferへの割り当てに失敗しました");
}

void TDDDD::DescribeBackBufferFormat() {
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

void TDDDD::Initialize3D(IDirectDrawSurface* back, int width, int height) {
    const bool hal = !(D3DOptions & DontUseHAL) && HALAvailable;
    CreateZBuffer(back, width, height, hal);
    CreateRetainedMode();
    CheckResult(DirectDraw2->QueryInterface(IID_IDirect3D2, Direct3D.PutVoid()),
                "Direct3Dオブジェクトの作成に失敗しました");
    CreateDevice(back, hal);
    CheckResult(Direct3DRM->CreateDeviceFromD3D(Direct3D, D3DDevice, D3DRMDevice.Put()),
                "Diret3DRMデバイスの作成に失敗しました");
    D3DRMDevice->SetBufferCount(2);
    DDSURFACEDESC zDesc{};
    ZBuffer->GetSurfaceDesc(zDesc);
    UsingHAL = (zDesc.ddsCaps.dwCaps & DDSCAPS_VIDEOMEMORY) != 0;
    Trace(UsingHAL ? "HALでウハウハです" : "HELでシオシオです");
}

// The shallowest depth that can be made, in video memory only beside a video-memory back
// buffer with the hardware device.
void TDDDD::CreateZBuffer(IDirectDrawSurface* back, int width, int height, bool hal) {
    DDSCAPS backCaps{};
    back->GetCaps(&backCaps);
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
    ZBuffer = std::make_unique<TDDDDGenSurface>(this, z, width, height);
}

void TDDDD::CreateRetainedMode() {
    IDirect3DRM* first = nullptr;
    CheckResult(Direct3DRMCreate(&first), "Direct3DRMオブジェクトの作成に失敗しました");
    IDirect3DRM2* second = nullptr;
    // The first interface goes before the check, so that a failed query leaves nothing behind.
    const HRESULT queried =
        first->QueryInterface(IID_IDirect3DRM2, reinterpret_cast<void**>(&second));
    first->Release();
    CheckResult(queried, "Direct3DRM2オブジェクトの作成に失敗しました");
    // The object of an earlier set-up is not needed any more.
    Direct3DRM.Attach(second);
}

// The hardware device when it may be used, then MMX and RGB emulation unless ruled out, and
// the ramp device as the last resort.
void TDDDD::CreateDevice(IDirectDrawSurface* back, bool hal) {
    D3DDeviceKind = TD3DDeviceKind::None;
    HALFailure = DD_OK;
    auto attempt = [&](REFIID device, TD3DDeviceKind kind) {
        const HRESULT result = Direct3D->CreateDevice(device, back, D3DDevice.Put());
        if (result == DD_OK)
            D3DDeviceKind = kind;
        else
            D3DDevice.Detach(); // a failed creation hands back nothing to release
        return result;
    };
    if (hal) {
        const HRESULT result = attempt(IID_IDirect3DHALDevice, TD3DDeviceKind::HAL);
        HALFailure = result;
        if (result != DD_OK)
            Trace(Format(
                "HALデバイスが作れません。Zバッファはシステムメモリに作られています%016" PRIX64,
                static_cast<std::uint64_t>(static_cast<DWORD>(result))));
    }
    if (D3DDeviceKind == TD3DDeviceKind::None && !(D3DOptions & DontUseMMX))
        attempt(IID_IDirect3DMMXDevice, TD3DDeviceKind::MMX);
    if (D3DDeviceKind == TD3DDeviceKind::None && !(D3DOptions & DontUseRGBEmulation))
        attempt(IID_IDirect3DRGBDevice, TD3DDeviceKind::RGBEmulation);
    if (D3DDeviceKind == TD3DDeviceKind::None) {
        CheckResult(Direct3D->CreateDevice(IID_IDirect3DRampDevice, back, D3DDevice.Put()),
                    "Diret3Dデバイスの作成に失敗しました");
        D3DDeviceKind = TD3DDeviceKind::Ramp;
    }
}

void TDDDD::ReleaseAll() {
    Busy = true;
    if (state_ == TDDDDState::PendingFirstInit)
        return;
    Trace("リソースを全て解放します");
    if (state_ == TDDDDState::Initialized) {
        InvalidateTextures();
        if (OnCleanUp)
            OnCleanUp(this);
    }
    // The 3D objects go whenever they exist: Use3D may have been switched off since they
    // were made, and a leftover would keep the DirectDraw object referenced.
    ReleaseChecked(D3DRMDevice, "Direct3DRMデバイスの解放に失敗しました");
    ReleaseChecked(D3DDevice, "Direct3Dデバイスの解放に失敗しました");
    Palette.Reset();
    if (state_ == TDDDDState::Destroying)
        ReleaseChecked(Direct3DRM, "Direct3DRMオブジェクトの解放に失敗しました");
    Direct3D.Reset();
    Clipper.Reset();
    // The wrappers never release their surfaces, so all go in either mode.
    ZBuffer.reset();
    BackBuffer.reset();
    PrimarySurface.reset();
    // A set-up that changed the display mode gives it back; for one in a window there is
    // nothing to give back and the call changes nothing.
    if (DirectDraw2)
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
    // In a window the 20 static colours stay the system's; the rest become ours. The primary's
    // palette realises them into the system palette, so the window shows the new colours.
    std::array<PALETTEENTRY, 256> system{};
    GetSystemPaletteEntries(nullptr, 0, 256, system.data());
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
