// Surfaces: memory, locks, device contexts, colour keys, attachments, flipping and surface
// loss. The blits are in SoftSurface_blt.cpp.
#include "SoftSurface.h"

#include "GpuBlitter.h"
#include "SoftClipper.h"
#include "SoftDevice.h"
#include "SoftDirectDraw.h"
#include "SoftPalette.h"
#include "SoftTexture.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

namespace directx {

namespace {

// The desktop's colours, for a palettised surface without a palette of its own.
const DWORD* DesktopColors() {
    static DWORD desktop[256];
    for (int i = 0; i < 256; ++i) {
        const PALETTEENTRY& e = Adapter().systemPalette[i];
        desktop[i] = DWORD{e.peRed} << 16 | DWORD{e.peGreen} << 8 | e.peBlue;
    }
    return desktop;
}

} // namespace

SoftSurface::SoftSurface(SoftDirectDraw* owner, const Shape& shape)
    : owner_(owner), width_(shape.width), height_(shape.height), format_(shape.format),
      caps_(shape.caps), chargedBytes_(shape.chargedBytes), nonLocal_(shape.nonLocal),
      primary_(shape.primary) {
    pitch_ =
        static_cast<LONG>((static_cast<std::int64_t>(width_) * format_.BytesPerPixel() + 7) & ~7LL);
    bits_.assign(static_cast<std::size_t>(pitch_) * height_, 0);
    gdiBits_ = bits_.data();
    if (shape.gpu)
        gpu_ = std::make_unique<GpuStore>(width_, height_, format_.BytesPerPixel());
    Touch();
}

void SoftSurface::ReadBackGpu() {
    if (!gpu_)
        return;
    if (GpuBlitter* blitter = GpuBlitter::Get())
        blitter->FlushFor(*gpu_);
    gpu_->ReadBack(Plane());
}

void SoftSurface::DropGpu() {
    if (!gpu_)
        return;
    if (GpuBlitter* blitter = GpuBlitter::Get())
        blitter->FlushFor(*gpu_);
    gpu_->Drop();
}

void SoftSurface::Touch() {
    static std::atomic<std::uint64_t> stamps{0};
    version_ = ++stamps;
}

SoftSurface::~SoftSurface() {
    if (live_)
        live_->Hide();
    Adapter().orphans.erase(this);
    // Direct3D devices name textures by handle; none may keep a dangling one.
    ForgetTexture(*this);
}

HRESULT SoftSurface::QueryInterface(REFIID riid, LPVOID* ppvObj) {
    if (HRESULT f = Fault("IDirectDrawSurface::QueryInterface"))
        return f;
    return AnswerQuery<IDirectDrawSurface>(this, IID_IDirectDrawSurface, riid, ppvObj,
                                           [&] { return QueryTexture(*this, riid, ppvObj); });
}

void SoftSurface::LastRelease() {
    // A back buffer of a flipping chain lives as long as its front.
    if (!chainFront_)
        Destroy();
}

void SoftSurface::Destroy() {
    if (owner_) {
        for (SoftSurface* member = chainNext_; member;) {
            SoftSurface* next = member->chainNext_;
            member->chainFront_ = nullptr;
            member->chainNext_ = nullptr;
            member->Orphan();
            if (member->refs_ == 0)
                delete member;
            member = next;
        }
        chainNext_ = nullptr;
        Orphan();
    }
    delete this;
}

void SoftSurface::Orphan() {
    if (dc_) {
        DeleteMemoryDC(dc_);
        dc_ = nullptr;
    }
    if (clipper_)
        clipper_->Release();
    clipper_ = nullptr;
    if (palette_) {
        palette_->Detach(this);
        palette_->Release();
    }
    palette_ = nullptr;
    const std::vector<SoftSurface*> attached = std::move(attached_);
    attached_.clear();
    if (owner_) {
        for (SoftSurface* surface : attached)
            surface->Release();
        if (chargedBytes_)
            Adapter().Unreserve(chargedBytes_, nonLocal_);
        owner_->Forget(this);
    }
    chargedBytes_ = 0;
    owner_ = nullptr;
    chainNext_ = nullptr;
    chainFront_ = nullptr;
    for (const auto& frames : {frames_, pieces_})
        if (frames)
            frames->Close(GpuBlitter::Generation());
    frames_.reset();
    pieces_.reset();
    DropGpu();
    gpu_.reset();
    const auto release = [this] {
        bits_.clear();
        bits_.shrink_to_fit();
        return TPixelView{};
    };
    // The presenter may be reading the front's memory.
    if (live_)
        live_->Replace(release);
    else
        release();
    live_.reset();
    deferred_.clear();
    locked_ = false;
}

void SoftSurface::RotateChain(const std::vector<SoftSurface*>& chain) {
    // The front takes the first back buffer's memory, each back buffer the next one's, and
    // the last the old front's: addresses change places, no pixel moves. As the live picture's
    // new memory, so the presenter never reads the old front once the test may draw into it.
    const auto rotate = [&] {
        for (std::size_t k = 0; k + 1 < chain.size(); ++k) {
            chain[k]->bits_.swap(chain[k + 1]->bits_);
            chain[k]->gpu_.swap(chain[k + 1]->gpu_);
        }
    };
    if (live_)
        live_->Replace([&] {
            rotate();
            // Where the presenter does not draw the GPU's frames itself, a shown front is read
            // back for it.
            if (gpu_ && PicturesShown() && !FramesOnGpu())
                ReadBackGpu();
            return LiveView();
        });
    else
        rotate();
}

const DWORD* SoftSurface::Colors() const {
    return palette_ ? palette_->Colors() : DesktopColors();
}

bool SoftSurface::GpuFrameLayout(gpu::FrameLayout* frame) const {
    const auto layout = format_.DirectLayout();
    if (!layout)
        return false;
    switch (*layout) {
    case TPixelLayout::Indexed8:
        *frame = gpu::FrameLayout::Index8;
        return true;
    case TPixelLayout::RGB565:
        *frame = gpu::FrameLayout::RGB565;
        return true;
    case TPixelLayout::XRGB1555:
        *frame = gpu::FrameLayout::XRGB1555;
        return true;
    case TPixelLayout::XRGB8888:
        *frame = gpu::FrameLayout::XRGB8888;
        return true;
    default:
        return false;
    }
}

void SoftSurface::PublishFrame() {
    if (!gpu_ || !frames_ || Lost() || Busy() || bits_.empty())
        return;
    if (frames_->Refused()) {
        // Refused after the last frame went out unread: the presenter reads it from memory.
        if (gpu_->HostStale())
            live_->Write(Bounds(), [this] { ReadBackGpu(); });
        return;
    }
    GpuBlitter* blitter = GpuBlitter::Get();
    gpu::FrameLayout frame;
    if (!blitter || !GpuFrameLayout(&frame))
        return;
    blitter->FlushFor(*gpu_);
    // The store's texture takes what the host wrote first.
    frames_->Publish(gpu_->Framebuffer(Plane()), 0, 0, width_, height_, frame, Colors(),
                     GpuBlitter::Generation());
}

TPixelView SoftSurface::LiveView() const {
    const bool written = (locked_ && !lockedReadOnly_) || dc_;
    return Lost() || written ? TPixelView{} : MemoryView();
}

TPixelView SoftSurface::MemoryView() const {
    TPixelView view;
    const auto layout = format_.DirectLayout();
    if (!layout || bits_.empty())
        return view;
    static_cast<ConstPixelBlock&>(view) = Block();
    view.layout = *layout;
    if (*layout == TPixelLayout::Indexed8)
        view.colorTable = Colors();
    return view;
}

void SoftSurface::RefreshLive() {
    if (live_)
        live_->Publish(LiveView());
}

void SoftSurface::ShowLive() {
    if (owner_ && !Lost())
        owner_->PresentLive(*this);
}

void SoftSurface::MarkLost() {
    lost_ = true;
    DropGpu(); // the GPU's copy goes, as a card's memory did; the keepers draw it again
    RefreshLive();
}

const std::vector<SoftSurface*>& SoftSurface::Chain() {
    chain_.clear();
    chain_.push_back(this);
    for (SoftSurface* s = chainNext_; s; s = s->chainNext_)
        chain_.push_back(s);
    return chain_;
}

void SoftSurface::Shown(const RECT& visible) {
    Touch();
    if (!owner_ || Empty(visible))
        return;
    if (live_ && owner_->FullScreen()) {
        PublishFrame();
        ShowLive(); // the write told the live picture what changed
    } else if (VisiblePrimary())
        owner_->Present(*this, visible);
}

RECT SoftSurface::Visible(const RECT& area) const {
    return Intersect(area, Bounds());
}

bool SoftSurface::WindowedPrimary() const {
    return VisiblePrimary() && owner_ && !owner_->FullScreen();
}

void SoftSurface::PaletteChanged() {
    RefreshLive();
    if (!owner_ || !VisiblePrimary() || lost_)
        return;
    if (live_ && owner_->FullScreen()) {
        PublishFrame();
        ShowLive();
    } else {
        owner_->Present(*this, Bounds());
    }
}

TPixelView SoftSurface::View() {
    Settle();
    return MemoryView();
}

HRESULT SoftSurface::AddAttachedSurface(IDirectDrawSurface* attached) {
    if (HRESULT f = Fault("IDirectDrawSurface::AddAttachedSurface"))
        return f;
    if (!attached || attached == this)
        return DDERR_INVALIDPARAMS;
    SoftSurface* surface = Ours(attached);
    if (Lost() || surface->Lost())
        return DDERR_SURFACELOST;
    if (std::find(attached_.begin(), attached_.end(), surface) != attached_.end())
        return DDERR_SURFACEALREADYATTACHED;
    // Only depth buffers attach, at least as large as what they serve.
    if (!surface->format_.IsZBuffer() || format_.IsZBuffer() || surface->width_ < width_ ||
        surface->height_ < height_ || surface->owner_ != owner_)
        return DDERR_CANNOTATTACHSURFACE;
    for (SoftSurface* other : attached_)
        if (other->format_.IsZBuffer())
            return DDERR_CANNOTATTACHSURFACE;
    surface->AddRef();
    attached_.push_back(surface);
    return DD_OK;
}

HRESULT SoftSurface::DeleteAttachedSurface(DWORD, IDirectDrawSurface* attached) {
    if (HRESULT f = Fault("IDirectDrawSurface::DeleteAttachedSurface"))
        return f;
    std::vector<SoftSurface*> removed;
    if (!attached) {
        removed = std::move(attached_);
        attached_.clear();
    } else {
        auto it = std::find(attached_.begin(), attached_.end(), Ours(attached));
        if (it == attached_.end())
            return DDERR_SURFACENOTATTACHED;
        removed.push_back(*it);
        attached_.erase(it);
    }
    for (SoftSurface* surface : removed)
        surface->Release();
    return DD_OK;
}

HRESULT SoftSurface::Flip(IDirectDrawSurface* lpDDSurfaceTargetOverride, DWORD) {
    if (HRESULT f = Fault("IDirectDrawSurface::Flip"))
        return f;
    if (!chainNext_ || chainFront_)
        return DDERR_NOTFLIPPABLE;
    if (lpDDSurfaceTargetOverride)
        return DDERR_INVALIDPARAMS;
    if (!owner_ || !owner_->FullScreen())
        return DDERR_NOEXCLUSIVEMODE;
    const std::vector<SoftSurface*>& chain = Chain();
    for (SoftSurface* s : chain) {
        if (s->Lost())
            return DDERR_SURFACELOST;
        if (s->Busy())
            return DDERR_SURFACEBUSY;
    }
    // The frame drawn on the GPU is fenced; drawing the next one waits for the one before.
    if (gpu_)
        if (GpuBlitter* blitter = GpuBlitter::Get(); blitter && !blitter->EndFrame())
            return DDERR_SURFACELOST; // a GPU reset: the frame was never drawn
    // No wait for a vertical blank: the presenter reads the new front at its next refresh.
    RotateChain(chain);
    for (SoftSurface* s : chain)
        s->Touch();
    Changed(Bounds());
    return DD_OK;
}

HRESULT SoftSurface::GetAttachedSurface(LPDDSCAPS lpDDSCaps, IDirectDrawSurface** out) {
    if (HRESULT f = Fault("IDirectDrawSurface::GetAttachedSurface"))
        return f;
    if (!lpDDSCaps || !out)
        return DDERR_INVALIDPARAMS;
    *out = nullptr;
    std::vector<SoftSurface*> candidates;
    if (chainNext_)
        candidates.push_back(chainNext_);
    else if (chainFront_)
        candidates.push_back(chainFront_); // the chain is circular
    candidates.insert(candidates.end(), attached_.begin(), attached_.end());
    for (SoftSurface* surface : candidates)
        if ((surface->caps_ & lpDDSCaps->dwCaps) == lpDDSCaps->dwCaps) {
            surface->AddRef();
            *out = surface;
            return DD_OK;
        }
    return DDERR_NOTFOUND;
}

HRESULT SoftSurface::GetCaps(LPDDSCAPS lpDDSCaps) {
    if (HRESULT f = Fault("IDirectDrawSurface::GetCaps"))
        return f;
    if (!lpDDSCaps)
        return DDERR_INVALIDPARAMS;
    lpDDSCaps->dwCaps = caps_;
    return DD_OK;
}

HRESULT SoftSurface::GetClipper(IDirectDrawClipper** out) {
    return HandOut(clipper_, out, DDERR_NOCLIPPERATTACHED);
}

HRESULT SoftSurface::GetColorKey(DWORD dwFlags, LPDDCOLORKEY lpDDColorKey) {
    if (!lpDDColorKey)
        return DDERR_INVALIDPARAMS;
    if (dwFlags == DDCKEY_SRCBLT && hasSourceKey_)
        *lpDDColorKey = sourceKey_;
    else if (dwFlags == DDCKEY_DESTBLT && hasDestKey_)
        *lpDDColorKey = destKey_;
    else
        return DDERR_NOCOLORKEY;
    return DD_OK;
}

HRESULT SoftSurface::SetColorKey(DWORD dwFlags, LPDDCOLORKEY lpDDColorKey) {
    if (HRESULT f = Fault("IDirectDrawSurface::SetColorKey"))
        return f;
    const DWORD kind = dwFlags & ~DDCKEY_COLORSPACE;
    if (kind != DDCKEY_SRCBLT && kind != DDCKEY_DESTBLT)
        return DDERR_INVALIDPARAMS;
    if (Lost())
        return DDERR_SURFACELOST;
    bool& has = kind == DDCKEY_SRCBLT ? hasSourceKey_ : hasDestKey_;
    DDCOLORKEY& key = kind == DDCKEY_SRCBLT ? sourceKey_ : destKey_;
    has = lpDDColorKey != nullptr;
    if (lpDDColorKey) {
        key = *lpDDColorKey;
        // Without a colour-space request the key is the low value alone.
        if (!(dwFlags & DDCKEY_COLORSPACE))
            key.dwColorSpaceHighValue = key.dwColorSpaceLowValue;
    }
    return DD_OK;
}

HRESULT SoftSurface::GetDC(HDC* lphDC) {
    if (HRESULT f = Fault("IDirectDrawSurface::GetDC"))
        return f;
    if (!lphDC)
        return DDERR_INVALIDPARAMS;
    *lphDC = nullptr;
    if (Lost())
        return DDERR_SURFACELOST;
    if (dc_)
        return DDERR_DCALREADYCREATED;
    if (locked_)
        return DDERR_SURFACEBUSY;
    if (format_.IsZBuffer())
        return DDERR_CANTCREATEDC;
    Settle();
    const auto layout = format_.DirectLayout();
    if (layout && *layout != TPixelLayout::Indexed8) {
        dc_ = CreateMemoryDC(bits_.data(), width_, height_, pitch_, *layout);
    } else {
        // GDI draws on a 32-bit copy; ReleaseDC maps it back into the surface's format.
        dcCopy_.resize(static_cast<std::size_t>(width_) * height_);
        const ColorConverter converter(format_);
        const DWORD* palette = palette_ ? palette_->Colors() : View().colorTable;
        const PixelPlane plane = Plane();
        for (int y = 0; y < height_; ++y) {
            const BYTE* row = plane.Row(y);
            for (int x = 0; x < width_; ++x) {
                const DWORD pixel = LoadPixel(row + x * plane.bytesPerPixel, plane.bytesPerPixel);
                dcCopy_[static_cast<std::size_t>(y) * width_ + x] = converter.ToRGB(pixel, palette);
            }
        }
        dc_ = CreateMemoryDC(dcCopy_.data(), width_, height_, width_ * 4, TPixelLayout::XRGB8888);
    }
    if (!dc_)
        return DDERR_CANTCREATEDC;
    RefreshLive(); // the front is not read while GDI may draw on it
    *lphDC = dc_;
    return DD_OK;
}

HRESULT SoftSurface::ReleaseDC(HDC hDC) {
    if (HRESULT f = Fault("IDirectDrawSurface::ReleaseDC"))
        return f;
    if (!dc_)
        return DDERR_NODC;
    if (hDC != dc_)
        return DDERR_INVALIDPARAMS;
    DeleteMemoryDC(dc_);
    dc_ = nullptr;
    const PixelPlane plane = Plane();
    if (!dcCopy_.empty()) {
        const ColorConverter converter(format_);
        const DWORD* palette = palette_ ? palette_->Colors() : View().colorTable;
        std::unique_ptr<PaletteMatcher> matcher;
        if (format_.Palettized())
            matcher = std::make_unique<PaletteMatcher>(palette);
        for (int y = 0; y < height_; ++y) {
            BYTE* row = plane.Row(y);
            for (int x = 0; x < width_; ++x) {
                const DWORD rgb = dcCopy_[static_cast<std::size_t>(y) * width_ + x] & 0xFFFFFF;
                const DWORD pixel = matcher ? matcher->Nearest(rgb) : converter.FromRGB(rgb);
                StorePixel(row + x * plane.bytesPerPixel, plane.bytesPerPixel, pixel);
            }
        }
        dcCopy_.clear();
        dcCopy_.shrink_to_fit();
    } else if (format_.bitsPerPixel == 32) {
        // The painter sets the unused top byte; the surface keeps it clear.
        for (int y = 0; y < height_; ++y) {
            DWORD* row = plane.Pixels<DWORD>(y);
            for (int x = 0; x < width_; ++x)
                row[x] &= 0xFFFFFF;
        }
    }
    RefreshLive();
    HostWritten(Bounds());
    Changed(Bounds());
    return DD_OK;
}

HRESULT SoftSurface::GetPalette(IDirectDrawPalette** out) {
    return HandOut(palette_, out, DDERR_NOPALETTEATTACHED);
}

HRESULT SoftSurface::GetPixelFormat(LPDDPIXELFORMAT lpDDPixelFormat) {
    if (HRESULT f = Fault("IDirectDrawSurface::GetPixelFormat"))
        return f;
    if (!lpDDPixelFormat || lpDDPixelFormat->dwSize != sizeof(DDPIXELFORMAT))
        return DDERR_INVALIDPARAMS;
    *lpDDPixelFormat = format_.ToDD();
    return DD_OK;
}

HRESULT SoftSurface::GetSurfaceDesc(LPDDSURFACEDESC desc) {
    if (HRESULT f = Fault("IDirectDrawSurface::GetSurfaceDesc"))
        return f;
    if (!desc || desc->dwSize != sizeof(DDSURFACEDESC))
        return DDERR_INVALIDPARAMS;
    DDSURFACEDESC d{};
    d.dwSize = sizeof(DDSURFACEDESC);
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT;
    d.dwWidth = static_cast<DWORD>(width_);
    d.dwHeight = static_cast<DWORD>(height_);
    d.lPitch = pitch_;
    d.ddpfPixelFormat = format_.ToDD();
    d.ddsCaps.dwCaps = caps_;
    if (backBufferCount_) {
        d.dwFlags |= DDSD_BACKBUFFERCOUNT;
        d.dwBackBufferCount = backBufferCount_;
    }
    if (format_.IsZBuffer()) {
        d.dwFlags |= DDSD_ZBUFFERBITDEPTH;
        d.dwZBufferBitDepth = static_cast<DWORD>(format_.depthBits);
    }
    if (hasSourceKey_) {
        d.dwFlags |= DDSD_CKSRCBLT;
        d.ddckCKSrcBlt = sourceKey_;
    }
    if (hasDestKey_) {
        d.dwFlags |= DDSD_CKDESTBLT;
        d.ddckCKDestBlt = destKey_;
    }
    *desc = d;
    return DD_OK;
}

HRESULT SoftSurface::IsLost() {
    if (HRESULT f = Fault("IDirectDrawSurface::IsLost"))
        return f;
    return Lost() ? DDERR_SURFACELOST : DD_OK;
}

HRESULT SoftSurface::Lock(LPRECT lpDestRect, LPDDSURFACEDESC desc, DWORD dwFlags, HANDLE) {
    if (HRESULT f = Fault("IDirectDrawSurface::Lock"))
        return f;
    if (!desc || desc->dwSize != sizeof(DDSURFACEDESC))
        return DDERR_INVALIDPARAMS;
    if (Lost())
        return DDERR_SURFACELOST;
    if (Busy())
        return DDERR_SURFACEBUSY;
    const RECT area = lpDestRect ? *lpDestRect : Bounds();
    if (Empty(area) || !Inside(area, Bounds()))
        return DDERR_INVALIDRECT;
    Settle();
    GetSurfaceDesc(desc);
    desc->dwFlags |= DDSD_LPSURFACE;
    desc->lpSurface = Plane().At(area.left, area.top);
    locked_ = true;
    lockedReadOnly_ = (dwFlags & DDLOCK_READONLY) != 0;
    lockedRect_ = area;
    RefreshLive(); // the front is not read while the caller may write it
    return DD_OK;
}

HRESULT SoftSurface::Unlock(LPVOID) {
    if (HRESULT f = Fault("IDirectDrawSurface::Unlock"))
        return f;
    if (!locked_)
        return DDERR_NOTLOCKED;
    locked_ = false;
    RefreshLive();
    if (!lockedReadOnly_) {
        HostWritten(lockedRect_);
        Changed(lockedRect_);
    }
    return DD_OK;
}

HRESULT SoftSurface::Restore() {
    if (HRESULT f = Fault("IDirectDrawSurface::Restore"))
        return f;
    if (!owner_)
        return DDERR_SURFACELOST; // its DirectDraw object is gone
    SoftSurface* front = chainFront_ ? chainFront_ : this;
    if (front->primary_) {
        const DisplayMode mode = Adapter().CurrentMode();
        if (mode.width != front->width_ || mode.height != front->height_ ||
            mode.bitsPerPixel != front->format_.bitsPerPixel)
            return DDERR_WRONGMODE;
        for (SoftSurface* s : front->Chain())
            s->lost_ = false;
        front->RefreshLive();
        return DD_OK;
    }
    lost_ = false;
    return DD_OK;
}

HRESULT SoftSurface::SetClipper(IDirectDrawClipper* lpDDClipper) {
    if (HRESULT f = Fault("IDirectDrawSurface::SetClipper"))
        return f;
    auto* clipper = static_cast<SoftClipper*>(lpDDClipper);
    if (clipper == clipper_)
        return DD_OK;
    if (clipper)
        clipper->AddRef();
    if (clipper_)
        clipper_->Release();
    clipper_ = clipper;
    return DD_OK;
}

HRESULT SoftSurface::SetPalette(IDirectDrawPalette* lpDDPalette) {
    if (HRESULT f = Fault("IDirectDrawSurface::SetPalette"))
        return f;
    if (Lost())
        return DDERR_SURFACELOST;
    if (lpDDPalette && !format_.Palettized())
        return DDERR_NOTPALETTIZED;
    auto* palette = static_cast<SoftPalette*>(lpDDPalette);
    if (palette == palette_)
        return DD_OK;
    if (palette) {
        palette->AddRef();
        palette->Attach(this);
    }
    if (palette_) {
        palette_->Detach(this);
        palette_->Release();
    }
    palette_ = palette;
    PaletteChanged();
    return DD_OK;
}

} // namespace directx
