#pragma once
// The window-system names the engine and the software DirectX layer see: window handles that
// can show pixels, rectangles, palette entries, and device contexts over memory. Nothing here
// includes Qt, so the Qt-free layers can use it; the few Qt-side accessors take forward-declared
// Qt types.
#include "LivePicture.h"
#include "platform/WinTypes.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class QImage;
class QWidget;

struct HWND__;
using HWND = HWND__*;
struct HDC__;
using HDC = HDC__*;

struct RECT {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
    friend bool operator==(const RECT&, const RECT&) = default;
};

struct POINT {
    LONG x = 0;
    LONG y = 0;
};

struct PALETTEENTRY {
    BYTE peRed = 0;
    BYTE peGreen = 0;
    BYTE peBlue = 0;
    BYTE peFlags = 0;
};
// peFlags of a logical palette's entries.
constexpr BYTE PC_RESERVED = 0x01;
constexpr BYTE PC_EXPLICIT = 0x02;
constexpr BYTE PC_NOCOLLAPSE = 0x04;

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;

// Screen size in pixels (the real primary screen).
int GetSystemMetrics(int index);

BOOL IsWindow(HWND window);
// The client area, origin (0, 0).
BOOL GetClientRect(HWND window, RECT* rect);
BOOL ClientToScreen(HWND window, POINT* point);
HWND GetActiveWindow();

// The handle of a top-level widget; the same widget always gets the same handle, and a handle
// outlives its widget harmlessly (IsWindow turns false).
HWND WindowHandle(QWidget* widget);
QWidget* WindowFromHandle(HWND window);

// How pixels handed to a window or a device context are laid out in memory.
enum class TPixelLayout { Indexed8, RGB565, XRGB1555, BGR888, XRGB8888 };

struct TPixelView {
    const void* bits = nullptr;
    int width = 0;
    int height = 0;
    int pitch = 0;
    TPixelLayout layout = TPixelLayout::XRGB8888;
    const DWORD* colorTable = nullptr; // 256 0x00RRGGBB entries for Indexed8
};

// Presenting hands a copy of the pixels to the presenter, which shows the newest picture at
// its next refresh (at most sixty a second) on its own thread; none of these waits for that.
// sourceRect of the picture shown at (clientX, clientY) of the window's client area. Pixels
// outside the client area are dropped.
void PresentToWindow(HWND window, int clientX, int clientY, const TPixelView& picture,
                     const RECT& sourceRect);
// sourceRect of the picture stretched over clientRect of the client area.
void PresentStretchedToWindow(HWND window, const RECT& clientRect, const TPixelView& picture,
                              const RECT& sourceRect);
// The whole picture scaled to the client area with its aspect kept, black around it.
void PresentScaledToWindow(HWND window, const TPixelView& picture);
// A picture the presenter reads itself at its next refresh, so presenting it copies nothing:
// a full-screen front, a window's canvas. The hand-over:
// - Whoever writes pixels of `view`'s memory holds `lock` meanwhile (TPictureLock counts how
//   long it waited), and before letting go reports the rectangle it wrote with Changed.
// - Whoever changes `view` or `colors`, or moves or frees the memory `view` describes, holds
//   `lock` and makes `sequence` odd meanwhile (a flip only while it exchanges the addresses); a
//   view without bits is not read. A new sequence means every pixel changed.
// - Then it calls PresentLiveToWindow, unless `pending` was already set (exchange(true)): the
//   presenter clears `pending` as it starts reading, so a change after that is handed over again.
// - The presenter, at its refresh, takes `lock` with ReaderLock and copies what `changed` holds
//   (everything when the sequence moved), row band by row band: between bands it lets waiting
//   writers in, so no writer waits for a whole picture's copy.
// Never call PresentLiveToWindow or anything of the presenter's with `lock` held.
struct TLivePicture {
    TPictureLock lock;
    std::atomic<std::uint64_t> sequence{0};
    std::atomic<bool> pending{false};
    TPixelView view;
    DWORD colors[256] = {}; // the colour table of an Indexed8 view
    TChangedRows changed;   // under `lock`
    // Under `lock`, after writing: the rectangle of the view that may have changed.
    void Changed(const RECT& area) {
        if (view.bits)
            changed.Add(view.width, view.height, area.left, area.top, area.right, area.bottom);
    }
};
void PresentLiveToWindow(HWND window, const std::shared_ptr<TLivePicture>& picture);
// What the window shows once the presenter has taken everything handed over so far.
QImage PresentedPicture(HWND window);
// Makes the window cover the whole screen, full screen as the window system gives it (remembering
// where it was), or puts it back.
void CoverScreen(HWND window, bool cover);

// Calls the handler whenever the window stops being the active window. Returns an id for
// RemoveDeactivationHandler.
int AddDeactivationHandler(HWND window, std::function<void()> handler);
void RemoveDeactivationHandler(int id);

// A device context whose drawing lands directly in the given memory (laid out as RGB565,
// XRGB1555, BGR888 or XRGB8888). Null for another layout.
HDC CreateMemoryDC(void* bits, int width, int height, int pitch, TPixelLayout layout);
BOOL DeleteMemoryDC(HDC dc);
constexpr UINT MB_OK = 0x0000;
constexpr UINT MB_ICONWARNING = 0x0030;
constexpr UINT MB_ICONERROR = 0x0010;
constexpr int IDOK = 1;
// A modal box with one OK button (texts in UTF-8); a warning unless MB_ICONERROR is given.
// Returns IDOK once it is answered.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

// The image a painter draws on for that device context; null for an unknown handle.
QImage* DeviceContextImage(HDC dc);
