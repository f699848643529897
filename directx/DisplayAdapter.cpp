#include "DisplayAdapter.h"

#include "GpuBlitter.h"
#include "GpuRaster.h"
#include "SoftDirectDraw.h"
#include "SoftSurface.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace directx {

namespace {
constexpr DWORD DefaultVideoMemory = 8u << 20;
constexpr DWORD DefaultNonLocalMemory = 16u << 20;
// Video memory on the GPU road where the GPU does not say how much it has, and the most it
// is taken for (the engine counts it in 32 bits).
constexpr DWORD GpuVideoMemoryBound = 256u << 20;
constexpr std::uint64_t GpuVideoMemoryMost = 1u << 30;

// The emulated card's video memory, or on the GPU road the GPU's.
DWORD VideoMemoryBudget() {
    const GpuBlitter* gpu = GpuBlitter::Get();
    if (!gpu)
        return DefaultVideoMemory;
    const std::uint64_t kib = gpu->Renderer().videoMemoryKiB;
    if (kib == 0)
        return GpuVideoMemoryBound;
    return static_cast<DWORD>(std::min(kib * 1024, GpuVideoMemoryMost));
}

int DesktopDepthFromEnvironment() {
    const char* text = std::getenv("ZELKA_DESKTOP_BPP");
    if (!text)
        return 16;
    const int value = std::atoi(text);
    return value == 8 || value == 16 || value == 24 || value == 32 ? value : 16;
}

void FillDefaultSystemPalette(std::array<PALETTEENTRY, 256>& palette) {
    // A 3-3-2 colour cube, black first and white last, as a palettised desktop offers.
    palette = CubePalette();
}
} // namespace

DisplayAdapter::DisplayAdapter() {
    Reset();
}

DisplayAdapter::~DisplayAdapter() {
    // The program is ending: the surfaces left behind by their holders go now.
    const std::set<SoftSurface*> left = std::move(orphans);
    orphans.clear();
    for (SoftSurface* surface : left)
        delete surface;
}

DisplayAdapter& DisplayAdapter::Instance() {
    static DisplayAdapter adapter;
    return adapter;
}

void DisplayAdapter::Reset() {
    drivers_ = {PrimaryDriver()};
    desktopBitCount_ = DesktopDepthFromEnvironment();
    videoTotal_ = VideoMemoryBudget();
    nonLocalTotal_ = DefaultNonLocalMemory;
    faults_.clear();
    recording_ = false;
    calls_.clear();
    renderStates_.clear();
    FillDefaultSystemPalette(systemPalette);
    direct3d = Direct3DOffer::Default();
    DeviceOffer& hal = direct3d.Device(DeviceKind::HAL);
    hal.available = Hardware3D();
    // The GPU holds texels of 1, 2 or 4 bytes: the hardware device offers no packed 24-bit
    // textures (a 24-bit picture takes the 32-bit format, with the same colours).
    if (hal.available)
        std::erase_if(hal.textureFormats,
                      [](const DDPIXELFORMAT& format) { return format.dwRGBBitCount == 24; });
}

bool DisplayAdapter::Hardware3D() {
    return GpuBlitter::Get() != nullptr && GpuRaster::Get() != nullptr;
}

DriverEntry DisplayAdapter::PrimaryDriver() {
    DriverEntry driver;
    driver.description = "Primary Display Driver";
    driver.name = "display";
    driver.hardwareCaps = DDCAPS_BLT | DDCAPS_BLTSTRETCH | DDCAPS_GDI | DDCAPS_PALETTE |
                          DDCAPS_COLORKEY | DDCAPS_BLTCOLORFILL | DDCAPS_CANCLIP |
                          DDCAPS_CANCLIPSTRETCHED | DDCAPS_CANBLTSYSMEM;
    // 3-D hardware only where the GPU draws: without it the engine takes its emulation road.
    if (Hardware3D())
        driver.hardwareCaps |= DDCAPS_3D;
    driver.surfaceCaps = DDSCAPS_BACKBUFFER | DDSCAPS_COMPLEX | DDSCAPS_FLIP | DDSCAPS_FRONTBUFFER |
                         DDSCAPS_OFFSCREENPLAIN | DDSCAPS_PALETTE | DDSCAPS_PRIMARYSURFACE |
                         DDSCAPS_SYSTEMMEMORY | DDSCAPS_TEXTURE | DDSCAPS_3DDEVICE |
                         DDSCAPS_VIDEOMEMORY | DDSCAPS_ZBUFFER | DDSCAPS_LOCALVIDMEM |
                         DDSCAPS_NONLOCALVIDMEM;
    return driver;
}

DisplayMode DisplayAdapter::DesktopMode() const {
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    if (width <= 0 || height <= 0) {
        width = 800; // no screen at all (no GUI application yet): a small desktop
        height = 600;
    }
    return DisplayMode{width, height, desktopBitCount_};
}

void DisplayAdapter::SetDesktopBitCount(int bitsPerPixel) {
    desktopBitCount_ = bitsPerPixel;
}

DisplayMode DisplayAdapter::CurrentMode() const {
    return mode_ ? *mode_ : DesktopMode();
}

std::vector<DisplayMode> DisplayAdapter::DisplayModes() const {
    std::vector<DisplayMode> modes;
    for (const auto& [w, h] : {std::pair{640, 480}, {800, 600}, {1024, 768}})
        for (int bpp : {8, 16, 24, 32})
            modes.push_back(DisplayMode{w, h, bpp});
    const DisplayMode desktop = DesktopMode();
    if (std::find(modes.begin(), modes.end(), desktop) == modes.end())
        modes.push_back(desktop);
    return modes;
}

void DisplayAdapter::ChangeMode(const DisplayMode& mode) {
    if (mode == DesktopMode())
        mode_.reset();
    else
        mode_ = mode;
    LoseAllSurfaces();
}

DWORD DisplayAdapter::VideoMemoryFree() const {
    return videoUsed_ >= videoTotal_ ? 0 : videoTotal_ - videoUsed_;
}

DWORD DisplayAdapter::NonLocalMemoryFree() const {
    return nonLocalUsed_ >= nonLocalTotal_ ? 0 : nonLocalTotal_ - nonLocalUsed_;
}

bool DisplayAdapter::Reserve(DWORD bytes, bool nonLocal) {
    if (bytes > (nonLocal ? NonLocalMemoryFree() : VideoMemoryFree()))
        return false;
    (nonLocal ? nonLocalUsed_ : videoUsed_) += bytes;
    return true;
}

void DisplayAdapter::Unreserve(DWORD bytes, bool nonLocal) {
    DWORD& used = nonLocal ? nonLocalUsed_ : videoUsed_;
    used = bytes > used ? 0 : used - bytes;
}

void DisplayAdapter::FailNext(const std::string& method, int count, HRESULT code, int pass) {
    if (count <= 0)
        faults_.erase(method);
    else
        faults_[method] = Fault{count, code, pass};
}

void DisplayAdapter::LoseAllSurfaces() {
    for (SoftDirectDraw* object : objects)
        object->LoseSurfaces();
}

HRESULT DisplayAdapter::Intercept(const char* method) {
    if (recording_)
        calls_.emplace_back(method);
    if (faults_.empty())
        return DD_OK;
    auto it = faults_.find(method);
    if (it == faults_.end())
        return DD_OK;
    if (it->second.pass > 0) {
        --it->second.pass;
        return DD_OK;
    }
    const HRESULT code = it->second.code;
    if (--it->second.count <= 0)
        faults_.erase(it);
    return code;
}

DDCAPS DescribeCaps(const DriverEntry& driver, bool hardware) {
    DDCAPS caps{};
    caps.dwSize = sizeof(DDCAPS);
    caps.dwCaps = hardware ? driver.hardwareCaps : (driver.hardwareCaps & ~DDCAPS_3D);
    caps.dwCKeyCaps = DDCKEYCAPS_SRCBLT;
    caps.dwFXCaps = DDFXCAPS_BLTMIRRORLEFTRIGHT | DDFXCAPS_BLTMIRRORUPDOWN;
    caps.dwPalCaps = DDPCAPS_8BIT | DDPCAPS_PRIMARYSURFACE | DDPCAPS_ALLOW256;
    caps.dwZBufferBitDepths = DDBD_16 | DDBD_24 | DDBD_32;
    caps.ddsCaps.dwCaps =
        hardware ? driver.surfaceCaps
                 : (driver.surfaceCaps &
                    ~(DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM | DDSCAPS_NONLOCALVIDMEM));
    if (hardware) {
        caps.dwVidMemTotal = Adapter().VideoMemoryTotal();
        caps.dwVidMemFree = Adapter().VideoMemoryFree();
    }
    return caps;
}

} // namespace directx
