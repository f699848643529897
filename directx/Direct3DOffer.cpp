#include "Direct3DOffer.h"

#include "PixelFormat.h"

#include <algorithm>

namespace directx {

DDPIXELFORMAT TextureFormat(DWORD bits, DWORD r, DWORD g, DWORD b, DWORD alpha) {
    return PixelFormat::Masks(static_cast<int>(bits), r, g, b, alpha).ToDD();
}

namespace {

DDPIXELFORMAT Palettized8() {
    return PixelFormat::ForDisplay(8).ToDD();
}

} // namespace

Direct3DOffer Direct3DOffer::Default() {
    const std::vector<DDPIXELFORMAT> full = {
        Palettized8(),
        TextureFormat(16, 0xF800, 0x07E0, 0x001F),
        TextureFormat(16, 0x7C00, 0x03E0, 0x001F),
        TextureFormat(16, 0x7C00, 0x03E0, 0x001F, 0x8000),
        TextureFormat(16, 0x0F00, 0x00F0, 0x000F, 0xF000),
        TextureFormat(24, 0xFF0000, 0x00FF00, 0x0000FF),
        TextureFormat(32, 0xFF0000, 0x00FF00, 0x0000FF),
        TextureFormat(32, 0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000),
    };
    Direct3DOffer offer;
    offer.Device(DeviceKind::HAL).textureFormats = full;
    offer.Device(DeviceKind::MMX).textureFormats = full;
    offer.Device(DeviceKind::RGB).textureFormats = full;
    // The monochrome ramp model draws from palettised textures only.
    offer.Device(DeviceKind::Ramp).textureFormats = {Palettized8()};
    return offer;
}

void Direct3DOffer::RemoveAlphaTextureFormats() {
    for (DeviceOffer& device : devices)
        std::erase_if(device.textureFormats, [](const DDPIXELFORMAT& f) {
            return (f.dwFlags & (DDPF_ALPHAPIXELS | DDPF_ALPHA)) != 0;
        });
}

const char* DeviceKindName(DeviceKind kind) {
    switch (kind) {
    case DeviceKind::HAL:
        return "HAL";
    case DeviceKind::MMX:
        return "MMX";
    case DeviceKind::RGB:
        return "RGB";
    default:
        return "Ramp";
    }
}

} // namespace directx
