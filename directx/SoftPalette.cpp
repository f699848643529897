#include "SoftPalette.h"

#include "DisplayAdapter.h"
#include "SoftSurface.h"

#include <algorithm>

namespace directx {

SoftPalette::SoftPalette(DWORD caps, const PALETTEENTRY* entries) : caps_(caps) {
    SetEntries(0, 0, 256, const_cast<PALETTEENTRY*>(entries));
}

HRESULT SoftPalette::QueryInterface(REFIID riid, LPVOID* ppvObj) {
    return AnswerQuery<IDirectDrawPalette>(this, IID_IDirectDrawPalette, riid, ppvObj);
}

HRESULT SoftPalette::GetCaps(DWORD* lpdwCaps) {
    if (HRESULT f = Fault("IDirectDrawPalette::GetCaps"))
        return f;
    if (!lpdwCaps)
        return DDERR_INVALIDPARAMS;
    *lpdwCaps = caps_;
    return DD_OK;
}

HRESULT SoftPalette::GetEntries(DWORD, DWORD dwBase, DWORD dwNumEntries, LPPALETTEENTRY lpEntries) {
    if (HRESULT f = Fault("IDirectDrawPalette::GetEntries"))
        return f;
    if (!lpEntries || dwBase > 256 || dwNumEntries > 256 - dwBase)
        return DDERR_INVALIDPARAMS;
    std::copy_n(entries_ + dwBase, dwNumEntries, lpEntries);
    return DD_OK;
}

HRESULT SoftPalette::SetEntries(DWORD, DWORD dwStartingEntry, DWORD dwCount,
                                LPPALETTEENTRY lpEntries) {
    if (HRESULT f = Fault("IDirectDrawPalette::SetEntries"))
        return f;
    if (!lpEntries || dwStartingEntry > 256 || dwCount > 256 - dwStartingEntry)
        return DDERR_INVALIDPARAMS;
    for (DWORD i = 0; i < dwCount; ++i) {
        const PALETTEENTRY& e = lpEntries[i];
        entries_[dwStartingEntry + i] = e;
        colors_[dwStartingEntry + i] = DWORD{e.peRed} << 16 | DWORD{e.peGreen} << 8 | e.peBlue;
    }
    // On a window's primary the new colours take the system palette's free entries; the 20
    // static colours stay the system's.
    if (std::any_of(users_.begin(), users_.end(),
                    [](const SoftSurface* surface) { return surface->WindowedPrimary(); })) {
        const DWORD end = std::min<DWORD>(dwStartingEntry + dwCount, 246);
        for (DWORD i = std::max<DWORD>(dwStartingEntry, 10); i < end; ++i)
            Adapter().systemPalette[i] = entries_[i];
    }
    const std::vector<SoftSurface*> users = users_;
    for (SoftSurface* surface : users)
        surface->PaletteChanged();
    return DD_OK;
}

void SoftPalette::Attach(SoftSurface* surface) {
    users_.push_back(surface);
}

void SoftPalette::Detach(SoftSurface* surface) {
    auto it = std::find(users_.begin(), users_.end(), surface);
    if (it != users_.end())
        users_.erase(it);
}

} // namespace directx
