#pragma once
// The presenter's road on Wayland: each window shows its pictures on two surfaces of the
// presenter's own, stacked on the window's surface as sub-surfaces: a black one covering the
// client area, and above it the picture, scaled by the compositor (viewporter) where its size
// differs. The sub-surfaces are desynchronised from the window's, so the presenter commits them
// from its own thread, on an event queue of its own, while the user-interface thread is busy;
// a commit waits for the compositor's frame callback, so at most one picture a refresh goes out.
// Input passes through them to the window.
#include "Presenter.h"

#include <QImage>
#include <QRegion>
#include <QSize>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class QWidget;
struct wl_display;
struct wl_event_queue;
struct wl_compositor;
struct wl_subcompositor;
struct wl_shm;
struct wl_buffer;
struct wl_surface;
struct wl_subsurface;
struct wl_callback;
struct wl_registry;
struct wp_viewporter;
struct wp_viewport;
struct wl_egl_window;

namespace presenting {

class WaylandRoad {
public:
    // The road where the application runs on Wayland and the compositor offers sub-surfaces,
    // shared memory and viewports; null elsewhere.
    static std::unique_ptr<WaylandRoad> Open();
    ~WaylandRoad();
    WaylandRoad(const WaylandRoad&) = delete;
    WaylandRoad& operator=(const WaylandRoad&) = delete;

    // On the user-interface thread, as a picture is handed over: places the window's surfaces
    // on the window system's surface of `window`, anew when that surface changed. Takes `shown`
    // (the lock the presenter pushes under) only to change them.
    void Follow(QWidget* window, std::mutex& shown);
    // Under `shown`: the window was hidden or goes: its surfaces go with it.
    void Drop(QWidget* window);

    // What a window shows, from the presenter's thread under `shown`.
    struct Frame {
        QSize client;
        bool blank = false;                  // nothing shown before is shown again
        const Picture* full = nullptr;       // scaled to fit, aspect kept, black around it
        QRegion fullChanged;                 // of `full`, since it was last given
        std::vector<const Piece*> newPieces; // shown over what is there
    };
    // Takes the frame in and commits it, or leaves it for Flush until the compositor has shown
    // the last commit. Returns false while something waits.
    // Called again with the window's current state until it returns true.
    bool Show(QWidget* window, const Frame& frame);
    // The GL road's window for `window`, under `shown`: a desynchronised sub-surface over the
    // client area (above the picture's, which shows nothing meanwhile) that an EGL window
    // surface draws into, made or sized to `client` here. Null while the window has no surfaces.
    wl_egl_window* GlWindow(QWidget* window, QSize client);
    // Under `shown`: the GL road's surface goes (the shared-memory pictures show again).
    void DropGl(QWidget* window);
    // Called, under `shown`, before a GL window goes, so its EGL surface goes first.
    void OnGlWindowGone(std::function<void(wl_egl_window*)> gone) { glGone_ = std::move(gone); }
    // Waits, at most `bound`, until the compositor has shown what this refresh committed: the
    // presenter's refresh then costs what the compositor's work costs, as the X11 road's round
    // trip does, and the presenter keeps its idle share of the processors counting both.
    void WaitShown(std::chrono::milliseconds bound);

private:
    struct Buffer;
    struct Window;
    struct Globals;
    WaylandRoad() = default;
    void Pump();
    void Build(Window& w, void* parent, QPoint offset);
    void Destroy(Window& w);
    void DestroyGl(Window& w);
    Buffer* FreeBuffer(Window& w, QSize size);
    bool Commit(Window& w, const QImage& source);

    wl_display* display_ = nullptr;
    wl_event_queue* queue_ = nullptr;
    wl_display* wrapper_ = nullptr; // the display on our queue
    wl_registry* registry_ = nullptr;
    std::unique_ptr<Globals> globals_;
    std::unique_ptr<Buffer> black_;
    std::map<QWidget*, std::unique_ptr<Window>> windows_;
    std::function<void(wl_egl_window*)> glGone_;
};

} // namespace presenting
