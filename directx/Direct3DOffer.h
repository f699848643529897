#pragma once
// What the virtual display adapter offers Direct3D: which device kinds exist and which
// texture formats each of them enumerates, in order. Tests change it to drive the callers'
// fall-back paths.
#include "ddraw.h"

#include <array>
#include <cstddef>
#include <vector>

namespace directx {

enum class DeviceKind { HAL, MMX, RGB, Ramp };

struct DeviceOffer {
    bool available = true;
    std::vector<DDPIXELFORMAT> textureFormats;
};

struct Direct3DOffer {
    std::array<DeviceOffer, 4> devices;

    DeviceOffer& Device(DeviceKind kind) { return devices[static_cast<std::size_t>(kind)]; }
    const DeviceOffer& Device(DeviceKind kind) const {
        return devices[static_cast<std::size_t>(kind)];
    }
    // Every device loses its texture formats with alpha.
    void RemoveAlphaTextureFormats();

    // All four kinds; HAL, MMX and RGB offer 8-bit palettised, 5-6-5, 5-5-5, 1-5-5-5,
    // 4-4-4-4, 24-bit, 32-bit and 8-8-8-8 textures in that order, Ramp palettised ones only.
    static Direct3DOffer Default();
};

// The texture format of a bit count and masks; an alpha mask adds DDPF_ALPHAPIXELS.
DDPIXELFORMAT TextureFormat(DWORD bits, DWORD r, DWORD g, DWORD b, DWORD alpha = 0);

const char* DeviceKindName(DeviceKind kind);

} // namespace directx
