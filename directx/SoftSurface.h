#pragma once
// A DirectDraw surface: its memory, locks, device contexts, colour keys, attachments, flipping
// chain and blits. Direct3D reaches its pixels, format and attachments here.
#include "Blit.h"
#include "ComObject.h"
#include "DisplayAdapter.h"
#include "GpuStore.h"
#include "PixelFormat.h"
#include "ddraw.h"
#include "gpu/FrameHandOver.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace directx {

class SoftClipper;
class SoftDirectDraw;
class SoftPalette;

class SoftSurface : public TCounted<IDirectDrawSurface> {
public:
    // What a new surface is; the memory is allocated by the constructor.
    struct Shape {
        int width = 0;
        int height = 0;
        PixelFormat format;
        DWORD caps = 0; // reported capabilities, memory placement included
        DWORD chargedBytes = 0;
        bool nonLocal = false;
        bool primary = false;
        bool gpu = false; // the pixels live on the graphics hardware
    };
    SoftSurface(SoftDirectDraw* owner, const Shape& shape);

    HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) override;
    HRESULT AddAttachedSurface(IDirectDrawSurface* attached) override;
    HRESULT Blt(LPRECT lpDestRect, IDirectDrawSurface* lpDDSrcSurface, LPRECT lpSrcRect,
                DWORD dwFlags, LPDDBLTFX lpDDBltFx) override;
    HRESULT BltFast(DWORD dwX, DWORD dwY, IDirectDrawSurface* lpDDSrcSurface, LPRECT lpSrcRect,
                    DWORD dwTrans) override;
    HRESULT DeleteAttachedSurface(DWORD dwFlags, IDirectDrawSurface* attached) override;
    HRESULT Flip(IDirectDrawSurface* lpDDSurfaceTargetOverride, DWORD dwFlags) override;
    HRESULT GetAttachedSurface(LPDDSCAPS lpDDSCaps, IDirectDrawSurface** out) override;
    HRESULT GetCaps(LPDDSCAPS lpDDSCaps) override;
    HRESULT GetClipper(IDirectDrawClipper** out) override;
    HRESULT GetColorKey(DWORD dwFlags, LPDDCOLORKEY lpDDColorKey) override;
    HRESULT GetDC(HDC* lphDC) override;
    HRESULT GetPalette(IDirectDrawPalette** out) override;
    HRESULT GetPixelFormat(LPDDPIXELFORMAT lpDDPixelFormat) override;
    HRESULT GetSurfaceDesc(LPDDSURFACEDESC lpDDSurfaceDesc) override;
    HRESULT IsLost() override;
    HRESULT Lock(LPRECT lpDestRect, LPDDSURFACEDESC lpDDSurfaceDesc, DWORD dwFlags,
                 HANDLE hEvent) override;
    HRESULT ReleaseDC(HDC hDC) override;
    HRESULT Restore() override;
    HRESULT SetClipper(IDirectDrawClipper* lpDDClipper) override;
    HRESULT SetColorKey(DWORD dwFlags, LPDDCOLORKEY lpDDColorKey) override;
    HRESULT SetPalette(IDirectDrawPalette* lpDDPalette) override;
    HRESULT Unlock(LPVOID lpSurfaceData) override;

    // For Direct3D and the presenting code.
    int Width() const { return width_; }
    int Height() const { return height_; }
    const PixelFormat& Format() const { return format_; }
    DWORD Caps() const { return caps_; }
    // The surface's memory as a block of pixels; no bits once it is orphaned.
    PixelBlock Block() { return PixelBlock{bits_.data(), pitch_, width_, height_}; }
    ConstPixelBlock Block() const { return const_cast<SoftSurface*>(this)->Block(); }
    PixelPlane Plane() { return PixelPlane{Block(), format_.BytesPerPixel()}; }
    const std::vector<SoftSurface*>& Attached() const { return attached_; }
    SoftPalette* Palette() const { return palette_; }
    bool Lost() const { return lost_ || !owner_; }
    bool Busy() const { return locked_ || dc_ != nullptr; }
    bool VisiblePrimary() const { return primary_ && (chainFront_ == nullptr); }
    // The visible primary of a DirectDraw object at the normal level: its palette's colours
    // are realised into the system palette.
    bool WindowedPrimary() const;
    // The picture as a window takes it; colours of a palettised surface from its palette, or
    // from the desktop's when it has none.
    TPixelView View();
    // Carries out the blits onto a windowed primary that were only handed to the presenter, so
    // its memory reads as if they had been done when asked.
    void Settle();
    // The pixels live on the graphics hardware (video memory on the GPU road).
    bool OnGpu() const { return gpu_ != nullptr; }
    GpuStore* Gpu() const { return gpu_.get(); }
    // The surface's DirectDraw object was released: it stays a shell that answers lost.
    void Orphan();
    void MarkLost();
    // A palette it uses changed its colours.
    void PaletteChanged();

    // The source colour key, when one is set.
    const DDCOLORKEY* SourceColorKey() const { return hasSourceKey_ ? &sourceKey_ : nullptr; }
    // A stamp that changes with every write to the pixels and is never given to another
    // content of any surface, so a converted copy (a texture's) knows when it is stale.
    std::uint64_t Version() const { return version_; }
    void Touch();
    // `draw` writes the pixels of `area`: the memory is brought up to date first, a full-screen
    // front is written as its live picture's write (the presenter reads between writes), and
    // the part of the area on the surface then shows.
    template <typename Draw> void Write(const RECT& area, Draw&& draw) {
        Settle();
        HostWritten(Visible(area)); // marked first: the front's frame is handed over as shown
        Guarded(Visible(area), draw);
    }

private:
    ~SoftSurface() override;
    void LastRelease() override;
    void Destroy();
    template <typename Draw> void Guarded(const RECT& visible, Draw&& draw) {
        if (live_)
            live_->Write(visible, draw);
        else
            draw();
        Shown(visible);
    }
    // The pixels of `rect` were written outside the live picture (its view was hidden then).
    void Changed(const RECT& rect) {
        Guarded(rect, [] {});
    }
    // The host memory was written in `rect`: the GPU's copy takes it before its next use.
    void HostWritten(const RECT& rect) {
        if (gpu_)
            gpu_->HostWritten(rect);
    }
    // Blits drawn on the GPU: both surfaces' pixels are there, the target shows no live picture.
    bool BlitsOnGpu(const SoftSurface* source) const {
        return gpu_ && !live_ && (!source || source->gpu_);
    }
    // Brings the host memory up to date with what the GPU drew, or drops the GPU's copy.
    void ReadBackGpu();
    void DropGpu();
    // A write of `visible` ends: a new version, shown on the screen where the surface is.
    void Shown(const RECT& visible);
    RECT Visible(const RECT& area) const; // the part of the area on the surface
    RECT Bounds() const { return RECT{0, 0, width_, height_}; }
    bool ClipArea(RECT* area) const;
    // Front first, for a flipping chain; filled anew at each call into memory the surface
    // keeps, so a flip allocates nothing.
    const std::vector<SoftSurface*>& Chain();
    ColorKeyRange SourceKey(DWORD flags, const DDBLTFX* fx, HRESULT* error) const;

    friend class SoftDirectDraw;
    friend class DisplayAdapter; // frees the orphans left at the end
    SoftDirectDraw* owner_;
    int width_, height_;
    PixelFormat format_;
    DWORD caps_;
    DWORD chargedBytes_;
    bool nonLocal_;
    bool primary_;
    LONG pitch_ = 0;
    std::vector<BYTE> bits_;
    std::unique_ptr<GpuStore> gpu_; // the pixels on the GPU, beside bits_; null: host memory only
    BYTE* gdiBits_ = nullptr;       // the memory the front buffer started with
    bool lost_ = false;
    bool locked_ = false;
    bool lockedReadOnly_ = false;
    RECT lockedRect_{};
    HDC dc_ = nullptr;
    std::vector<DWORD> dcCopy_; // 0x00RRGGBB copy when GDI cannot draw in place
    bool hasSourceKey_ = false;
    DDCOLORKEY sourceKey_{};
    bool hasDestKey_ = false;
    DDCOLORKEY destKey_{};
    SoftClipper* clipper_ = nullptr;
    SoftPalette* palette_ = nullptr;
    std::vector<SoftSurface*> attached_; // explicit attachments (Z-buffers), referenced
    std::vector<SoftSurface*> chain_;    // what Chain() last listed
    SoftSurface* chainNext_ = nullptr;   // next back buffer of a flipping chain
    SoftSurface* chainFront_ = nullptr;  // the front of the chain this back buffer is in
    DWORD backBufferCount_ = 0;
    // A plain copy onto a windowed primary: the presenter shows it at once; the primary's own
    // memory takes it only when something reads or changes that memory (Settle). A later one
    // covering an earlier one replaces it.
    // Moved, never copied, so the plane keeps describing the memory the entry owns.
    struct Deferred {
        RECT dest{};
        RECT visible{};
        std::vector<BYTE> memory; // the source rectangle, rows packed
        PixelPlane plane;         // over memory
        // Not 0: the source rectangle is still only on the GPU, the newest frame (this one) of
        // pieces_, and memory is read from it when the entry is carried out.
        std::uint64_t frame = 0;

        Deferred() = default;
        Deferred(Deferred&&) = default;
        Deferred& operator=(Deferred&&) = default;
    };
    std::vector<Deferred> deferred_;
    // The front of a full-screen flipping chain as the presenter reads it at its refreshes.
    // Only the front's memory is ever its view: the back buffers are the test's alone.
    std::shared_ptr<TLivePicture> live_;
    // The chain's memory moves one place on (a flip), replacing the live picture's memory.
    void RotateChain(const std::vector<SoftSurface*>& chain);
    // The front as the live picture shows it now: no bits while it is lost or written outside
    // the live picture (a lock for writing, a device context).
    TPixelView LiveView() const;
    // The memory as a window takes it; no bits for a format no window shows.
    TPixelView MemoryView() const;
    // Publishes LiveView; nothing without a live picture.
    void RefreshLive();
    // The front changed: the presenter reads it at its next refresh.
    void ShowLive();
    // The front's frames on the GPU, handed to the presenter without a read back where it draws
    // them itself (the chain is drawn on the GPU, pictures are shown, the drawing context is on
    // the window system's display); null elsewhere.
    std::shared_ptr<gpu::FrameHandOver> frames_;
    // The presenter draws the front's frames itself: they are not read back.
    bool FramesOnGpu() const { return gpu_ && frames_ && frames_->Accepted(); }
    // Hands the front's current pixels to the presenter on the GPU.
    void PublishFrame();
    static SoftSurface* Ours(IDirectDrawSurface* surface) {
        return static_cast<SoftSurface*>(surface);
    }
    bool Defer(const RECT& dest, const RECT& visible, SoftSurface& source, const RECT& from);
    // A windowed primary's copies from pictures drawn on the GPU, handed to the presenter on the
    // GPU (where pictures are shown and the drawing context is on the window system's display)
    // until it refuses them; null before the first.
    std::shared_ptr<gpu::FrameHandOver> pieces_;
    // Hands `from` of the source's GPU pixels to the presenter as the newest of pieces_; its
    // serial in *frame. False where they cannot go that way: the caller reads them back.
    bool PublishPiece(SoftSurface& source, const RECT& from, std::uint64_t* frame);
    // A hand-over of frames drawn on the GPU to the presenter, where its context can share the
    // drawing one's (pictures are shown, the drawing context is on the window system's display);
    // null elsewhere.
    static std::shared_ptr<gpu::FrameHandOver> HandOverToPresenter();
    // A deferred copy still on the GPU is read into its memory.
    void Fetch(Deferred& entry);
    // The colours of a palettised surface's pixels: its palette's, else the desktop's.
    const DWORD* Colors() const;
    // How the GPU's frames of this surface's format are laid out; false for another format.
    bool GpuFrameLayout(gpu::FrameLayout* layout) const;
    std::uint64_t version_ = 0;
};

} // namespace directx
