// The DirectDraw object and the entry points that enumerate drivers and create it.
#include "SoftDirectDraw.h"

#include "GpuBlitter.h"
#include "GpuRaster.h"
#include "SoftClipper.h"
#include "SoftDirect3D.h"
#include "SoftPalette.h"
#include "SoftSurface.h"
#include "platform/MMSystem.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

namespace directx {

namespace {

// Whether a surface of these caps may live on the GPU as far as Direct3D goes: a device target,
// texture or Z-buffer only where the GPU's Direct3D device can draw it (targets of 16 or 32
// bits, Z-buffers of 16- or 32-bit cells); everything else always.
bool Direct3DOnGpu(DWORD caps, const PixelFormat& format) {
    if (!(caps & (DDSCAPS_3DDEVICE | DDSCAPS_TEXTURE | DDSCAPS_ZBUFFER)))
        return true;
    if ((caps & DDSCAPS_3DDEVICE) && !GpuRaster::Draws(format))
        return false;
    if ((caps & DDSCAPS_ZBUFFER) && format.BytesPerPixel() < 2)
        return false;
    return GpuRaster::Get() != nullptr;
}

bool ValidSurfaceDesc(const DDSURFACEDESC* desc) {
    return desc && desc->dwSize == sizeof(DDSURFACEDESC);
}

LONG PitchFor(int width, int bytesPerPixel) {
    // Rows start on 8-byte boundaries, as display memory lays them out.
    return static_cast<LONG>((static_cast<std::int64_t>(width) * bytesPerPixel + 7) & ~7LL);
}

DDSURFACEDESC ModeDesc(const DisplayMode& mode, DWORD refreshRate) {
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof(DDSURFACEDESC);
    desc.dwFlags = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT | DDSD_REFRESHRATE;
    desc.dwWidth = static_cast<DWORD>(mode.width);
    desc.dwHeight = static_cast<DWORD>(mode.height);
    const PixelFormat format = PixelFormat::ForDisplay(mode.bitsPerPixel);
    desc.lPitch = PitchFor(mode.width, format.BytesPerPixel());
    desc.ddpfPixelFormat = format.ToDD();
    desc.dwRefreshRate = refreshRate;
    return desc;
}

} // namespace

SoftDirectDraw::SoftDirectDraw(const DriverEntry& driver) : TTwoVersions(0), driver_(driver) {
    Adapter().objects.push_back(this);
}

SoftDirectDraw::~SoftDirectDraw() {
    LeaveExclusive();
    if (setMode_) {
        setMode_ = false;
        Adapter().ChangeMode(Adapter().DesktopMode());
    }
    // Releasing DirectDraw ends its surfaces; callers may still hold and release them.
    const std::vector<SoftSurface*> surfaces = surfaces_;
    for (SoftSurface* surface : surfaces) {
        const bool unreferenced = surface->chainFront_ && surface->refs_ == 0;
        surface->Orphan();
        if (unreferenced)
            delete surface; // a back buffer nobody asked for
        else
            Adapter().orphans.insert(surface);
    }
    surfaces_.clear();
    auto& objects = Adapter().objects;
    objects.erase(std::remove(objects.begin(), objects.end(), this), objects.end());
}

HRESULT SoftDirectDraw::QueryInterface(REFIID riid, LPVOID* ppvObj) {
    if (HRESULT f = Fault("IDirectDraw2::QueryInterface"))
        return f;
    return Query(riid, ppvObj);
}

HRESULT SoftDirectDraw::Query(REFIID riid, LPVOID* ppvObj) {
    return AnswerVersions(IID_IDirectDraw, IID_IDirectDraw2, riid, ppvObj,
                          [&] { return QueryDirect3D(*this, riid, ppvObj); });
}

HRESULT SoftDirectDraw::CreateClipper(DWORD dwFlags, LPDIRECTDRAWCLIPPER* out, IUnknown* outer) {
    if (HRESULT f = Fault("IDirectDraw2::CreateClipper"))
        return f;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (!out || dwFlags != 0)
        return DDERR_INVALIDPARAMS;
    *out = new SoftClipper();
    return DD_OK;
}

HRESULT SoftDirectDraw::CreatePalette(DWORD dwFlags, LPPALETTEENTRY entries,
                                      LPDIRECTDRAWPALETTE* out, IUnknown* outer) {
    if (HRESULT f = Fault("IDirectDraw2::CreatePalette"))
        return f;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (!out || !entries || !(dwFlags & DDPCAPS_8BIT))
        return DDERR_INVALIDPARAMS;
    *out = new SoftPalette(dwFlags, entries);
    return DD_OK;
}

HRESULT SoftDirectDraw::CreateSurface(LPDDSURFACEDESC desc, LPDIRECTDRAWSURFACE* out,
                                      IUnknown* outer) {
    if (HRESULT f = Fault("IDirectDraw2::CreateSurface"))
        return f;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (!out || !ValidSurfaceDesc(desc) || !(desc->dwFlags & DDSD_CAPS))
        return DDERR_INVALIDPARAMS;
    *out = nullptr;
    const DWORD caps = desc->ddsCaps.dwCaps;
    if ((caps & DDSCAPS_SYSTEMMEMORY) && (caps & DDSCAPS_VIDEOMEMORY))
        return DDERR_INVALIDCAPS;
    if (caps & DDSCAPS_PRIMARYSURFACE)
        return CreateChain(*desc, out);
    if ((caps & (DDSCAPS_FLIP | DDSCAPS_BACKBUFFER)) || (desc->dwFlags & DDSD_BACKBUFFERCOUNT))
        return DDERR_INVALIDCAPS; // only the primary surface flips here
    if ((desc->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT) ||
        desc->dwWidth == 0 || desc->dwHeight == 0)
        return DDERR_INVALIDPARAMS;
    if (desc->dwWidth > 8192 || desc->dwHeight > 8192)
        return DDERR_TOOBIGSIZE;

    SoftSurface::Shape shape;
    shape.width = static_cast<int>(desc->dwWidth);
    shape.height = static_cast<int>(desc->dwHeight);
    if (caps & DDSCAPS_ZBUFFER) {
        DWORD depth = 0;
        if (desc->dwFlags & DDSD_ZBUFFERBITDEPTH)
            depth = desc->dwZBufferBitDepth;
        else if ((desc->dwFlags & DDSD_PIXELFORMAT) &&
                 (desc->ddpfPixelFormat.dwFlags & DDPF_ZBUFFER))
            depth = desc->ddpfPixelFormat.dwZBufferBitDepth;
        if (depth != 16 && depth != 24 && depth != 32)
            return DDERR_INVALIDPIXELFORMAT;
        shape.format = PixelFormat::ForDepthBuffer(static_cast<int>(depth));
    } else if (desc->dwFlags & DDSD_PIXELFORMAT) {
        if (desc->ddpfPixelFormat.dwSize != sizeof(DDPIXELFORMAT))
            return DDERR_INVALIDPARAMS;
        const auto format = PixelFormat::FromDD(desc->ddpfPixelFormat);
        if (!format || format->IsZBuffer())
            return DDERR_INVALIDPIXELFORMAT;
        shape.format = *format;
    } else {
        shape.format = PixelFormat::ForDisplay(Adapter().CurrentMode().bitsPerPixel);
    }

    const LONG pitch = PitchFor(shape.width, shape.format.BytesPerPixel());
    const DWORD bytes = static_cast<DWORD>(pitch) * static_cast<DWORD>(shape.height);
    DWORD placement = caps & ~(DDSCAPS_SYSTEMMEMORY | DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM |
                               DDSCAPS_NONLOCALVIDMEM);
    const bool hardwareVideo = (driver_.surfaceCaps & DDSCAPS_VIDEOMEMORY) != 0;
    if (caps & DDSCAPS_SYSTEMMEMORY) {
        placement |= DDSCAPS_SYSTEMMEMORY;
    } else if (caps & DDSCAPS_VIDEOMEMORY) {
        const bool nonLocal = (caps & DDSCAPS_NONLOCALVIDMEM) != 0;
        if (!hardwareVideo || !Adapter().Reserve(bytes, nonLocal))
            return DDERR_OUTOFVIDEOMEMORY;
        placement |=
            DDSCAPS_VIDEOMEMORY | (nonLocal ? DDSCAPS_NONLOCALVIDMEM : DDSCAPS_LOCALVIDMEM);
        shape.chargedBytes = bytes;
        shape.nonLocal = nonLocal;
    } else if (hardwareVideo && Adapter().Reserve(bytes, false)) {
        // No placement asked: video memory while it lasts, then system memory.
        placement |= DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM;
        shape.chargedBytes = bytes;
    } else {
        placement |= DDSCAPS_SYSTEMMEMORY;
    }
    shape.caps = placement;
    // Video memory is the GPU's where there is one; Direct3D's targets, textures and depth
    // buffers only where the GPU's Direct3D device draws them.
    shape.gpu = (placement & DDSCAPS_VIDEOMEMORY) &&
                GpuStore::Holds(shape.format.BytesPerPixel()) && GpuBlitter::Get() &&
                Direct3DOnGpu(caps, shape.format);
    auto* surface = new SoftSurface(this, shape);
    surfaces_.push_back(surface);
    if (desc->dwFlags & DDSD_CKSRCBLT)
        surface->SetColorKey(DDCKEY_SRCBLT, &desc->ddckCKSrcBlt);
    *out = surface;
    return DD_OK;
}

HRESULT SoftDirectDraw::CreateChain(const DDSURFACEDESC& desc, LPDIRECTDRAWSURFACE* out) {
    if (level_ == 0)
        return DDERR_NOCOOPERATIVELEVELSET;
    if (primary_)
        return DDERR_PRIMARYSURFACEALREADYEXISTS;
    if (desc.dwFlags & (DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT))
        return DDERR_INVALIDPARAMS;
    const DWORD caps = desc.ddsCaps.dwCaps;
    const bool flipping = (caps & DDSCAPS_FLIP) != 0;
    DWORD backBuffers = 0;
    if (flipping) {
        if (!(caps & DDSCAPS_COMPLEX) || !(desc.dwFlags & DDSD_BACKBUFFERCOUNT) ||
            desc.dwBackBufferCount == 0 || desc.dwBackBufferCount > 3)
            return DDERR_INVALIDPARAMS;
        if (!exclusive_)
            return DDERR_NOEXCLUSIVEMODE;
        backBuffers = desc.dwBackBufferCount;
    } else if (desc.dwFlags & DDSD_BACKBUFFERCOUNT) {
        return DDERR_INVALIDPARAMS;
    }
    const DisplayMode mode = Adapter().CurrentMode();
    SoftSurface::Shape shape;
    shape.width = mode.width;
    shape.height = mode.height;
    shape.format = PixelFormat::ForDisplay(mode.bitsPerPixel);
    shape.primary = true;
    const DWORD bytes = static_cast<DWORD>(PitchFor(mode.width, shape.format.BytesPerPixel())) *
                        static_cast<DWORD>(mode.height);
    // The visible screen is display memory already; only the back buffers take more of it.
    if (backBuffers && !Adapter().Reserve(bytes * backBuffers, false))
        return DDERR_OUTOFVIDEOMEMORY;
    const DWORD common = DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM |
                         (caps & (DDSCAPS_3DDEVICE | DDSCAPS_COMPLEX | DDSCAPS_FLIP));
    shape.caps =
        common | DDSCAPS_PRIMARYSURFACE | DDSCAPS_VISIBLE | (flipping ? DDSCAPS_FRONTBUFFER : 0);
    // A full-screen flipping chain is drawn on the GPU where there is one.
    shape.gpu = flipping && GpuStore::Holds(shape.format.BytesPerPixel()) && GpuBlitter::Get() &&
                Direct3DOnGpu(caps, shape.format);
    auto* front = new SoftSurface(this, shape);
    front->backBufferCount_ = backBuffers;
    if (flipping) {
        // The presenter reads the front itself: a flip only exchanges the chain's memory.
        front->live_ = std::make_shared<TLivePicture>();
        // Its frames go to the presenter on the GPU where the presenter's context can share
        // the drawing one's (made on the window system's display).
        if (shape.gpu && (front->frames_ = SoftSurface::HandOverToPresenter()))
            front->live_->UseGpuFrames(front->frames_);
        front->RefreshLive();
    }
    surfaces_.push_back(front);
    SoftSurface* previous = front;
    for (DWORD i = 0; i < backBuffers; ++i) {
        SoftSurface::Shape back = shape;
        back.caps = common | (i == 0 ? DDSCAPS_BACKBUFFER : 0);
        back.chargedBytes = bytes;
        auto* surface = new SoftSurface(this, back);
        surface->refs_ = 0; // owned by the front; GetAttachedSurface hands out references
        surface->chainFront_ = front;
        previous->chainNext_ = surface;
        previous = surface;
        surfaces_.push_back(surface);
    }
    primary_ = front;
    *out = front;
    return DD_OK;
}

HRESULT SoftDirectDraw::EnumDisplayModes(DWORD dwFlags, LPDDSURFACEDESC filter, LPVOID context,
                                         LPDDENUMMODESCALLBACK callback) {
    if (HRESULT f = Fault("IDirectDraw2::EnumDisplayModes"))
        return f;
    if (!callback || (filter && filter->dwSize != sizeof(DDSURFACEDESC)))
        return DDERR_INVALIDPARAMS;
    const bool withRates = (dwFlags & 1) != 0; // DDEDM_REFRESHRATES
    for (const DisplayMode& mode : Adapter().DisplayModes()) {
        if (filter) {
            if ((filter->dwFlags & DDSD_WIDTH) && filter->dwWidth != DWORD(mode.width))
                continue;
            if ((filter->dwFlags & DDSD_HEIGHT) && filter->dwHeight != DWORD(mode.height))
                continue;
            if ((filter->dwFlags & DDSD_PIXELFORMAT) &&
                filter->ddpfPixelFormat.dwRGBBitCount != DWORD(mode.bitsPerPixel))
                continue;
            if ((filter->dwFlags & DDSD_REFRESHRATE) && filter->dwRefreshRate != 0 &&
                filter->dwRefreshRate != 60)
                continue;
        }
        DDSURFACEDESC desc = ModeDesc(mode, withRates ? 60 : 0);
        if (callback(&desc, context) == DDENUMRET_CANCEL)
            break;
    }
    return DD_OK;
}

HRESULT SoftDirectDraw::FlipToGDISurface() {
    if (HRESULT f = Fault("IDirectDraw2::FlipToGDISurface"))
        return f;
    if (!primary_ || !primary_->chainNext_)
        return DD_OK;
    // Flip until the memory the front started with, where GDI draws, is visible again.
    for (DWORD i = 0; i <= primary_->backBufferCount_; ++i) {
        if (primary_->bits_.data() == primary_->gdiBits_)
            break;
        if (primary_->Busy() || primary_->Lost())
            break;
        primary_->RotateChain(primary_->Chain());
    }
    for (SoftSurface* s : primary_->Chain())
        s->Touch();
    primary_->Changed(primary_->Bounds());
    return DD_OK;
}

HRESULT SoftDirectDraw::GetCaps(LPDDCAPS driverCaps, LPDDCAPS helCaps) {
    if (HRESULT f = Fault("IDirectDraw2::GetCaps"))
        return f;
    if ((!driverCaps && !helCaps) || (driverCaps && driverCaps->dwSize != sizeof(DDCAPS)) ||
        (helCaps && helCaps->dwSize != sizeof(DDCAPS)))
        return DDERR_INVALIDPARAMS;
    if (driverCaps)
        *driverCaps = DescribeCaps(driver_, true);
    if (helCaps)
        *helCaps = DescribeCaps(driver_, false);
    return DD_OK;
}

HRESULT SoftDirectDraw::GetDisplayMode(LPDDSURFACEDESC desc) {
    if (HRESULT f = Fault("IDirectDraw2::GetDisplayMode"))
        return f;
    if (!ValidSurfaceDesc(desc))
        return DDERR_INVALIDPARAMS;
    *desc = ModeDesc(Adapter().CurrentMode(), 60);
    return DD_OK;
}

HRESULT SoftDirectDraw::RestoreDisplayMode() {
    if (HRESULT f = Fault("IDirectDraw2::RestoreDisplayMode"))
        return f;
    if (setMode_) {
        setMode_ = false;
        if (!(Adapter().CurrentMode() == Adapter().DesktopMode()))
            Adapter().ChangeMode(Adapter().DesktopMode());
    }
    return DD_OK;
}

void SoftDirectDraw::LeaveExclusive() {
    if (!exclusive_)
        return;
    exclusive_ = false;
    if (Adapter().exclusiveOwner == this)
        Adapter().exclusiveOwner = nullptr;
    if (deactivationHandler_)
        RemoveDeactivationHandler(deactivationHandler_);
    deactivationHandler_ = 0;
    CoverScreen(window_, false);
}

HRESULT SoftDirectDraw::SetCooperativeLevel(HWND window, DWORD flags) {
    if (HRESULT f = Fault("IDirectDraw2::SetCooperativeLevel"))
        return f;
    const bool normal = (flags & DDSCL_NORMAL) != 0;
    const bool exclusive = (flags & DDSCL_EXCLUSIVE) != 0;
    const bool fullScreen = (flags & DDSCL_FULLSCREEN) != 0;
    if (normal == exclusive || exclusive != fullScreen)
        return DDERR_INVALIDPARAMS;
    if (window && !IsWindow(window))
        return DDERR_INVALIDPARAMS;
    if (exclusive) {
        if (!window)
            return DDERR_INVALIDPARAMS;
        if (Adapter().exclusiveOwner && Adapter().exclusiveOwner != this)
            return DDERR_EXCLUSIVEMODEALREADYSET;
    }
    if (exclusive_ && (!exclusive || window != window_)) {
        LeaveExclusive();
        RestoreDisplayMode();
    }
    window_ = window;
    level_ = flags;
    if (exclusive && !exclusive_) {
        exclusive_ = true;
        Adapter().exclusiveOwner = this;
        CoverScreen(window_, true);
        // Losing the focus in full screen loses the surfaces, as another program would
        // take the display over.
        deactivationHandler_ = AddDeactivationHandler(window_, [this] { LoseSurfaces(); });
    }
    return DD_OK;
}

HRESULT SoftDirectDraw::SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refreshRate,
                                       DWORD flags) {
    if (HRESULT f = Fault("IDirectDraw2::SetDisplayMode"))
        return f;
    if (flags != 0)
        return DDERR_INVALIDPARAMS;
    if (Adapter().exclusiveOwner && Adapter().exclusiveOwner != this)
        return DDERR_NOEXCLUSIVEMODE;
    const DisplayMode wanted{static_cast<int>(width), static_cast<int>(height),
                             static_cast<int>(bpp)};
    const auto modes = Adapter().DisplayModes();
    if (std::find(modes.begin(), modes.end(), wanted) == modes.end() ||
        (refreshRate != 0 && refreshRate != 60))
        return DDERR_INVALIDMODE;
    if (!(Adapter().CurrentMode() == wanted))
        Adapter().ChangeMode(wanted);
    setMode_ = !(wanted == Adapter().DesktopMode());
    return DD_OK;
}

HRESULT SoftDirectDraw::WaitForVerticalBlank(DWORD flags, HANDLE) {
    if (HRESULT f = Fault("IDirectDraw2::WaitForVerticalBlank"))
        return f;
    if (flags == DDWAITVB_BLOCKBEGINEVENT)
        return DDERR_UNSUPPORTED;
    if (flags != DDWAITVB_BLOCKBEGIN && flags != DDWAITVB_BLOCKEND)
        return DDERR_INVALIDPARAMS;
    // A virtual 60 Hz display: blanks begin at the millisecond counts k * 1000 / 60.
    const DWORD start = timeGetTime();
    const std::uint64_t frame = std::uint64_t{start} * 60 / 1000 + 1;
    const std::uint64_t blank = (frame * 1000 + 59) / 60;
    const std::int32_t wait = static_cast<std::int32_t>(blank - start);
    while (ElapsedMs(timeGetTime(), start) < wait)
        std::this_thread::yield();
    return DD_OK;
}

HRESULT SoftDirectDraw::GetAvailableVidMem(LPDDSCAPS caps, DWORD* total, DWORD* free) {
    if (HRESULT f = Fault("IDirectDraw2::GetAvailableVidMem"))
        return f;
    if (!caps || (!total && !free))
        return DDERR_INVALIDPARAMS;
    const bool nonLocal = (caps->dwCaps & DDSCAPS_NONLOCALVIDMEM) != 0;
    if (total)
        *total = nonLocal ? Adapter().NonLocalMemoryTotal() : Adapter().VideoMemoryTotal();
    if (free)
        *free = nonLocal ? Adapter().NonLocalMemoryFree() : Adapter().VideoMemoryFree();
    return DD_OK;
}

void SoftDirectDraw::LoseSurfaces() {
    for (SoftSurface* surface : surfaces_)
        surface->MarkLost();
}

void SoftDirectDraw::Forget(SoftSurface* surface) {
    surfaces_.erase(std::remove(surfaces_.begin(), surfaces_.end(), surface), surfaces_.end());
    if (primary_ == surface)
        primary_ = nullptr;
}

void SoftDirectDraw::Present(SoftSurface& primary, const RECT& changed) {
    const TPixelView view = primary.View();
    if (!view.bits)
        return;
    if (exclusive_) {
        PresentScaledToWindow(window_, view);
        return;
    }
    HWND target =
        primary.clipper_ && primary.clipper_->Window() ? primary.clipper_->Window() : window_;
    RECT client{};
    POINT origin{};
    if (!target || !GetClientRect(target, &client) || !ClientToScreen(target, &origin))
        return;
    RECT area{std::max(changed.left, origin.x), std::max(changed.top, origin.y),
              std::min<LONG>(changed.right, origin.x + client.right),
              std::min<LONG>(changed.bottom, origin.y + client.bottom)};
    area.left = std::max<LONG>(area.left, 0);
    area.top = std::max<LONG>(area.top, 0);
    area.right = std::min<LONG>(area.right, primary.Width());
    area.bottom = std::min<LONG>(area.bottom, primary.Height());
    if (area.right <= area.left || area.bottom <= area.top)
        return;
    PresentToWindow(target, area.left - origin.x, area.top - origin.y, view, area);
}

void SoftDirectDraw::PresentLive(SoftSurface& front) {
    if (!exclusive_ || !front.live_ || !IsWindow(window_))
        return;
    front.live_->HandOver(window_);
}

HWND SoftDirectDraw::StretchTarget(const SoftSurface& primary, const RECT& dest,
                                   RECT* client) const {
    HWND target =
        primary.clipper_ && primary.clipper_->Window() ? primary.clipper_->Window() : window_;
    POINT origin{};
    if (!target || !IsWindow(target) || !ClientToScreen(target, &origin))
        return nullptr;
    *client = RECT{dest.left - origin.x, dest.top - origin.y, dest.right - origin.x,
                   dest.bottom - origin.y};
    return target;
}

bool SoftDirectDraw::PresentStretched(SoftSurface& primary, const TPixelView& source,
                                      const RECT& from, const RECT& dest) {
    RECT client{};
    HWND target = StretchTarget(primary, dest, &client);
    if (target)
        PresentStretchedToWindow(target, client, source, from);
    return target != nullptr;
}

bool SoftDirectDraw::PresentStretchedOnGpu(SoftSurface& primary,
                                           const std::shared_ptr<gpu::FrameHandOver>& frames,
                                           const TPixelView& twin, const RECT& from,
                                           const RECT& dest) {
    RECT client{};
    HWND target = StretchTarget(primary, dest, &client);
    if (target)
        PresentGpuFramesToWindow(target, client, frames, twin, from);
    return target != nullptr;
}

} // namespace directx

using namespace directx;

HRESULT DirectDrawEnumerateA(LPDDENUMCALLBACKA lpCallback, LPVOID lpContext) {
    if (HRESULT f = Adapter().Intercept("DirectDrawEnumerateA"))
        return f;
    if (!lpCallback)
        return DDERR_INVALIDPARAMS;
    const std::vector<DriverEntry> drivers = Adapter().Drivers();
    for (const DriverEntry& driver : drivers) {
        GUID guid = driver.guid.value_or(GUID{});
        std::string description = driver.description;
        std::string name = driver.name;
        if (!lpCallback(driver.guid ? &guid : nullptr, description.data(), name.data(), lpContext))
            break;
    }
    return DD_OK;
}

HRESULT DirectDrawCreate(GUID* lpGUID, LPDIRECTDRAW* lplpDD, IUnknown* pUnkOuter) {
    if (HRESULT f = Adapter().Intercept("DirectDrawCreate"))
        return f;
    if (pUnkOuter)
        return CLASS_E_NOAGGREGATION;
    if (!lplpDD)
        return DDERR_INVALIDPARAMS;
    *lplpDD = nullptr;
    const DriverEntry* chosen = nullptr;
    for (const DriverEntry& driver : Adapter().Drivers())
        if (lpGUID ? (driver.guid && *driver.guid == *lpGUID) : !driver.guid) {
            chosen = &driver;
            break;
        }
    if (!chosen)
        return DDERR_INVALIDDIRECTDRAWGUID;
    auto* object = new SoftDirectDraw(*chosen);
    object->First()->AddRef();
    *lplpDD = object->First();
    return DD_OK;
}
