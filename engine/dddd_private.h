#pragma once
// Helpers the engine's own files share: formatted log text, fresh surface descriptions, the
// warning line with two numbers, and the clipping of a copy against a clip rectangle. Not part
// of the engine's interface.
#include "dddd_log.h"
#include "directx/ddraw.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace dddd {

template <typename... Values> std::string Format(const char* pattern, Values... values) {
    char text[1024];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

// A zeroed description with its size filled in, as every DirectDraw call wants it.
inline DDSURFACEDESC FreshDesc() {
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    return desc;
}

// Traces where a surface of the given capabilities was placed; `what` names the surface.
void TracePlacement(const std::string& what, DWORD caps);

// Warnings are rare, so a formatted line may allocate; drawing without them does not.
void Warn(const char* format, long long a, long long b = 0);

// One axis of an unscaled copy to `pos` of the source run low .. high, clipped to clipLow ..
// clipHigh: false when nothing is left.
bool ClipFast(LONG& pos, LONG& low, LONG& high, LONG clipLow, LONG clipHigh);
// One axis of a scaled copy, the source cut in proportion; an empty destination draws nothing
// rather than dividing by zero.
bool ClipScaled(LONG& dLow, LONG& dHigh, LONG& sLow, LONG& sHigh, LONG clipLow, LONG clipHigh);

} // namespace dddd
