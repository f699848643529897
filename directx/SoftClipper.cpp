#include "SoftClipper.h"

#include "DisplayAdapter.h"

namespace directx {

HRESULT SoftClipper::QueryInterface(REFIID riid, LPVOID* ppvObj) {
    return AnswerQuery<IDirectDrawClipper>(this, IID_IDirectDrawClipper, riid, ppvObj);
}

HRESULT SoftClipper::GetHWnd(HWND* lphWnd) {
    if (HRESULT f = Fault("IDirectDrawClipper::GetHWnd"))
        return f;
    if (!lphWnd)
        return DDERR_INVALIDPARAMS;
    *lphWnd = window_;
    return DD_OK;
}

HRESULT SoftClipper::SetHWnd(DWORD dwFlags, HWND hWnd) {
    if (HRESULT f = Fault("IDirectDrawClipper::SetHWnd"))
        return f;
    if (dwFlags != 0 || (hWnd && !IsWindow(hWnd)))
        return DDERR_INVALIDPARAMS;
    window_ = hWnd;
    return DD_OK;
}

RECT SoftClipper::ClipArea() const {
    RECT client{};
    POINT origin{};
    if (!window_ || !GetClientRect(window_, &client) || !ClientToScreen(window_, &origin))
        return RECT{};
    return RECT{origin.x, origin.y, origin.x + client.right, origin.y + client.bottom};
}

} // namespace directx
