#pragma once
// A DirectDraw clipper: the window whose client area a primary surface's blits land in.
#include "ComObject.h"
#include "ddraw.h"

namespace directx {

class SoftClipper : public TCounted<IDirectDrawClipper> {
public:
    HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) override;
    HRESULT GetHWnd(HWND* lphWnd) override;
    HRESULT SetHWnd(DWORD dwFlags, HWND hWnd) override;

    HWND Window() const { return window_; }
    // The window's client area in screen coordinates; empty without a window.
    RECT ClipArea() const;

private:
    HWND window_ = nullptr;
};

} // namespace directx
