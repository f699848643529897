#pragma once
// The display hardware: what windows show of the pixels presented to them is composed and
// pushed to the window system by a presenter on its own thread, at most at the display's
// refresh rate, always the newest complete picture. Presenting only hands a copy over.
// One road per window, chosen when the presenter first sees it: on X11 the presenter scales
// with the window system's own renderer (XRender, from its own connection: the GPU where the
// server has one); on Wayland it commits surfaces of its own that the compositor scales
// (PresenterWayland.h); elsewhere nothing can be pushed from a thread of ours, and the picture
// is composed by the CPU when the window paints. A window whose live picture is a flipping
// chain drawn on the GPU takes the GL road where the drawing context is on the window system's
// display: the presenter draws its frames with a context of its own (PresenterGl.h).
#include "Windows.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QWidget;

namespace presenting {

// The Qt image format over pixels of a layout, and its bytes per pixel.
QImage::Format QtFormat(TPixelLayout layout);
int BytesPerPixel(TPixelLayout layout);

// A copy of pixels handed over, in their own layout; converted only when composed. Its block
// lies in `bytes` (moving a picture keeps it there; copying would not, so it is not copied).
struct Picture : PixelBlock {
    Picture() = default;
    Picture(Picture&&) = default;
    Picture& operator=(Picture&&) = default;
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    std::vector<uchar> bytes;
    TPixelLayout layout = TPixelLayout::XRGB8888;
    QList<QRgb> colors; // Indexed8 only

    // Copies `source` of the view, reusing this picture's memory where it is large enough.
    void Assign(const TPixelView& view, const QRect& source);
    // A QImage over the copy (valid while the picture is unchanged).
    QImage Image() const;
};

class WaylandRoad;
class GlRoad;

// A picture shown at `dest` of the client area, stretched when the sizes differ.
struct Piece {
    QRect dest;
    Picture picture;
};

// The refresh rate of the virtual display, in hertz.
inline constexpr int kRefreshRate = 60;

class Presenter {
public:
    static Presenter& Instance();
    ~Presenter();

    // Hand-overs, on the user-interface thread: copy and return.
    // The whole picture scaled to fit the client area, aspect kept, black around it.
    void HandOverScaled(QWidget* window, const TPixelView& picture);
    // The same, read by the presenter itself from the live picture when it refreshes (the
    // protocol and the lock order are TLivePicture's, in Windows.h): it keeps its own copy of the
    // picture and copies into it only the rows the writers reported changed since its last read,
    // everything after the picture was published anew, under the picture's lock, band by band,
    // letting a waiting writer go between bands; a refresh whose read made a writer wait is
    // followed by a hundred times that wait without one. On X11 it uploads only those rows to the
    // server.
    void HandOverLive(QWidget* window, const std::shared_ptr<TLivePicture>& picture);
    // `source` of the picture shown at `dest` of the client area.
    void HandOverPiece(QWidget* window, const QRect& dest, const TPixelView& picture,
                       const QRect& source);
    // The newest frame of `frames` (drawn on the GPU) stretched over `dest` of the client area,
    // drawn by the GL road where the window takes it: a piece covering the client area alone.
    // Elsewhere the frames are refused, and their pictures come as plain pieces. `twin`, where
    // it has bits, is `source` of the same picture read back, shown as a plain piece would be
    // until the GL road has drawn one of the frames.
    void HandOverGpuPiece(QWidget* window, const QRect& dest,
                          const std::shared_ptr<gpu::FrameHandOver>& frames, const TPixelView& twin,
                          const QRect& source);
    // The window's geometry or mode changed: nothing shown before is shown again.
    void Blank(QWidget* window);
    // The same, and the window system's window went with it (it is made anew when shown).
    void Hidden(QWidget* window);
    void Forget(QWidget* window);

    // The road pictures take to the screen, chosen once: "x11" (pushed by the presenter through
    // its own X connection), "wayland" (committed to its own sub-surfaces) or "cpu" (composed by
    // the CPU when the window paints).
    const char* RoadName();
    // The road the window's pictures take now: one of those, or "gl" (drawn by the presenter's
    // own GL context from the frames of a flipping chain on the GPU).
    const char* RoadName(QWidget* window);
    // A window's pictures have gone through the GL road in this process.
    bool GlRoadTaken() const { return glTaken_.load(); }

    // What the window shows now, composed into `target` (client-sized): waits until every
    // picture handed over so far has been taken by the presenter, so a reader sees the newest.
    void ComposeShown(QWidget* window, QImage& target);
    // The GL road cannot be opened from now on (tests: its fall-back).
    void FailGlForTests(bool fail);

private:
    struct Screen;
    class XConnection;
    enum class Road { Cpu, X11, Wayland, Gl };
    Presenter();
    // Before the application closes its connection to the window system.
    static void Close();
    Screen& ScreenOf(QWidget* window); // under mutex_
    void Start();
    void ChooseRoad(); // under mutex_
    struct Refresh;
    struct ServerPicture;
    void Run();
    // Waits (under mutex_) until something was handed over or the presenter stops; false then.
    bool WaitForHandOver(std::unique_lock<std::mutex>& lock, bool owing);
    // Under mutex_ and shownMutex: what each screen was handed becomes what it shows.
    void TakeHandedOver(Refresh& refresh);
    // Under shownMutex: reads the live pictures taken and pushes what changed to the window
    // system; true when a road still owes a frame.
    bool ReadAndPush(const Refresh& refresh);
    // How long the reads of this refresh made writers wait for their pictures' locks.
    static std::uint64_t WaitsCaused(const std::vector<Screen*>& taken);
    void Take(Screen& screen);
    // Stops showing the screen's live picture (under mutex_).
    static void DropLive(Screen& screen);
    // Keeps the pieces' memory for later pictures and empties the list (under mutex_).
    void Recycle(std::vector<Piece>& pieces);
    // Adds a copy of `source` of the picture at `dest` to what is handed over (under mutex_).
    void AddPiece(Screen& screen, const QRect& dest, const TPixelView& picture,
                  const QRect& source);
    // A hand-over other than a GPU piece: the GPU piece shown goes at the take (under mutex_).
    static void EndGpuPiece(Screen& screen);
    void ReadLive(Screen& screen);
    // The X11 road, under shownMutex: the screen's child window made or fitted, what changed
    // uploaded to the server's copies of the pictures and composited, stretched, onto it.
    void Push(Screen& screen);
    void FitChild(Screen& screen, QSize size);
    void PushFull(Screen& screen, QSize size);
    // Rows [top, bottom) of the picture into the server's copy (made anew for another size, and
    // then uploaded whole), composited onto their part of `dest`.
    void Upload(Screen& screen, const Picture& picture, ServerPicture& source, const QRect& dest,
                int top, int bottom);
    // Makes the server's copy anew when its size differs; true then.
    bool FitSource(const Screen& screen, ServerPicture& source, QSize size);
    void PushWayland(QWidget* window, Screen& screen);
    // The GL road, under shownMutex: the newest frame drawn on the screen's child window (made or
    // fitted); `shot`: what is shown is read back for ComposeShown. Where it cannot, the frames
    // are refused and the next hand-over takes the X11 road.
    void PushGl(QWidget* window, Screen& screen, bool shot);
    // Under both mutexes: the GL road for a screen showing a live picture with frames on the GPU,
    // or a GPU piece covering its client area, whose frames are not refused; the window system's
    // own road otherwise.
    void ChooseGl(Screen& screen);
    static void Compose(const Screen& screen, QImage& target);

    // The hand-overs: screens_, each screen's handed-over fields, spare_, the road's choice and
    // stop_. The first lock of TLivePicture's order (Windows.h); never held while a live
    // picture is read.
    std::mutex mutex_;
    std::condition_variable handed_; // something to show, or stop
    std::condition_variable taken_;  // a refresh took what was handed over
    std::map<QWidget*, std::unique_ptr<Screen>> screens_;
    std::vector<Picture> spare_;
    bool stop_ = false;
    bool roadChosen_ = false;
    bool closed_ = false;
    std::unique_ptr<XConnection> x_;
    std::unique_ptr<WaylandRoad> wayland_;
    // Made on the presenter's thread when a screen first takes the GL road (under shownMutex).
    std::unique_ptr<GlRoad> gl_;
    bool glFailed_ = false;
    std::atomic<bool> glTaken_{false};
    std::thread thread_;
};

} // namespace presenting
