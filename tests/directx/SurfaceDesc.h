#pragma once
// What DirectDraw is asked for to make a surface, as the DirectDraw and engine tests and the
// benchmarks ask (no test framework here).
#include "directx/PixelFormat.h"
#include "directx/ddraw.h"

// A surface of the given size and caps, in the display's format at `bitsPerPixel`, or in the
// display's own where that is 0.
inline DDSURFACEDESC SurfaceDesc(int width, int height, DWORD caps, int bitsPerPixel) {
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    desc.dwWidth = static_cast<DWORD>(width);
    desc.dwHeight = static_cast<DWORD>(height);
    desc.ddsCaps.dwCaps = caps;
    if (bitsPerPixel) {
        desc.dwFlags |= DDSD_PIXELFORMAT;
        desc.ddpfPixelFormat = directx::PixelFormat::ForDisplay(bitsPerPixel).ToDD();
    }
    return desc;
}
