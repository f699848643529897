#pragma once
// A DirectDraw palette of 256 entries; the surfaces using it hear of every change.
#include "ComObject.h"
#include "ddraw.h"

#include <vector>

namespace directx {

class SoftSurface;

class SoftPalette : public TCounted<IDirectDrawPalette> {
public:
    SoftPalette(DWORD caps, const PALETTEENTRY* entries);

    HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) override;
    HRESULT GetCaps(DWORD* lpdwCaps) override;
    HRESULT GetEntries(DWORD dwFlags, DWORD dwBase, DWORD dwNumEntries,
                       LPPALETTEENTRY lpEntries) override;
    HRESULT SetEntries(DWORD dwFlags, DWORD dwStartingEntry, DWORD dwCount,
                       LPPALETTEENTRY lpEntries) override;

    // The entries as 0x00RRGGBB.
    const DWORD* Colors() const { return colors_; }
    void Attach(SoftSurface* surface);
    void Detach(SoftSurface* surface);

private:
    DWORD caps_;
    PALETTEENTRY entries_[256] = {};
    DWORD colors_[256] = {};
    std::vector<SoftSurface*> users_;
};

} // namespace directx
