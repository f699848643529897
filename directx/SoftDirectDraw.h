#pragma once
// The DirectDraw object: display modes, the cooperative level, surface, palette and clipper
// creation, and showing what its primary surfaces hold.
#include "ComObject.h"
#include "DisplayAdapter.h"
#include "ddraw.h"

#include <vector>

namespace directx {

class SoftSurface;

// The DirectDraw object: IDirectDraw2 itself, IDirectDraw through its face.
class SoftDirectDraw : public TTwoVersions<SoftDirectDraw, IDirectDraw2, IDirectDraw> {
public:
    explicit SoftDirectDraw(const DriverEntry& driver);
    ~SoftDirectDraw() override;
    SoftDirectDraw(const SoftDirectDraw&) = delete;
    SoftDirectDraw& operator=(const SoftDirectDraw&) = delete;

    IDirectDraw* First() { return &first_; }
    IDirectDraw2* Second() { return this; }

    HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) override;
    // QueryInterface without the fault a test may have set on it, for Direct3D's own.
    HRESULT Query(REFIID riid, LPVOID* ppvObj);
    HRESULT CreateClipper(DWORD dwFlags, LPDIRECTDRAWCLIPPER* lplpDDClipper,
                          IUnknown* outer) override;
    HRESULT CreatePalette(DWORD dwFlags, LPPALETTEENTRY lpColorTable,
                          LPDIRECTDRAWPALETTE* lplpDDPalette, IUnknown* outer) override;
    HRESULT CreateSurface(LPDDSURFACEDESC desc, LPDIRECTDRAWSURFACE* out, IUnknown* outer) override;
    HRESULT EnumDisplayModes(DWORD dwFlags, LPDDSURFACEDESC filter, LPVOID context,
                             LPDDENUMMODESCALLBACK callback) override;
    HRESULT FlipToGDISurface() override;
    HRESULT GetCaps(LPDDCAPS driverCaps, LPDDCAPS helCaps) override;
    HRESULT GetDisplayMode(LPDDSURFACEDESC desc) override;
    HRESULT RestoreDisplayMode() override;
    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override;
    HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refreshRate,
                           DWORD flags) override;
    HRESULT WaitForVerticalBlank(DWORD flags, HANDLE event) override;
    HRESULT GetAvailableVidMem(LPDDSCAPS caps, DWORD* total, DWORD* free) override;

    const DriverEntry& Driver() const { return driver_; }
    HWND Window() const { return window_; }
    // Exclusive full-screen: the owner window covers the screen and shows the mode's picture.
    bool FullScreen() const { return exclusive_; }
    void LoseSurfaces();
    void Forget(SoftSurface* surface);
    // Shows what changed on a visible primary surface (rect in its coordinates).
    void Present(SoftSurface& primary, const RECT& changed);
    // Shows the front of a full-screen chain that has just flipped, read at the next refresh.
    void PresentLive(SoftSurface& front);
    // Shows `from` of the source stretched over `dest` of a visible primary in a window (screen
    // coordinates): the clipper's window takes it, mapped to its client area. False when there
    // is no such window.
    bool PresentStretched(SoftSurface& primary, const TPixelView& source, const RECT& from,
                          const RECT& dest);
    // The same for the newest frame of `frames`, the source's pixels on the GPU; `twin`, where it
    // has bits, the source read back, for the presenter's other roads until it takes the GPU's.
    bool PresentStretchedOnGpu(SoftSurface& primary,
                               const std::shared_ptr<gpu::FrameHandOver>& frames,
                               const TPixelView& twin, const RECT& from, const RECT& dest);

private:
    // The window a windowed primary's pictures go to (its clipper's, else the cooperative
    // level's), and `dest` (screen coordinates) in its client area; null where there is none.
    HWND StretchTarget(const SoftSurface& primary, const RECT& dest, RECT* client) const;
    HRESULT CreateChain(const DDSURFACEDESC& desc, LPDIRECTDRAWSURFACE* out);
    void LeaveExclusive();

    class FirstFace : public Face {
    public:
        using Face::Face;
        HRESULT CreateClipper(DWORD f, LPDIRECTDRAWCLIPPER* c, IUnknown* o) override {
            return Object().CreateClipper(f, c, o);
        }
        HRESULT CreatePalette(DWORD f, LPPALETTEENTRY e, LPDIRECTDRAWPALETTE* p,
                              IUnknown* o) override {
            return Object().CreatePalette(f, e, p, o);
        }
        HRESULT CreateSurface(LPDDSURFACEDESC d, LPDIRECTDRAWSURFACE* s, IUnknown* o) override {
            return Object().CreateSurface(d, s, o);
        }
        HRESULT EnumDisplayModes(DWORD f, LPDDSURFACEDESC d, LPVOID c,
                                 LPDDENUMMODESCALLBACK cb) override {
            return Object().EnumDisplayModes(f, d, c, cb);
        }
        HRESULT FlipToGDISurface() override { return Object().FlipToGDISurface(); }
        HRESULT GetCaps(LPDDCAPS d, LPDDCAPS h) override { return Object().GetCaps(d, h); }
        HRESULT GetDisplayMode(LPDDSURFACEDESC d) override { return Object().GetDisplayMode(d); }
        HRESULT RestoreDisplayMode() override { return Object().RestoreDisplayMode(); }
        HRESULT SetCooperativeLevel(HWND w, DWORD f) override {
            return Object().SetCooperativeLevel(w, f);
        }
        HRESULT SetDisplayMode(DWORD w, DWORD h, DWORD bpp) override {
            return Object().SetDisplayMode(w, h, bpp, 0, 0);
        }
        HRESULT WaitForVerticalBlank(DWORD f, HANDLE e) override {
            return Object().WaitForVerticalBlank(f, e);
        }
    };
    Face& OlderFace() override { return first_; }

    DriverEntry driver_;
    FirstFace first_{*this};
    HWND window_ = nullptr;
    DWORD level_ = 0;
    bool exclusive_ = false;
    bool setMode_ = false; // this object changed the display mode
    int deactivationHandler_ = 0;
    SoftSurface* primary_ = nullptr;
    std::vector<SoftSurface*> surfaces_;
};

} // namespace directx
