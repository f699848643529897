#pragma once
// The virtual display adapter: the one process-wide description of the display the software
// DirectDraw emulates (desktop, display modes, drivers, capabilities, video memory), and the
// fault injection tests use to drive the callers' fall-back and fatal paths.
#include "Direct3DOffer.h"
#include "ddraw.h"

#include <array>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace directx {

class SoftDirectDraw;
class SoftSurface;

struct DisplayMode {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    friend bool operator==(const DisplayMode&, const DisplayMode&) = default;
};

struct DriverEntry {
    std::optional<GUID> guid; // none: the primary display driver
    std::string description;
    std::string name;
    DWORD hardwareCaps = 0; // DDCAPS::dwCaps of the hardware
    DWORD surfaceCaps = 0;  // DDCAPS::ddsCaps.dwCaps of the hardware
};

class DisplayAdapter {
public:
    static DisplayAdapter& Instance();

    // Back to the defaults: desktop depth from ZELKA_DESKTOP_BPP (16 when unset or not 8, 16,
    // 24 or 32), the primary driver alone, the full video-memory budget, no faults armed, no
    // call recording. Live DirectDraw objects stay.
    void Reset();

    // The desktop: the real screen's size at the emulated depth.
    DisplayMode DesktopMode() const;
    void SetDesktopBitCount(int bitsPerPixel);
    // The display's mode now: the desktop, or what a SetDisplayMode chose.
    DisplayMode CurrentMode() const;
    // 640x480, 800x600, 1024x768 at 8/16/24/32 bits, plus the desktop; widest last.
    std::vector<DisplayMode> DisplayModes() const;
    // A mode change: every surface of every DirectDraw object becomes lost.
    void ChangeMode(const DisplayMode& mode);

    const std::vector<DriverEntry>& Drivers() const { return drivers_; }
    void SetDrivers(std::vector<DriverEntry> drivers) { drivers_ = std::move(drivers); }
    static DriverEntry PrimaryDriver();
    // Whether the machine's 3-D hardware draws for Direct3D (the HAL device): on the GPU road,
    // where the GPU's Direct3D back end started.
    static bool Hardware3D();

    // Video memory: surfaces placed there are charged against the budget.
    DWORD VideoMemoryTotal() const { return videoTotal_; }
    DWORD VideoMemoryFree() const;
    void SetVideoMemory(DWORD total) { videoTotal_ = total; }
    DWORD NonLocalMemoryTotal() const { return nonLocalTotal_; }
    DWORD NonLocalMemoryFree() const;
    void SetNonLocalMemory(DWORD total) { nonLocalTotal_ = total; }
    bool Reserve(DWORD bytes, bool nonLocal);
    void Unreserve(DWORD bytes, bool nonLocal);

    // The colours of a palettised desktop that no DirectDraw palette replaces.
    std::array<PALETTEENTRY, 256> systemPalette{};
    // The Direct3D devices and texture formats on offer.
    Direct3DOffer direct3d = Direct3DOffer::Default();

    // Fault injection: the next `count` calls of `method` fail with `code`. Methods are named
    // "DirectDrawCreate", "DirectDrawEnumerateA", "IDirectDraw2::<name>" (either interface
    // version), "IDirectDrawSurface::<name>", "IDirectDrawPalette::<name>" and
    // "IDirectDrawClipper::<name>".
    // Direct3D adds "IDirect3D2::<name>", "IDirect3DDevice2::<name>",
    // "IDirect3DViewport2::<name>", "IDirect3DTexture2::<name>", "Direct3DRMCreate",
    // "IDirect3DRM2::<name>" (either version), "IDirect3DRMDevice2::<name>" and
    // "IDirect3DRMViewport::<name>"; "IDirect3D2::CreateDevice(HAL)" (or MMX, RGB, Ramp)
    // fails the creation of one device kind only.
    // With pass > 0 that many calls succeed first, so a caller's second call of a method
    // can fail alone.
    void FailNext(const std::string& method, int count, HRESULT code, int pass = 0);
    // Every surface of every DirectDraw object becomes lost.
    void LoseAllSurfaces();
    // Records the name of every call made, for tests that check what a caller did.
    void RecordCalls(bool on) { recording_ = on; }
    const std::vector<std::string>& Calls() const { return calls_; }
    // While recording, the arguments of every SetRenderState, in call order (each one also
    // appears in Calls under its name).
    struct RenderStateCall {
        DWORD state = 0;
        DWORD value = 0;
        friend bool operator==(const RenderStateCall&, const RenderStateCall&) = default;
    };
    const std::vector<RenderStateCall>& RenderStateCalls() const { return renderStates_; }
    void RecordRenderState(DWORD state, DWORD value) {
        if (recording_)
            renderStates_.push_back(RenderStateCall{state, value});
    }
    void ClearCalls() {
        calls_.clear();
        renderStates_.clear();
    }

    // Called at the start of every method: records it, and answers an armed fault (else 0).
    HRESULT Intercept(const char* method);

    // The DirectDraw objects alive, and the one holding exclusive mode.
    std::vector<SoftDirectDraw*> objects;
    SoftDirectDraw* exclusiveOwner = nullptr;
    // Surfaces whose DirectDraw object has gone while callers still held them. A holder may
    // release one later; the rest go when the program ends, as they would with the driver.
    std::set<SoftSurface*> orphans;

private:
    DisplayAdapter();
    ~DisplayAdapter();
    struct Fault {
        int count = 0;
        HRESULT code = 0;
        int pass = 0;
    };
    std::vector<DriverEntry> drivers_;
    int desktopBitCount_ = 16;
    std::optional<DisplayMode> mode_; // none: the desktop
    DWORD videoTotal_ = 0, videoUsed_ = 0;
    DWORD nonLocalTotal_ = 0, nonLocalUsed_ = 0;
    std::map<std::string, Fault> faults_;
    bool recording_ = false;
    std::vector<std::string> calls_;
    std::vector<RenderStateCall> renderStates_;
};

inline DisplayAdapter& Adapter() {
    return DisplayAdapter::Instance();
}

// What a call of the layer named `method` answers before it does anything: the fault a test
// set on it, or DD_OK (see DisplayAdapter::Intercept).
inline HRESULT Fault(const char* method) {
    return Adapter().Intercept(method);
}

// The capability record a driver reports; hardware with its own bits, emulation without 3D.
DDCAPS DescribeCaps(const DriverEntry& driver, bool hardware);

} // namespace directx
