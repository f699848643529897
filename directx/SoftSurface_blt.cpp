// Surfaces: Blt and BltFast, and the plain copies onto a windowed primary that are only handed
// to the presenter until something reads or changes the primary's memory.
#include "GpuBlitter.h"
#include "SoftClipper.h"
#include "SoftDirectDraw.h"
#include "SoftSurface.h"
#include "gpu/Renderer.h"

#include <algorithm>

namespace directx {

bool SoftSurface::Defer(const RECT& dest, const RECT& visible, SoftSurface& source,
                        const RECT& from) {
    if (!WindowedPrimary() || bits_.empty())
        return false;
    if (deferred_.size() >= 16)
        Settle();
    // Earlier copies that this one covers are never seen: drop them, keeping one's memory. (Where
    // this one then goes no further, the caller copies it, over them too.)
    Deferred entry;
    for (auto it = deferred_.begin(); it != deferred_.end();) {
        if (Inside(it->visible, visible)) {
            if (entry.memory.capacity() < it->memory.capacity())
                entry.memory = std::move(it->memory);
            it = deferred_.erase(it);
        } else {
            ++it;
        }
    }
    PixelPlane& plane = entry.plane;
    plane.width = from.right - from.left;
    plane.height = from.bottom - from.top;
    plane.bytesPerPixel = source.format_.BytesPerPixel();
    plane.pitch = static_cast<std::ptrdiff_t>(plane.width) * plane.bytesPerPixel;
    // A picture drawn on the GPU goes to the presenter there, not read back, once the presenter
    // has drawn one; until then it takes a copy too.
    const bool onGpu = source.gpu_ && PublishPiece(source, from, &entry.frame);
    const TPixelView view = !onGpu || !pieces_->Accepted() ? source.View() : TPixelView{};
    if (!onGpu && !view.bits)
        return false;
    if (onGpu ? !owner_->PresentStretchedOnGpu(*this, pieces_, view, from, dest)
              : !owner_->PresentStretched(*this, view, from, dest))
        return false;
    entry.dest = dest;
    entry.visible = visible;
    if (view.bits) { // read back already: the entry keeps its copy
        entry.frame = 0;
        entry.memory.resize(static_cast<std::size_t>(plane.pitch) * plane.height);
        plane.bits = entry.memory.data();
        CopyRect(plane, 0, 0, source.Plane(), from, ColorKeyRange{});
    }
    deferred_.push_back(std::move(entry));
    return true;
}

bool SoftSurface::PublishPiece(SoftSurface& source, const RECT& from, std::uint64_t* frame) {
    GpuBlitter* blitter = GpuBlitter::Get();
    gpu::FrameLayout layout;
    if (!blitter || !GpuFrameLayout(&layout))
        return false;
    if (!pieces_ && !(pieces_ = HandOverToPresenter()))
        return false;
    if (pieces_->Refused())
        return false;
    // The hand-over keeps only its newest frame for certain: an earlier copy still there whose
    // frame this one does not replace is read now.
    for (Deferred& entry : deferred_)
        Fetch(entry);
    blitter->FlushFor(*source.gpu_);
    const GLuint framebuffer = source.gpu_->Framebuffer(source.Plane());
    if (!pieces_->Publish(framebuffer, from.left, from.top, from.right - from.left,
                          from.bottom - from.top, layout, Colors(), GpuBlitter::Generation()))
        return false;
    *frame = pieces_->Published();
    return true;
}

std::shared_ptr<gpu::FrameHandOver> SoftSurface::HandOverToPresenter() {
    if (!PicturesShown())
        return nullptr;
    std::shared_ptr<gpu::Device> device = gpu::ChosenDevice();
    if (!device || device->GetDisplay().Shows() == gpu::WindowSystem::None)
        return nullptr;
    return std::make_shared<gpu::FrameHandOver>(std::move(device));
}

void SoftSurface::Fetch(Deferred& entry) {
    if (!entry.frame)
        return;
    PixelPlane& plane = entry.plane;
    entry.memory.resize(static_cast<std::size_t>(plane.pitch) * plane.height);
    plane.bits = entry.memory.data();
    // A GPU reset took the frame with the surfaces: what it showed is lost with them.
    if (!pieces_ ||
        !pieces_->ReadNewest(entry.frame, GpuBlitter::Generation(), plane.bits, plane.pitch))
        std::fill(entry.memory.begin(), entry.memory.end(), BYTE{0});
    entry.frame = 0;
}

void SoftSurface::Settle() {
    ReadBackGpu();
    if (deferred_.empty())
        return;
    std::vector<Deferred> pending;
    pending.swap(deferred_);
    if (bits_.empty())
        return;
    const PixelPlane target = Plane();
    for (Deferred& d : pending) {
        Fetch(d);
        BlitRect(target, d.dest, d.visible, d.plane, RECT{0, 0, d.plane.width, d.plane.height},
                 ColorKeyRange{}, false, false);
    }
    Touch();
}

bool SoftSurface::ClipArea(RECT* area) const {
    if (!clipper_)
        return false;
    *area = Intersect(clipper_->ClipArea(), Bounds());
    return true;
}

ColorKeyRange SoftSurface::SourceKey(DWORD flags, const DDBLTFX* fx, HRESULT* error) const {
    ColorKeyRange key;
    key.colorBits = format_.ColorBits();
    if (flags & DDBLT_KEYSRCOVERRIDE) {
        key.enabled = true;
        key.low = fx->ddckSrcColorkey.dwColorSpaceLowValue;
        key.high = fx->ddckSrcColorkey.dwColorSpaceHighValue;
    } else if (flags & DDBLT_KEYSRC) {
        if (!hasSourceKey_) {
            *error = DDERR_NOCOLORKEY;
            return key;
        }
        key.enabled = true;
        key.low = sourceKey_.dwColorSpaceLowValue;
        key.high = sourceKey_.dwColorSpaceHighValue;
    }
    key.low &= key.colorBits;
    key.high &= key.colorBits;
    if (key.high < key.low)
        key.high = key.low;
    return key;
}

HRESULT SoftSurface::Blt(LPRECT lpDestRect, IDirectDrawSurface* lpDDSrcSurface, LPRECT lpSrcRect,
                         DWORD dwFlags, LPDDBLTFX lpDDBltFx) {
    if (HRESULT f = Fault("IDirectDrawSurface::Blt"))
        return f;
    const DWORD needsFx =
        DDBLT_COLORFILL | DDBLT_DEPTHFILL | DDBLT_DDFX | DDBLT_KEYSRCOVERRIDE | DDBLT_ROP;
    if ((dwFlags & needsFx) && (!lpDDBltFx || lpDDBltFx->dwSize != sizeof(DDBLTFX)))
        return DDERR_INVALIDPARAMS;
    if (dwFlags & (DDBLT_ROP | DDBLT_KEYDEST))
        return DDERR_UNSUPPORTED;
    if (Lost())
        return DDERR_SURFACELOST;
    if (Busy())
        return DDERR_SURFACEBUSY;
    const RECT dest = lpDestRect ? *lpDestRect : Bounds();
    if (Empty(dest))
        return DDERR_INVALIDRECT;
    RECT clip;
    if (!ClipArea(&clip)) {
        if (!Inside(dest, Bounds()))
            return DDERR_INVALIDRECT;
        clip = Bounds();
    }
    const RECT visible = Intersect(dest, clip);
    if (dwFlags & (DDBLT_COLORFILL | DDBLT_DEPTHFILL)) {
        if ((dwFlags & DDBLT_DEPTHFILL) && !format_.IsZBuffer())
            return DDERR_INVALIDPARAMS;
        const DWORD value = lpDDBltFx->dwFillColor & format_.ColorBits();
        if (BlitsOnGpu(nullptr)) {
            GpuBlitter::Get()->Fill(*gpu_, Plane(), visible, value);
            Touch();
            return DD_OK;
        }
        Write(visible, [&] { FillRect(Plane(), visible, value); });
        return DD_OK;
    }
    if (!lpDDSrcSurface)
        return DDERR_INVALIDPARAMS;
    SoftSurface* source = Ours(lpDDSrcSurface);
    if (source->Lost())
        return DDERR_SURFACELOST;
    if (source->Busy())
        return DDERR_SURFACEBUSY;
    const RECT from = lpSrcRect ? *lpSrcRect : source->Bounds();
    if (Empty(from) || !Inside(from, source->Bounds()))
        return DDERR_INVALIDRECT;
    if (source->format_.BytesPerPixel() != format_.BytesPerPixel())
        return DDERR_INVALIDPIXELFORMAT;
    HRESULT keyError = DD_OK;
    const ColorKeyRange key = source->SourceKey(dwFlags, lpDDBltFx, &keyError);
    if (keyError)
        return keyError;
    const DWORD fx = (dwFlags & DDBLT_DDFX) ? lpDDBltFx->dwDDFX : 0;
    const bool mirrorX = (fx & DDBLTFX_MIRRORLEFTRIGHT) != 0;
    const bool mirrorY = (fx & DDBLTFX_MIRRORUPDOWN) != 0;
    if (Empty(visible))
        return DD_OK;
    if (BlitsOnGpu(source)) {
        GpuBlitter::Get()->Blit(*gpu_, Plane(), *source->gpu_, source->Plane(),
                                GpuBlitter::Copy{dest, visible, from, mirrorX, mirrorY}, key);
        Touch();
        return DD_OK;
    }
    // A picture drawn on the GPU presented in a window ends a frame, fenced as a flip is.
    if (source->gpu_ && WindowedPrimary() && !GpuBlitter::Get()->EndFrame())
        return DDERR_SURFACELOST;
    if (!key.enabled && !mirrorX && !mirrorY && Defer(dest, visible, *source, from))
        return DD_OK;
    source->Settle();
    Write(visible,
          [&] { BlitRect(Plane(), dest, visible, source->Plane(), from, key, mirrorX, mirrorY); });
    return DD_OK;
}

HRESULT SoftSurface::BltFast(DWORD dwX, DWORD dwY, IDirectDrawSurface* lpDDSrcSurface,
                             LPRECT lpSrcRect, DWORD dwTrans) {
    if (HRESULT f = Fault("IDirectDrawSurface::BltFast"))
        return f;
    if (!lpDDSrcSurface ||
        (dwTrans & ~(DDBLTFAST_SRCCOLORKEY | DDBLTFAST_DESTCOLORKEY | DDBLTFAST_WAIT)))
        return DDERR_INVALIDPARAMS;
    if (dwTrans & DDBLTFAST_DESTCOLORKEY)
        return DDERR_UNSUPPORTED;
    if (clipper_)
        return DDERR_BLTFASTCANTCLIP;
    SoftSurface* source = Ours(lpDDSrcSurface);
    if (Lost() || source->Lost())
        return DDERR_SURFACELOST;
    if (Busy() || source->Busy())
        return DDERR_SURFACEBUSY;
    const RECT from = lpSrcRect ? *lpSrcRect : source->Bounds();
    if (Empty(from) || !Inside(from, source->Bounds()))
        return DDERR_INVALIDRECT;
    const std::int64_t x = dwX, y = dwY;
    if (x + (from.right - from.left) > width_ || y + (from.bottom - from.top) > height_)
        return DDERR_INVALIDRECT;
    if (source->format_.BytesPerPixel() != format_.BytesPerPixel())
        return DDERR_INVALIDPIXELFORMAT;
    HRESULT keyError = DD_OK;
    const ColorKeyRange key =
        source->SourceKey((dwTrans & DDBLTFAST_SRCCOLORKEY) ? DDBLT_KEYSRC : 0, nullptr, &keyError);
    if (keyError)
        return keyError;
    const RECT to{static_cast<LONG>(x), static_cast<LONG>(y),
                  static_cast<LONG>(x + from.right - from.left),
                  static_cast<LONG>(y + from.bottom - from.top)};
    if (BlitsOnGpu(source)) {
        GpuBlitter::Get()->Blit(*gpu_, Plane(), *source->gpu_, source->Plane(),
                                GpuBlitter::Copy{to, to, from, false, false}, key);
        Touch();
        return DD_OK;
    }
    source->Settle();
    Write(to, [&] { CopyRect(Plane(), to.left, to.top, source->Plane(), from, key); });
    return DD_OK;
}

} // namespace directx
