#pragma once
// What a component sees of the form it sits on, without Qt: its window, bounds, state, the
// create and paint events, and a replaceable window procedure that receives the few window
// messages the forms translate from Qt's events.
#include "Windows.h"

#include <functional>

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_GETMINMAXINFO = 0x0024;
constexpr UINT WM_ENTERMENULOOP = 0x0211;
constexpr UINT WM_EXITMENULOOP = 0x0212;
constexpr UINT WM_PALETTECHANGED = 0x0311;
constexpr WPARAM SIZE_RESTORED = 0;
constexpr WPARAM SIZE_MAXIMIZED = 2;

constexpr LPARAM MakeLParam(int low, int high) {
    return static_cast<LPARAM>((static_cast<std::uint32_t>(high & 0xFFFF) << 16) |
                               static_cast<std::uint32_t>(low & 0xFFFF));
}
constexpr int LowWord(LPARAM value) {
    return static_cast<std::int16_t>(value & 0xFFFF);
}
constexpr int HighWord(LPARAM value) {
    return static_cast<std::int16_t>((value >> 16) & 0xFFFF);
}

struct MINMAXINFO {
    POINT ptReserved;
    POINT ptMaxSize;
    POINT ptMaxPosition;
    POINT ptMinTrackSize;
    POINT ptMaxTrackSize;
};

struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

using TWndMethod = std::function<void(TMessage&)>;
using TFormEvent = std::function<void(void* sender)>;

enum TWindowState { wsNormal, wsMinimized, wsMaximized };

class TFormBase {
public:
    virtual ~TFormBase() = default;

    // Fired once the form's creation ends, and on every repaint of the form.
    TFormEvent OnCreate;
    TFormEvent OnPaint;
    // Every translated message goes here; a component may put its own procedure in and chain
    // to the one it found. The form's own procedure does nothing.
    TWndMethod WindowProc = [](TMessage&) {};

    LRESULT Perform(UINT msg, WPARAM wParam, LPARAM lParam) {
        TMessage message{msg, wParam, lParam, 0};
        WindowProc(message);
        return message.Result;
    }

    virtual HWND Handle() = 0;
    virtual bool Active() const = 0;
    virtual TWindowState WindowState() const = 0;
    virtual void SetWindowState(TWindowState state) = 0;
    virtual int FormLeft() const = 0;
    virtual int FormTop() const = 0;
    virtual int ClientWidth() const = 0;
    virtual int ClientHeight() const = 0;
    virtual void SetBounds(int left, int top, int width, int height) = 0;
    virtual void ShowForm() = 0;
    virtual void HideForm() = 0;
    virtual void BringToFront() = 0;
    // The form's creation has ended: fires OnCreate with the form as sender.
    void CreationEnded() {
        if (OnCreate)
            OnCreate(this);
    }
};
