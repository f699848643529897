#pragma once
// The window-system names the engine and the software DirectX layer see: window handles that
// can show pixels, rectangles, palette entries, and device contexts over memory. Nothing here
// includes Qt, so the Qt-free layers can use it; the few Qt-side accessors take forward-declared
// Qt types.
#include "LivePicture.h"
#include "gpu/FrameHandOver.h"
#include "platform/PixelBlock.h"
#include "platform/WinTypes.h"

#include <algorithm>
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
// Whether pictures handed to windows are seen: false in a headless run and without the
// program's application object (a benchmark's bare windows).
bool PicturesShown();
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

// Pixels handed to a window: the block, its layout and, for Indexed8, its colour table.
struct TPixelView : ConstPixelBlock {
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
// The newest frame of `frames` (drawn on the GPU) stretched over clientRect, drawn by the
// presenter from the GPU where the window's road can: then nothing is read back. Where it cannot,
// it refuses the frames, and their pictures come by PresentStretchedToWindow from then on.
// `twin`, where it has bits, is sourceRect of the same picture read back, shown until the
// presenter has drawn one of the frames.
void PresentGpuFramesToWindow(HWND window, const RECT& clientRect,
                              const std::shared_ptr<gpu::FrameHandOver>& frames,
                              const TPixelView& twin, const RECT& sourceRect);
// The whole picture scaled to the client area with its aspect kept, black around it.
void PresentScaledToWindow(HWND window, const TPixelView& picture);
class TLivePicture;
// Shows the live picture in the window from the presenter's next refresh on. Writers call
// TLivePicture::HandOver instead, which hands it over once per refresh.
void PresentLiveToWindow(HWND window, const std::shared_ptr<TLivePicture>& picture);

namespace presenting {
class Presenter;
}

// A picture the presenter reads itself at its next refresh, so presenting it copies nothing:
// a full-screen front, a window's canvas. Its writers (SoftSurface, TWindowCanvas, TCanvas) use
// only these operations; the presenter, its one reader, reads it under the same lock:
// - Write: pixels of the view's memory are written and the rectangle written is reported, both
//   under the lock, so the presenter finds the report by the time it can read the pixels.
// - Publish, Replace, Hide: a new view, memory or colour table (every pixel counts as changed),
//   or nothing to read (the memory may go); the memory is moved or freed inside Replace.
// - HandOver, after letting go of the lock: the picture goes to the presenter unless a hand-over
//   is still pending. The presenter clears the pending mark as it starts reading, so a change
//   after that is handed over again.
// The presenter, at its refresh, takes the lock with ReaderLock and copies what was reported
// (everything after a Publish or Hide), row band by row band: between bands it lets waiting
// writers in, so no writer waits for a whole picture's copy.
// Lock order: the presenter's mutex, then its shown-state mutex, then a picture's lock. The
// writer's rule that follows: no writer calls HandOver, PresentLiveToWindow or anything else
// of the presenter's inside Write or Replace (while it holds a picture's lock).
class TLivePicture : public std::enable_shared_from_this<TLivePicture> {
public:
    // `draw` writes pixels of the view's memory; `area` (clipped to the view) is reported as
    // changed.
    template <typename Draw> void Write(const RECT& area, Draw&& draw) {
        std::lock_guard hold(lock_);
        draw();
        if (view_.bits)
            changed_.Add(view_.width, view_.height, area.left, area.top, area.right, area.bottom);
    }
    // `change` may move or free the memory and returns the view of what is to be read from now
    // on (a view without bits: nothing); an Indexed8 view's colour table is copied.
    template <typename Change> void Replace(Change&& change) {
        std::lock_guard hold(lock_);
        Describe(change());
    }
    void Publish(const TPixelView& view) {
        Replace([&] { return view; });
    }
    void Hide() { Publish(TPixelView{}); }
    void HandOver(HWND window) {
        if (!pending_.exchange(true))
            PresentLiveToWindow(window, shared_from_this());
    }
    // The nanoseconds writers have waited for the presenter's reads so far.
    std::uint64_t WaitedNs() const { return lock_.WaitedNs(); }
    // Its frames also come on the GPU (a flipping chain drawn there): the presenter draws them
    // itself where it can, and refuses them where it cannot (the writer then reads each frame
    // back into the view's memory). Set before the picture is first handed over.
    void UseGpuFrames(std::shared_ptr<gpu::FrameHandOver> frames) {
        gpuFrames_ = std::move(frames);
    }

private:
    friend class presenting::Presenter;
    void Describe(const TPixelView& view) {
        view_ = view;
        if (view_.layout == TPixelLayout::Indexed8 && view_.colorTable)
            std::copy(view_.colorTable, view_.colorTable + 256, colors_);
        view_.colorTable = nullptr;
        replaced_ = true;
    }

    TPictureLock lock_;
    std::atomic<bool> pending_{false};
    std::shared_ptr<gpu::FrameHandOver> gpuFrames_; // unchanged once handed over
    // Under lock_, all of them.
    TPixelView view_;
    DWORD colors_[256] = {}; // the colour table of an Indexed8 view
    TChangedRows changed_;
    bool replaced_ = false; // Publish or Hide since the presenter last read the whole picture
};
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
