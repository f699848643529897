#include "dddd_private.h"

namespace dddd {

void TracePlacement(const std::string& what, DWORD caps) {
    if ((caps & DDSCAPS_VIDEOMEMORY) && (caps & DDSCAPS_NONLOCALVIDMEM))
        Trace(what + "をノンローカルビデオメモリに配置します");
    else if (caps & DDSCAPS_VIDEOMEMORY)
        Trace(what + "をビデオメモリに配置します");
    else if (caps & DDSCAPS_SYSTEMMEMORY)
        Trace(what + "をシステムメモリに配置します");
    else
        Trace(what + "をドライバのデフォルトの位置(おそらくビデオメモリ)に配置します");
}

void Warn(const char* format, long long a, long long b) {
    char text[256];
    std::snprintf(text, sizeof text, format, a, b);
    LogWarning(text);
}

bool ClipFast(LONG& pos, LONG& low, LONG& high, LONG clipLow, LONG clipHigh) {
    const LONG end = pos + (high - low);
    const LONG high0 = high;
    if (clipHigh < pos || end < clipLow)
        return false;
    if (clipHigh < end)
        high = clipHigh + low - pos;
    if (pos < clipLow) {
        low = high0 - (end - clipLow);
        pos = clipLow;
    }
    return true;
}

bool ClipScaled(LONG& dLow, LONG& dHigh, LONG& sLow, LONG& sHigh, LONG clipLow, LONG clipHigh) {
    const std::int64_t sw = sHigh - sLow;
    const std::int64_t dw = dHigh - dLow;
    const LONG sHigh0 = sHigh;
    const LONG dHigh0 = dHigh;
    if (clipHigh < dLow || dHigh < clipLow || dw == 0)
        return false;
    if (clipHigh < dHigh) {
        sHigh = static_cast<LONG>(sLow + (std::int64_t{clipHigh} - dLow) * sw / dw);
        dHigh = clipHigh;
    }
    if (dLow < clipLow) {
        sLow = static_cast<LONG>(sHigh0 - (std::int64_t{dHigh0} - clipLow) * sw / dw);
        dLow = clipLow;
    }
    return true;
}

} // namespace dddd
