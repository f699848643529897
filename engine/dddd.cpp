#include "dddd.h"

#include "dddd_log.h"
#include "directx/PixelFormat.h"
#include "directx/ScreenDevice.h"
#include "forms/Halt.h"
#include "platform/SystemParameters.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr TDisplayModeEntry kModes[] = {
    {false, 640, 480, 8},   {false, 800, 600, 8},   {false, 1024, 768, 8}, {false, 640, 480, 16},
    {false, 800, 600, 16},  {false, 1024, 768, 16}, {false, 640, 480, 24}, {false, 800, 600, 24},
    {false, 1024, 768, 24}, {true, 640, 480, 8},    {true, 800, 600, 8},   {true, 1024, 768, 8},
    {true, 640, 480, 16},   {true, 800, 600, 16},   {true, 1024, 768, 16}, {true, 640, 480, 24},
    {true, 800, 600, 24},   {true, 1024, 768, 24},
};

// Frees and drops the first keeper of the object, if any.
template <typename Keeper, typename Object, typename Member>
void RemoveKeeper(std::vector<std::unique_ptr<Keeper>>& keepers, Object* object, Member member) {
    const auto found = std::find_if(keepers.begin(), keepers.end(), [&](const auto& keeper) {
        return (*keeper).*member == object;
    });
    if (found != keepers.end())
        keepers.erase(found);
}

} // namespace

D3DTLVERTEX MakeTLVertex(D3DVALUE sx, D3DVALUE sy, D3DVALUE sz, D3DVALUE rhw, D3DCOLOR color,
                         D3DCOLOR specular, D3DVALUE tu, D3DVALUE tv) {
    return D3DTLVERTEX{sx, sy, sz, rhw, color, specular, tu, tv};
}

TSingleRect SingleRect(float left, float top, float right, float bottom) {
    return TSingleRect{left, top, right, bottom};
}

TDisplayModeEntry DisplayModeEntry(TDDDDDispMode mode) {
    if (mode < dmWin640x480x8 || mode >= dmWinVariable)
        return {false, 0, 0, 0};
    return kModes[mode];
}

void DescribeMask(DWORD mask, int& shift, int& loss) {
    const directx::MaskChannel channel = directx::MaskChannel::Of(mask);
    shift = channel.shift;
    loss = std::max(0, 8 - channel.bits);
}

TDDDD::TDDDD(TFormBase* owner) : Owner(owner) {
    if (Owner) {
        previousOnPaint_ = Owner->OnPaint;
        previousOnCreate_ = Owner->OnCreate;
        Owner->OnPaint = [this](void* sender) { FormPaintHook(sender); };
        Owner->OnCreate = [this](void* sender) { FormCreateHook(sender); };
    }
    BOOL active = 1;
    SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
    screenSaverWasActive_ = active != 0;
    DirectDrawEnumerateA(EnumDriverCallback, &Drivers);
}

TDDDD::~TDDDD() {
    // Before the first set-up the release does nothing: what a cut-short one made goes with
    // the fields that hold it.
    const bool setUp = state_ != TDDDDState::PendingFirstInit;
    Enter(TDDDDState::Destroying);
    Drivers.clear();
    SetDisableScreenSaver(!screenSaverWasActive_);
    if (OnDestroy)
        OnDestroy(this);
    if (setUp)
        ReleaseAll();
    if (Owner) {
        if (windowProcInstalled_)
            Owner->WindowProc = previousWindowProc_;
        Owner->OnPaint = previousOnPaint_;
        Owner->OnCreate = previousOnCreate_;
    }
}

void TDDDD::Loaded() {
    SetDisableScreenSaver(disableScreenSaver_);
}

void TDDDD::SetDisableScreenSaver(bool value) {
    disableScreenSaver_ = value;
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, value ? 0 : 1, nullptr, SPIF_SENDWININICHANGE);
}

void TDDDD::TakeWindow() {
    if (!Owner)
        return;
    const HWND handle = Owner->Handle();
    if (handle != Window) {
        Window = handle;
        if (windowProcInstalled_) {
            // The procedure belongs to the form object, which keeps it across a new window.
            Owner->WindowProc = [this](TMessage& m) { EngineWndProc(m); };
        }
    }
}

void TDDDD::InstallWindowProc() {
    if (!Owner || windowProcInstalled_)
        return;
    previousWindowProc_ = Owner->WindowProc;
    Owner->WindowProc = [this](TMessage& m) { EngineWndProc(m); };
    windowProcInstalled_ = true;
}

void TDDDD::FormCreateHook(void* sender) {
    TakeWindow();
    if (AutoDisplayModeInitialize && !FullScreen && displayMode_ != dmWinVariable) {
        SetDisplayMode(displayMode_);
        if (GetDesktopBitCount() != BitCount) {
            if (Owner)
                Owner->HideForm();
            char text[160];
            std::snprintf(text, sizeof text,
                          "画面モードが不適切です 色数を%dビットにして起動し直してください",
                          BitCount);
            MessageBoxA(Window, text, "警告", MB_OK | MB_ICONWARNING);
            Halt(text);
        }
    }
    InitializeScreen(false, 128, 128, GetDesktopBitCount(), 0, "");
    if (AutoDisplayModeInitialize)
        SetDisplayMode(displayMode_);
    if (state_ == TDDDDState::PendingFirstInit) {
        Enter(TDDDDState::FirstInit);
        bool needChange = true;
        if (AutoDisplayModeInitialize) {
            needChange =
                FullScreen && !IsDisplayModeAvailable(ScreenWidth, ScreenHeight, BitCount, 0);
            if (!needChange)
                InitializeScreen(FullScreen, ScreenWidth, ScreenHeight, BitCount, 0, "");
        }
        if (previousOnCreate_)
            previousOnCreate_(Owner);
        if (OnInit)
            OnInit(sender, needChange);
        Enter(TDDDDState::Initialized);
        InstallWindowProc();
    }
}

void TDDDD::Enter(TDDDDState next) {
    if (next > state_)
        state_ = next;
}

void TDDDD::FormPaintHook(void*) {
    if (!Owner || !Owner->Active())
        return;
    if (previousOnPaint_)
        previousOnPaint_(Owner);
    if (!Busy) {
        RestoreSurfaces();
        UpdatePalette();
        if (OnRestore)
            OnRestore(this);
    }
}

void TDDDD::EngineWndProc(TMessage& message) {
    // In full screen the form covers the screen as the system reports it: the display mode's
    // size wherever a mode change resizes the desktop, the whole desktop where the mode's
    // picture is scaled onto it.
    const POINT screen{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    switch (message.Msg) {
    case WM_MOVE:
        if (FullScreen && (LowWord(message.LParam) != 0 || HighWord(message.LParam) != 0))
            Owner->SetBounds(0, 0, Owner->ClientWidth(), Owner->ClientHeight());
        break;
    case WM_SIZE:
        if (FullScreen && Owner->WindowState() == wsMaximized) {
            Owner->SetWindowState(wsNormal);
            Owner->SetBounds(Owner->FormLeft(), Owner->FormTop(), screen.x, screen.y);
        }
        break;
    case WM_GETMINMAXINFO:
        if (FullScreen) {
            auto* info = reinterpret_cast<MINMAXINFO*>(message.LParam);
            info->ptMaxSize = screen;
            info->ptMinTrackSize = screen;
            info->ptMaxTrackSize = screen;
            info->ptMaxPosition = POINT{0, 0};
        }
        break;
    case WM_ENTERMENULOOP:
        if (FullScreen)
            Owner->SetBounds(0, 0, screen.x, screen.y);
        if (DirectDraw2)
            DirectDraw2->FlipToGDISurface();
        if (OnEnterMenuLoop)
            OnEnterMenuLoop(this);
        break;
    case WM_EXITMENULOOP:
        if (OnExitMenuLoop)
            OnExitMenuLoop(this);
        break;
    case WM_PALETTECHANGED:
        UpdatePalette();
        break;
    default:
        break;
    }
    if (previousWindowProc_)
        previousWindowProc_(message);
}

void TDDDD::SetDisplayMode(TDDDDDispMode mode) {
    displayMode_ = mode;
    if (mode == dmWinVariable) {
        FullScreen = false;
        ScreenWidth = Owner ? Owner->ClientWidth() : OwnerClientWidth;
        ScreenHeight = Owner ? Owner->ClientHeight() : OwnerClientHeight;
        BitCount = GetDesktopBitCount();
    } else {
        const TDisplayModeEntry entry = DisplayModeEntry(mode);
        FullScreen = entry.fullScreen;
        ScreenWidth = entry.width;
        ScreenHeight = entry.height;
        BitCount = entry.bitCount;
    }
    if (state_ != TDDDDState::PendingFirstInit)
        InitializeScreen(FullScreen, ScreenWidth, ScreenHeight, BitCount, 0, "");
}

TDDDDDispMode TDDDD::GetDisplayMode() {
    WriteDebugLog("ScreenModeプロパティは読み込み禁止です");
    return displayMode_;
}

int TDDDD::GetDesktopBitCount() const {
    return GetDeviceCaps(nullptr, BITSPIXEL);
}

void TDDDD::AddSurface(TDDDDSurface* surface) {
    RemoveKeeper(SurfaceKeepers, surface, &TDDDDSurfaceKeeper::Surface);
    SurfaceKeepers.push_back(std::make_unique<TDDDDSurfaceKeeper>(this, surface));
}

void TDDDD::RemoveSurface(TDDDDSurface* surface) {
    RemoveKeeper(SurfaceKeepers, surface, &TDDDDSurfaceKeeper::Surface);
}

void TDDDD::AddTexture(TDDDDTexture* texture) {
    RemoveKeeper(TextureKeepers, texture, &TDDDDTextureKeeper::Texture);
    TextureKeepers.push_back(std::make_unique<TDDDDTextureKeeper>(this, texture));
}

void TDDDD::RemoveTexture(TDDDDTexture* texture) {
    RemoveKeeper(TextureKeepers, texture, &TDDDDTextureKeeper::Texture);
}
