#pragma once
// The pixel loops behind Blt and BltFast: one loop per pixel size and operation, chosen once
// per call. Rectangles arrive already checked and clipped.
#include "ddraw.h"
#include "platform/Processor.h" // the AVX2 loops ask WideVectorsInUse

namespace directx {

struct PixelPlane {
    BYTE* bits = nullptr;
    LONG pitch = 0;
    int width = 0;
    int height = 0;
    int bytesPerPixel = 2;

    BYTE* Row(LONG y) const { return bits + static_cast<std::ptrdiff_t>(y) * pitch; }
};

// A source colour key: pixels whose colour bits lie in low..high are not copied.
struct ColorKeyRange {
    bool enabled = false;
    DWORD low = 0;
    DWORD high = 0;
    DWORD colorBits = 0xFFFFFFFF; // bits of a pixel that are compared
};

void FillRect(const PixelPlane& target, const RECT& rect, DWORD value);

// Copies source rect to (x, y); source and target may be the same plane and overlap.
void CopyRect(const PixelPlane& target, LONG x, LONG y, const PixelPlane& source,
              const RECT& sourceRect, const ColorKeyRange& key);

// Nearest-pixel stretch of sourceRect onto fullTarget, drawing only the part inside
// visibleTarget; mirrored horizontally and/or vertically when asked.
void StretchRect(const PixelPlane& target, const RECT& fullTarget, const RECT& visibleTarget,
                 const PixelPlane& source, const RECT& sourceRect, const ColorKeyRange& key,
                 bool mirrorLeftRight, bool mirrorUpDown);

} // namespace directx
