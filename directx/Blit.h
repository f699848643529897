#pragma once
// The pixel loops behind Blt and BltFast: one loop per pixel size and operation, chosen once
// per call. Rectangles arrive already checked and clipped.
#include "ddraw.h"
#include "platform/PixelBlock.h"
#include "platform/Processor.h" // the AVX2 loops ask WideVectorsInUse

#include <algorithm>

namespace directx {

// A block of pixels as the blitters see it: the memory and the size of one pixel in bytes.
struct PixelPlane : PixelBlock {
    int bytesPerPixel = 2;

    // Where pixel (x, y) starts.
    BYTE* At(LONG x, LONG y) const {
        return Row(y) + static_cast<std::ptrdiff_t>(x) * bytesPerPixel;
    }
};

// Rectangles as the blits check and clip them: one with nothing in it, one inside another,
// the part two have in common.
inline bool Empty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

inline bool Inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

inline RECT Intersect(const RECT& a, const RECT& b) {
    return RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

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

// Draws sourceRect onto fullTarget, only the part inside visibleTarget: a copy where the two
// are the same size and nothing is mirrored, else a stretch.
void BlitRect(const PixelPlane& target, const RECT& fullTarget, const RECT& visibleTarget,
              const PixelPlane& source, const RECT& sourceRect, const ColorKeyRange& key,
              bool mirrorLeftRight, bool mirrorUpDown);

// Nearest-pixel stretch of sourceRect onto fullTarget, drawing only the part inside
// visibleTarget; mirrored horizontally and/or vertically when asked.
void StretchRect(const PixelPlane& target, const RECT& fullTarget, const RECT& visibleTarget,
                 const PixelPlane& source, const RECT& sourceRect, const ColorKeyRange& key,
                 bool mirrorLeftRight, bool mirrorUpDown);

} // namespace directx
