#include "PresenterWayland.h"

#include <QGuiApplication>
#include <QPainter>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstring>
#include <poll.h>
#include <qpa/qplatformnativeinterface.h>
#include <sys/mman.h>
#include <unistd.h>
#include <viewporter-client-protocol.h>
#include <wayland-client.h>
#include <wayland-egl.h>

namespace presenting {

namespace {

// A window whose compositor shows nothing (hidden, on no output) sends no frame callbacks: the
// presenter then commits without one after this long.
constexpr std::chrono::milliseconds kFrameWait(100);
// Buffers a window's picture may have in flight: one shown, one queued, one being written.
constexpr std::size_t kMaxBuffers = 3;

QRect Fitted(QSize size, QSize area) {
    const QSize fitted = size.scaled(area, Qt::KeepAspectRatio);
    return QRect(QPoint((area.width() - fitted.width()) / 2, (area.height() - fitted.height()) / 2),
                 fitted);
}

} // namespace

// Shared memory the compositor reads a picture from, in XRGB8888 (every compositor has it).
struct WaylandRoad::Buffer {
    wl_buffer* buffer = nullptr;
    uchar* data = nullptr;
    std::size_t bytes = 0;
    QSize size;
    int stride = 0;
    bool busy = false; // the compositor holds it until it releases it
    QRegion stale;     // where it differs from the window's picture

    static std::unique_ptr<Buffer> Make(wl_shm* shm, QSize size) {
        auto b = std::make_unique<Buffer>();
        b->size = size;
        b->stride = size.width() * 4;
        b->bytes = static_cast<std::size_t>(b->stride) * size.height();
        const int fd = memfd_create("zelka-picture", MFD_CLOEXEC);
        if (fd < 0)
            return nullptr;
        if (ftruncate(fd, static_cast<off_t>(b->bytes)) != 0) {
            close(fd);
            return nullptr;
        }
        void* data = mmap(nullptr, b->bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (data == MAP_FAILED) {
            close(fd);
            return nullptr;
        }
        b->data = static_cast<uchar*>(data);
        wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(b->bytes));
        b->buffer = wl_shm_pool_create_buffer(pool, 0, size.width(), size.height(), b->stride,
                                              WL_SHM_FORMAT_XRGB8888);
        wl_shm_pool_destroy(pool);
        close(fd);
        static const wl_buffer_listener listener = {
            [](void* data, wl_buffer*) { static_cast<Buffer*>(data)->busy = false; }};
        wl_buffer_add_listener(b->buffer, &listener, b.get());
        b->stale = QRect(QPoint(0, 0), size);
        return b;
    }
    QImage Image() {
        return QImage(data, size.width(), size.height(), stride, QImage::Format_RGB32);
    }
    ~Buffer() {
        if (buffer)
            wl_buffer_destroy(buffer);
        if (data)
            munmap(data, bytes);
    }
};

struct WaylandRoad::Globals {
    wl_compositor* compositor = nullptr;
    wl_subcompositor* subcompositor = nullptr;
    wl_shm* shm = nullptr;
    wp_viewporter* viewporter = nullptr;
};

struct WaylandRoad::Window {
    // The window system's surface these were made on, and where the client area sits on it
    // (user-interface thread).
    void* parent = nullptr;
    QPoint offset;
    // The presenter's surfaces (under the shown lock).
    wl_surface* base = nullptr; // black, over the client area
    wl_subsurface* baseSub = nullptr;
    wp_viewport* baseView = nullptr;
    wl_surface* content = nullptr; // the picture, a synchronised child of the base
    wl_subsurface* contentSub = nullptr;
    wp_viewport* contentView = nullptr;
    wl_callback* frame = nullptr; // the last commit not yet shown
    // The GL road's surface, over the client area, and the EGL window over it.
    wl_surface* gl = nullptr;
    wl_subsurface* glSub = nullptr;
    wl_egl_window* eglWindow = nullptr;
    QSize glSize;
    bool committedNow = false; // in this refresh
    std::chrono::steady_clock::time_point committedAt;
    std::vector<std::unique_ptr<Buffer>> buffers;
    // What the content shows: nothing, the full picture, one piece over the whole client area
    // kept at its own size in `canvas` and scaled by the compositor, or pieces composed on
    // `canvas` at the client's size.
    enum class Mode { None, Full, Covering, Pieces } mode = Mode::None;
    QImage canvas;
    QSize client;
    bool clientSent = false;
    QSize contentSize; // of the content's buffers
    QRect dest;        // where the content is shown in the client area
    QRegion damage;    // of the content since its last commit
    bool dirty = false;
};

std::unique_ptr<WaylandRoad> WaylandRoad::Open() {
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return nullptr;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    auto* display =
        native ? static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display"))
               : nullptr;
    if (!display)
        return nullptr;
    auto road = std::unique_ptr<WaylandRoad>(new WaylandRoad);
    road->display_ = display;
    road->queue_ = wl_display_create_queue(display);
    road->wrapper_ = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(road->wrapper_), road->queue_);
    road->globals_ = std::make_unique<Globals>();
    road->registry_ = wl_display_get_registry(road->wrapper_);
    static const wl_registry_listener listener = {
        [](void* data, wl_registry* registry, std::uint32_t name, const char* interface,
           std::uint32_t version) {
            auto& g = *static_cast<Globals*>(data);
            const auto bind = [&](const wl_interface* wanted, std::uint32_t at) {
                return wl_registry_bind(registry, name, wanted, at);
            };
            if (!std::strcmp(interface, wl_compositor_interface.name) && version >= 4 &&
                !g.compositor)
                g.compositor = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
            else if (!std::strcmp(interface, wl_subcompositor_interface.name) && !g.subcompositor)
                g.subcompositor =
                    static_cast<wl_subcompositor*>(bind(&wl_subcompositor_interface, 1));
            else if (!std::strcmp(interface, wl_shm_interface.name) && !g.shm)
                g.shm = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
            else if (!std::strcmp(interface, wp_viewporter_interface.name) && !g.viewporter)
                g.viewporter = static_cast<wp_viewporter*>(bind(&wp_viewporter_interface, 1));
        },
        [](void*, wl_registry*, std::uint32_t) {}};
    wl_registry_add_listener(road->registry_, &listener, road->globals_.get());
    if (wl_display_roundtrip_queue(display, road->queue_) < 0)
        return nullptr;
    const Globals& g = *road->globals_;
    if (!g.compositor || !g.subcompositor || !g.shm || !g.viewporter)
        return nullptr;
    road->black_ = Buffer::Make(g.shm, QSize(1, 1));
    if (!road->black_)
        return nullptr;
    road->black_->Image().fill(Qt::black);
    return road;
}

WaylandRoad::~WaylandRoad() {
    for (auto& [window, w] : windows_)
        Destroy(*w);
    black_.reset();
    if (globals_) {
        if (globals_->viewporter)
            wp_viewporter_destroy(globals_->viewporter);
        if (globals_->shm)
            wl_shm_destroy(globals_->shm);
        if (globals_->subcompositor)
            wl_subcompositor_destroy(globals_->subcompositor);
        if (globals_->compositor)
            wl_compositor_destroy(globals_->compositor);
    }
    if (registry_)
        wl_registry_destroy(registry_);
    if (wrapper_)
        wl_proxy_wrapper_destroy(wrapper_);
    if (display_)
        wl_display_flush(display_);
    if (queue_)
        wl_event_queue_destroy(queue_);
}

void WaylandRoad::Follow(QWidget* window, std::mutex& shown) {
    QWindow* handle = window->window()->windowHandle();
    void* parent = nullptr;
    QPoint offset;
    if (handle && handle->handle()) {
        parent =
            QGuiApplication::platformNativeInterface()->nativeResourceForWindow("surface", handle);
        // A frame the client draws itself is part of the window's surface.
        const QMargins frame = handle->frameMargins();
        offset = window->mapTo(window->window(), QPoint(0, 0)) + QPoint(frame.left(), frame.top());
    }
    const auto it = windows_.find(window);
    if (it != windows_.end() && it->second->parent == parent && it->second->offset == offset)
        return;
    std::lock_guard lock(shown);
    auto& w = windows_[window];
    if (!w)
        w = std::make_unique<Window>();
    Destroy(*w);
    if (parent)
        Build(*w, parent, offset);
}

void WaylandRoad::Drop(QWidget* window) {
    const auto it = windows_.find(window);
    if (it == windows_.end())
        return;
    Destroy(*it->second);
    windows_.erase(it);
}

void WaylandRoad::Build(Window& w, void* parent, QPoint offset) {
    const Globals& g = *globals_;
    w.parent = parent;
    w.offset = offset;
    w.base = wl_compositor_create_surface(g.compositor);
    w.baseSub =
        wl_subcompositor_get_subsurface(g.subcompositor, w.base, static_cast<wl_surface*>(parent));
    wl_subsurface_set_position(w.baseSub, offset.x(), offset.y());
    wl_subsurface_set_desync(w.baseSub);
    w.baseView = wp_viewporter_get_viewport(g.viewporter, w.base);
    w.content = wl_compositor_create_surface(g.compositor);
    w.contentSub = wl_subcompositor_get_subsurface(g.subcompositor, w.content, w.base);
    w.contentView = wp_viewporter_get_viewport(g.viewporter, w.content);
    // Clicks and the pointer's shape belong to the window beneath.
    wl_region* none = wl_compositor_create_region(g.compositor);
    wl_surface_set_input_region(w.base, none);
    wl_surface_set_input_region(w.content, none);
    wl_region_destroy(none);
    wl_surface_commit(w.content);
    wl_surface_commit(w.base);
    // The sub-surface joins the window's surface when that is next committed. The window's own
    // pending state is committed with it: on this thread, between Qt's own requests, there is
    // none but what Qt commits itself.
    wl_surface_commit(static_cast<wl_surface*>(parent));
    wl_display_flush(display_);
}

void WaylandRoad::DestroyGl(Window& w) {
    if (w.eglWindow) {
        if (glGone_)
            glGone_(w.eglWindow);
        wl_egl_window_destroy(w.eglWindow);
    }
    if (w.glSub)
        wl_subsurface_destroy(w.glSub);
    if (w.gl)
        wl_surface_destroy(w.gl);
    w.eglWindow = nullptr;
    w.glSub = nullptr;
    w.gl = nullptr;
    w.glSize = QSize();
}

wl_egl_window* WaylandRoad::GlWindow(QWidget* window, QSize client) {
    const auto it = windows_.find(window);
    if (it == windows_.end() || !it->second->base)
        return nullptr;
    Window& w = *it->second;
    client = client.expandedTo(QSize(1, 1));
    if (!w.gl) {
        const Globals& g = *globals_;
        w.gl = wl_compositor_create_surface(g.compositor);
        w.glSub = wl_subcompositor_get_subsurface(g.subcompositor, w.gl, w.base);
        wl_subsurface_set_position(w.glSub, 0, 0);
        wl_subsurface_set_desync(w.glSub);
        wl_region* none = wl_compositor_create_region(g.compositor);
        wl_surface_set_input_region(w.gl, none);
        wl_region_destroy(none);
        w.eglWindow = wl_egl_window_create(w.gl, client.width(), client.height());
        w.glSize = client;
        // The picture's surface shows nothing under it; the black base covers the client area.
        wl_surface_attach(w.content, nullptr, 0, 0);
        wl_surface_commit(w.content);
        w.mode = Window::Mode::None;
        w.buffers.clear();
        w.canvas = QImage();
        w.contentSize = QSize();
        w.clientSent = false;
    } else if (w.glSize != client) {
        wl_egl_window_resize(w.eglWindow, client.width(), client.height(), 0, 0);
        w.glSize = client;
    }
    if (client != w.client || !w.clientSent) {
        w.client = client;
        wl_surface_attach(w.base, black_->buffer, 0, 0);
        wl_surface_damage_buffer(w.base, 0, 0, 1, 1);
        wp_viewport_set_destination(w.baseView, client.width(), client.height());
        wl_surface_commit(w.base);
        wl_display_flush(display_);
        w.clientSent = true;
    }
    return w.eglWindow;
}

void WaylandRoad::DropGl(QWidget* window) {
    const auto it = windows_.find(window);
    if (it == windows_.end() || !it->second->gl)
        return;
    Window& w = *it->second;
    DestroyGl(w);
    if (w.base)
        wl_surface_commit(w.base);
    wl_display_flush(display_);
    w.dirty = true; // the next frame is committed whole
}

void WaylandRoad::Destroy(Window& w) {
    DestroyGl(w);
    if (w.frame)
        wl_callback_destroy(w.frame);
    if (w.contentView)
        wp_viewport_destroy(w.contentView);
    if (w.contentSub)
        wl_subsurface_destroy(w.contentSub);
    if (w.content)
        wl_surface_destroy(w.content);
    if (w.baseView)
        wp_viewport_destroy(w.baseView);
    if (w.baseSub)
        wl_subsurface_destroy(w.baseSub);
    if (w.base)
        wl_surface_destroy(w.base);
    w.buffers.clear();
    if (display_)
        wl_display_flush(display_);
    // What the window shows is kept: surfaces made anew show all of it.
    w.parent = nullptr;
    w.offset = QPoint();
    w.base = w.content = nullptr;
    w.baseSub = w.contentSub = nullptr;
    w.baseView = w.contentView = nullptr;
    w.frame = nullptr;
    w.clientSent = false;
    w.damage = QRect(QPoint(0, 0), w.contentSize);
    w.dirty = true;
}

void WaylandRoad::Pump() {
    // Reads what waits on the connection without blocking; whichever thread reads, each queue's
    // events wait in that queue until its own thread dispatches them.
    while (wl_display_prepare_read_queue(display_, queue_) != 0)
        wl_display_dispatch_queue_pending(display_, queue_);
    wl_display_flush(display_);
    pollfd fd{wl_display_get_fd(display_), POLLIN, 0};
    if (poll(&fd, 1, 0) > 0)
        wl_display_read_events(display_);
    else
        wl_display_cancel_read(display_);
    wl_display_dispatch_queue_pending(display_, queue_);
}

WaylandRoad::Buffer* WaylandRoad::FreeBuffer(Window& w, QSize size) {
    if (w.contentSize != size || (!w.buffers.empty() && w.buffers.front()->size != size))
        w.buffers.clear();
    w.contentSize = size;
    for (auto& b : w.buffers)
        if (!b->busy)
            return b.get();
    if (w.buffers.size() >= kMaxBuffers)
        return nullptr;
    auto made = Buffer::Make(globals_->shm, size);
    if (!made)
        return nullptr;
    w.buffers.push_back(std::move(made));
    return w.buffers.back().get();
}

void WaylandRoad::WaitShown(std::chrono::milliseconds bound) {
    using namespace std::chrono;
    const auto until = steady_clock::now() + bound;
    const auto waiting = [this] {
        for (const auto& [window, w] : windows_)
            if (w->committedNow && w->frame)
                return true;
        return false;
    };
    while (waiting()) {
        const auto left = duration_cast<milliseconds>(until - steady_clock::now()).count();
        if (left <= 0)
            break;
        while (wl_display_prepare_read_queue(display_, queue_) != 0)
            wl_display_dispatch_queue_pending(display_, queue_);
        wl_display_flush(display_);
        pollfd fd{wl_display_get_fd(display_), POLLIN, 0};
        if (poll(&fd, 1, int(left)) > 0)
            wl_display_read_events(display_);
        else
            wl_display_cancel_read(display_);
        wl_display_dispatch_queue_pending(display_, queue_);
    }
    for (auto& [window, w] : windows_)
        w->committedNow = false;
}

bool WaylandRoad::Show(QWidget* window, const Frame& frame) {
    const auto it = windows_.find(window);
    if (it == windows_.end())
        return true; // not on the screen yet: the window paints what is shown when it is
    Window& w = *it->second;
    const QSize client = frame.client.expandedTo(QSize(1, 1));
    if (client != w.client) {
        w.client = client;
        w.clientSent = false;
        w.dirty = true;
    }
    if (frame.blank) {
        w.mode = Window::Mode::None;
        w.damage = QRegion();
        w.dirty = true;
    }
    if (frame.full && frame.full->width > 0 && frame.full->height > 0) {
        const QSize size(frame.full->width, frame.full->height);
        const QRect whole(QPoint(0, 0), size);
        if (w.mode != Window::Mode::Full || w.contentSize != size) {
            w.mode = Window::Mode::Full;
            w.canvas = QImage();
            w.buffers.clear();
            w.contentSize = size;
            w.damage = whole;
        } else {
            w.damage |= frame.fullChanged & whole;
        }
        w.dest = Fitted(size, w.client);
        w.dirty = true;
    }
    const Piece* covering = nullptr;
    if (!frame.newPieces.empty() && frame.newPieces.back()->dest == QRect(QPoint(0, 0), w.client))
        covering = frame.newPieces.back(); // hides every piece before it
    if (covering) {
        // A window's whole picture stretched over it (a windowed Direct3D target): the
        // compositor scales it, as it does a full picture, instead of the presenter.
        const QImage image = covering->picture.Image();
        if (w.mode != Window::Mode::Covering || w.canvas.size() != image.size()) {
            w.mode = Window::Mode::Covering;
            w.canvas = QImage(image.size(), QImage::Format_RGB32);
            w.buffers.clear();
            w.contentSize = image.size();
        }
        QPainter painter(&w.canvas);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, image);
        w.damage = w.canvas.rect();
        w.dest = covering->dest;
        w.dirty = true;
    } else if (!frame.newPieces.empty()) {
        if (w.mode != Window::Mode::Pieces || w.canvas.size() != w.client) {
            QImage canvas(w.client, QImage::Format_RGB32);
            canvas.fill(Qt::black);
            if (w.mode == Window::Mode::Covering) // pieces are drawn over what is shown
                QPainter(&canvas).drawImage(w.dest, w.canvas);
            w.mode = Window::Mode::Pieces;
            w.canvas = std::move(canvas);
            w.buffers.clear();
            w.contentSize = w.client;
            w.damage = w.canvas.rect();
        }
        QPainter painter(&w.canvas);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        for (const Piece* piece : frame.newPieces) {
            painter.drawImage(piece->dest, piece->picture.Image());
            w.damage |= piece->dest & w.canvas.rect();
        }
        w.dest = w.canvas.rect();
        w.dirty = true;
    }
    // Without surfaces (the window is not on the screen) it is committed once they are made,
    // which a hand-over does.
    if (!w.dirty || !w.base)
        return true;
    Pump();
    if (w.mode == Window::Mode::Full && !frame.full)
        return true; // the picture went meanwhile; the next hand-over brings one
    return Commit(w, w.mode == Window::Mode::Full ? frame.full->Image() : w.canvas);
}

bool WaylandRoad::Commit(Window& w, const QImage& source) {
    const auto now = std::chrono::steady_clock::now();
    if (w.frame && now - w.committedAt < kFrameWait)
        return false;
    Buffer* buffer = nullptr;
    if (w.mode != Window::Mode::None) {
        buffer = FreeBuffer(w, w.contentSize);
        if (!buffer)
            return false;
    }
    if (w.frame) {
        wl_callback_destroy(w.frame);
        w.frame = nullptr;
    }
    if (!w.clientSent) {
        wl_surface_attach(w.base, black_->buffer, 0, 0);
        wl_surface_damage_buffer(w.base, 0, 0, 1, 1);
        wp_viewport_set_destination(w.baseView, w.client.width(), w.client.height());
        w.clientSent = true;
    }
    if (buffer) {
        for (auto& b : w.buffers)
            b->stale |= w.damage;
        QImage target = buffer->Image();
        QPainter painter(&target);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        for (const QRect& rect : buffer->stale)
            painter.drawImage(rect.topLeft(), source, rect);
        painter.end();
        buffer->stale = QRegion();
        buffer->busy = true;
        wl_surface_attach(w.content, buffer->buffer, 0, 0);
        for (const QRect& rect : w.damage)
            wl_surface_damage_buffer(w.content, rect.x(), rect.y(), rect.width(), rect.height());
        const QSize dest = w.dest.size().expandedTo(QSize(1, 1));
        wp_viewport_set_destination(w.contentView, dest.width(), dest.height());
        wl_subsurface_set_position(w.contentSub, w.dest.x(), w.dest.y());
    } else {
        wl_surface_attach(w.content, nullptr, 0, 0);
    }
    wl_surface_commit(w.content);
    static const wl_callback_listener shown = {
        [](void* data, wl_callback* callback, std::uint32_t) {
            auto& window = *static_cast<Window*>(data);
            if (window.frame == callback) {
                wl_callback_destroy(callback);
                window.frame = nullptr;
            }
        }};
    w.frame = wl_surface_frame(w.base);
    wl_callback_add_listener(w.frame, &shown, &w);
    wl_surface_commit(w.base);
    wl_display_flush(display_);
    w.committedAt = now;
    w.committedNow = true;
    w.damage = QRegion();
    w.dirty = false;
    return true;
}

} // namespace presenting
