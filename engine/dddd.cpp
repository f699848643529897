#include "dddd.h"

#include "dddd_log.h"
#include "directx/DisplayAdapter.h"

#include <algorithm>

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

TDisplayModeEntry DisplayModeEntry(TDDDDDispMode mode) {
    if (mode < dmWin640x480x8 || mode >= dmWinVariable)
        return {false, 0, 0, 0};
    return kModes[mode];
}

void DescribeMask(DWORD mask, int& shift, int& loss) {
    if (mask == 0) {
        shift = 32;
        loss = 8;
        return;
    }
    shift = 0;
    while (!(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    int bits = 0;
    while (mask & 1) {
        mask >>= 1;
        ++bits;
    }
    loss = std::max(0, 8 - bits);
}

TDDDD::TDDDD() {
    DirectDrawEnumerateA(EnumDriverCallback, &Drivers);
}

TDDDD::~TDDDD() = default;

void TDDDD::SetDisplayMode(TDDDDDispMode mode) {
    displayMode_ = mode;
    if (mode == dmWinVariable) {
        FullScreen = false;
        ScreenWidth = OwnerClientWidth;
        ScreenHeight = OwnerClientHeight;
        BitCount = GetDesktopBitCount();
        return;
    }
    const TDisplayModeEntry entry = DisplayModeEntry(mode);
    FullScreen = entry.fullScreen;
    ScreenWidth = entry.width;
    ScreenHeight = entry.height;
    BitCount = entry.bitCount;
}

TDDDDDispMode TDDDD::GetDisplayMode() {
    WriteDebugLog("ScreenModeプロパティは読み込み禁止です");
    return displayMode_;
}

int TDDDD::GetDesktopBitCount() const {
    return directx::Adapter().CurrentMode().bitsPerPixel;
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
