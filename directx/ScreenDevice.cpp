#include "ScreenDevice.h"

#include "DisplayAdapter.h"

#include <algorithm>

int GetDeviceCaps(HDC, int index) {
    const directx::DisplayMode mode = directx::Adapter().CurrentMode();
    switch (index) {
    case HORZRES:
        return mode.width;
    case VERTRES:
        return mode.height;
    case BITSPIXEL:
        return mode.bitsPerPixel;
    default:
        return 0;
    }
}

UINT GetSystemPaletteEntries(HDC, UINT start, UINT count, PALETTEENTRY* entries) {
    const auto& system = directx::Adapter().systemPalette;
    if (!entries || start >= system.size())
        return 0;
    const UINT copied = std::min<UINT>(count, static_cast<UINT>(system.size()) - start);
    std::copy_n(system.begin() + start, copied, entries);
    return copied;
}
