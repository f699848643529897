#include "Presenter.h"

#include "PresenterGl.h"
#include "PresenterWayland.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <xcb/render.h>
#include <xcb/xcb.h>

namespace presenting {

namespace {

// Where `size` fits into `area` with its aspect kept, centred.
QRect Fitted(QSize size, QSize area) {
    const QSize fitted = size.scaled(area, Qt::KeepAspectRatio);
    return QRect(QPoint((area.width() - fitted.width()) / 2, (area.height() - fitted.height()) / 2),
                 fitted);
}

bool Contains(const QRect& outer, const QRect& inner) {
    return outer.contains(inner) || inner.isEmpty();
}

} // namespace

// A picture's copy on the X server.
struct Presenter::ServerPicture {
    std::uint32_t pixmap = 0, picture = 0;
    QSize size;
};

struct Presenter::Screen {
    // Handed over (mutex_): the road (changed later only under both mutexes), the client size,
    // and what is not yet taken.
    Road road = Road::Cpu;
    QSize client;
    unsigned long parentId = 0; // the top-level's native window (X11), as handed over
    bool pendingBlank = false;
    bool pendingFull = false;
    Picture full;
    std::shared_ptr<TLivePicture> live; // read at the refresh instead of `full`
    std::vector<Piece> pieces;
    // A GPU piece handed over, or its end (frames null), not yet taken.
    struct GpuPiece {
        std::shared_ptr<gpu::FrameHandOver> frames;
        QRect dest;
    };
    bool pendingGpuPiece = false;
    GpuPiece gpuPiece;
    std::uint64_t handed = 0;
    std::uint64_t taken = 0;
    // Shown (shownMutex; taken from the hand-overs under both).
    // The live picture to read after the take: the hand-overs may drop `live` meanwhile.
    bool readLive = false;
    std::shared_ptr<TLivePicture> reading;
    unsigned long shownParentId = 0; // parentId when the presenter last took this screen
    bool showsFull = false;
    Picture shownFull;
    // The live picture shownFull is a copy of: only its changes are copied.
    std::shared_ptr<TLivePicture> copiedFrom;
    // The live picture read at this refresh, and how long its writers had waited for its lock
    // before: what the read made them wait sets when the next refresh may come.
    std::shared_ptr<TLivePicture> lastRead;
    std::uint64_t waitedBeforeRead = 0;
    // Rows [first, second) of shownFull copied since the last push, top to bottom.
    std::vector<std::pair<int, int>> pushBands;
    std::vector<Piece> shownPieces;
    std::vector<bool> pushed; // per shown piece
    GpuPiece shownGpuPiece;   // drawn alone by the GL road, where it covers the client area
    // The GL road: the frames shown (shownMutex), what they showed when last asked, and the
    // pictures of it asked for by ComposeShown (mutex_) and made by the presenter.
    std::shared_ptr<gpu::FrameHandOver> glFrames;
    QRect glDest; // where their frames are drawn; empty: fitted, aspect kept
    QImage glShot;
    std::uint32_t glChild = 0; // the child window the GL road last drew on
    bool glLeft = false;       // the GL road's surface is to go (Wayland)
    std::uint64_t shotsAsked = 0;
    std::atomic<std::uint64_t> shotsMade{0};
    QSize shownClient;
    bool pushBlank = false;
    bool pushFull = false;
    bool owed = false; // the road has not yet committed what is shown
    // Window-system resources, under shownMutex: made and used by the presenter's thread,
    // freed by Forget on the user-interface thread.
    unsigned long childParent = 0; // the native window the child was made in
    std::uint32_t child = 0, childPicture = 0, gc = 0;
    QSize childSize;
    // The server's copies of the full picture (kept, so only changes are uploaded) and of the
    // last piece shown.
    ServerPicture fullSource, pieceSource;
    QImage rgb; // conversion of a picture to the window's pixels
};

// The presenter's own connection to the X server and what it knows of its formats.
class Presenter::XConnection {
public:
    static std::unique_ptr<XConnection> Open() {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            return nullptr;
        auto x = std::unique_ptr<XConnection>(new XConnection);
        int screenNumber = 0;
        x->c = xcb_connect(nullptr, &screenNumber);
        if (!x->c || xcb_connection_has_error(x->c))
            return nullptr;
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(x->c));
        for (int i = 0; i < screenNumber && it.rem; ++i)
            xcb_screen_next(&it);
        if (!it.rem)
            return nullptr;
        x->screen = it.data;
        if (x->screen->root_depth != 24)
            return nullptr;
        auto* version =
            xcb_render_query_version_reply(x->c, xcb_render_query_version(x->c, 0, 11), nullptr);
        if (!version)
            return nullptr;
        std::free(version);
        auto* formats =
            xcb_render_query_pict_formats_reply(x->c, xcb_render_query_pict_formats(x->c), nullptr);
        if (!formats)
            return nullptr;
        for (auto s = xcb_render_query_pict_formats_screens_iterator(formats); s.rem;
             xcb_render_pictscreen_next(&s))
            for (auto d = xcb_render_pictscreen_depths_iterator(s.data); d.rem;
                 xcb_render_pictdepth_next(&d))
                for (auto v = xcb_render_pictdepth_visuals_iterator(d.data); v.rem;
                     xcb_render_pictvisual_next(&v))
                    if (v.data->visual == x->screen->root_visual)
                        x->format = v.data->format;
        std::free(formats);
        if (!x->format)
            return nullptr;
        x->maxRequestBytes = xcb_get_maximum_request_length(x->c) * 4;
        return x;
    }
    ~XConnection() {
        if (c)
            xcb_disconnect(c);
    }

    xcb_connection_t* c = nullptr;
    xcb_screen_t* screen = nullptr;
    xcb_render_pictformat_t format = 0;
    std::uint32_t maxRequestBytes = 0;

private:
    XConnection() = default;
};

namespace {
// What every screen shows (Screen's fields from "Shown" on) and its window-system resources: held
// by the presenter through a refresh's reads and pushes, by ComposeShown while it composes, by
// Forget, Hidden and Close, and by the Wayland road's Follow. Taken after mutex_ where both are
// held, before any live picture's lock (TLivePicture, Windows.h, states the whole order).
std::mutex shownMutex;
} // namespace

Presenter& Presenter::Instance() {
    static Presenter presenter;
    return presenter;
}

Presenter::Presenter() = default;

Presenter::~Presenter() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    handed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void Presenter::ChooseRoad() {
    if (roadChosen_)
        return;
    roadChosen_ = true;
    x_ = XConnection::Open();
    if (!x_) {
        wayland_ = WaylandRoad::Open();
        if (wayland_) {
            qAddPostRoutine(&Presenter::Close);
            // Under shownMutex, as everything of the GL road's.
            wayland_->OnGlWindowGone([this](wl_egl_window* window) {
                if (gl_)
                    gl_->Drop(reinterpret_cast<std::uintptr_t>(window));
            });
        }
    }
}

const char* Presenter::RoadName() {
    std::lock_guard lock(mutex_);
    ChooseRoad();
    return x_ ? "x11" : wayland_ ? "wayland" : "cpu";
}

void Presenter::FailGlForTests(bool fail) {
    std::lock_guard lock(mutex_);
    std::lock_guard shown(shownMutex);
    glFailed_ = fail; // the presenter's thread lets its context go
}

const char* Presenter::RoadName(QWidget* window) {
    std::lock_guard lock(mutex_);
    ChooseRoad();
    const auto it = screens_.find(window);
    if (it == screens_.end())
        return x_ ? "x11" : wayland_ ? "wayland" : "cpu";
    switch (it->second->road) {
    case Road::Gl:
        return "gl";
    case Road::X11:
        return "x11";
    case Road::Wayland:
        return "wayland";
    case Road::Cpu:
        break;
    }
    return "cpu";
}

void Presenter::Start() {
    if (thread_.joinable() || closed_)
        return;
    ChooseRoad();
    thread_ = std::thread([this] { Run(); });
}

void Presenter::Close() {
    Presenter& presenter = Instance();
    {
        std::lock_guard lock(presenter.mutex_);
        presenter.stop_ = true;
        presenter.closed_ = true;
    }
    presenter.handed_.notify_all();
    if (presenter.thread_.joinable())
        presenter.thread_.join();
    std::lock_guard lock(presenter.mutex_);
    std::lock_guard shown(shownMutex);
    for (auto& [window, screen] : presenter.screens_)
        if (screen->road == Road::Wayland || screen->road == Road::Gl)
            screen->road = Road::Cpu;
    presenter.wayland_.reset();
}

Presenter::Screen& Presenter::ScreenOf(QWidget* window) {
    auto& screen = screens_[window];
    if (!screen) {
        screen = std::make_unique<Screen>();
        screen->road = x_ ? Road::X11 : wayland_ ? Road::Wayland : Road::Cpu;
    }
    screen->client = window->size();
    if (x_)
        screen->parentId = window->window()->winId();
    else if (wayland_)
        wayland_->Follow(window, shownMutex);
    return *screen;
}

void Presenter::DropLive(Screen& screen) {
    if (screen.live)
        screen.live->pending_.store(false);
    screen.live.reset();
}

void Presenter::Recycle(std::vector<Piece>& pieces) {
    for (Piece& piece : pieces)
        spare_.push_back(std::move(piece.picture));
    pieces.clear();
}

void Presenter::EndGpuPiece(Screen& screen) {
    screen.pendingGpuPiece = true;
    screen.gpuPiece = {};
}

void Presenter::AddPiece(Screen& screen, const QRect& dest, const TPixelView& picture,
                         const QRect& source) {
    // A newer piece over an older one hides it: the older is never shown.
    Picture memory;
    for (auto it = screen.pieces.begin(); it != screen.pieces.end();) {
        if (Contains(dest, it->dest)) {
            (memory.bytes.capacity() ? spare_.emplace_back() : memory) = std::move(it->picture);
            it = screen.pieces.erase(it);
        } else {
            ++it;
        }
    }
    if (!memory.bytes.capacity() && !spare_.empty()) {
        memory = std::move(spare_.back());
        spare_.pop_back();
    }
    memory.Assign(picture, source);
    screen.pieces.push_back(Piece{dest, std::move(memory)});
}

void Presenter::HandOverScaled(QWidget* window, const TPixelView& picture) {
    if (!picture.bits || picture.width <= 0 || picture.height <= 0)
        return;
    {
        std::lock_guard lock(mutex_);
        Start();
        Screen& screen = ScreenOf(window);
        EndGpuPiece(screen);
        screen.full.Assign(picture, QRect(0, 0, picture.width, picture.height));
        DropLive(screen);
        screen.pendingFull = true;
        Recycle(screen.pieces);
        ++screen.handed;
    }
    handed_.notify_one();
}

void Presenter::HandOverLive(QWidget* window, const std::shared_ptr<TLivePicture>& picture) {
    {
        std::lock_guard lock(mutex_);
        Start();
        Screen& screen = ScreenOf(window);
        EndGpuPiece(screen);
        if (screen.live != picture)
            DropLive(screen);
        screen.live = picture;
        screen.pendingFull = true;
        Recycle(screen.pieces);
        ++screen.handed;
    }
    handed_.notify_one();
}

void Presenter::HandOverPiece(QWidget* window, const QRect& dest, const TPixelView& picture,
                              const QRect& source) {
    if (!picture.bits || source.isEmpty() || dest.isEmpty())
        return;
    {
        std::lock_guard lock(mutex_);
        Start();
        Screen& screen = ScreenOf(window);
        if (!dest.intersects(QRect(QPoint(0, 0), screen.client)))
            return;
        EndGpuPiece(screen);
        AddPiece(screen, dest, picture, source);
        ++screen.handed;
    }
    handed_.notify_one();
}

void Presenter::HandOverGpuPiece(QWidget* window, const QRect& dest,
                                 const std::shared_ptr<gpu::FrameHandOver>& frames,
                                 const TPixelView& twin, const QRect& source) {
    if (!frames || dest.isEmpty())
        return;
    {
        std::lock_guard lock(mutex_);
        Start();
        Screen& screen = ScreenOf(window);
        if (!dest.intersects(QRect(QPoint(0, 0), screen.client)))
            return;
        screen.pendingGpuPiece = true;
        screen.gpuPiece = Screen::GpuPiece{frames, dest};
        if (twin.bits && !source.isEmpty())
            AddPiece(screen, dest, twin, source);
        ++screen.handed;
    }
    handed_.notify_one();
}

void Presenter::Blank(QWidget* window) {
    {
        std::lock_guard lock(mutex_);
        if (!screens_.count(window))
            return;
        Start();
        Screen& screen = ScreenOf(window);
        screen.pendingBlank = true;
        screen.pendingFull = false;
        EndGpuPiece(screen);
        DropLive(screen);
        Recycle(screen.pieces);
        ++screen.handed;
    }
    handed_.notify_one();
}

void Presenter::Hidden(QWidget* window) {
    Blank(window);
    std::lock_guard lock(mutex_);
    std::lock_guard shown(shownMutex);
    auto it = screens_.find(window);
    if (it != screens_.end() && wayland_)
        wayland_->Drop(window);
}

void Presenter::Forget(QWidget* window) {
    std::lock_guard lock(mutex_);
    std::lock_guard shown(shownMutex);
    auto it = screens_.find(window);
    if (it == screens_.end())
        return;
    Screen& screen = *it->second;
    DropLive(screen);
    if (wayland_)
        wayland_->Drop(window);
    if (gl_ && screen.glChild)
        gl_->Drop(screen.glChild);
    if (x_) {
        for (const ServerPicture* source : {&screen.fullSource, &screen.pieceSource}) {
            if (source->picture)
                xcb_render_free_picture(x_->c, source->picture);
            if (source->pixmap)
                xcb_free_pixmap(x_->c, source->pixmap);
        }
        if (screen.childPicture)
            xcb_render_free_picture(x_->c, screen.childPicture);
        if (screen.gc)
            xcb_free_gc(x_->c, screen.gc);
        // The child went with its parent's native window, or goes now.
        if (screen.child)
            xcb_destroy_window(x_->c, screen.child);
        xcb_flush(x_->c);
    }
    screens_.erase(it);
}

// The screens whose hand-overs one refresh took.
struct Presenter::Refresh {
    std::vector<Screen*> taken;
    // On the GL road: what was taken or asked to be read back, and the shots asked so far.
    struct Drawn {
        QWidget* window;
        Screen* screen;
        std::uint64_t shots;
    };
    std::vector<Drawn> drawn;
    std::vector<std::pair<QWidget*, Screen*>> committed; // on the Wayland road
};

namespace {

// Where the window system scales in software, a push may take a good part of a refresh: the
// presenter then refreshes less often, keeping to an eighth of one processor (its copies and
// the server's also take memory bandwidth the drawing thread needs).
constexpr int kIdleShare = 8;
// A refresh that made a drawing thread wait for its picture's lock is followed by a hundred
// times that wait without one: however much changes between refreshes (a whole large screen of
// shapes), the display costs the drawing at most a hundredth of its time.
constexpr int kWaitShare = 100;

// The next refresh of the virtual display from `notBefore` on: the same grid of sixtieths of a
// second as the vertical blank that WaitForVerticalBlank waits for.
void SleepToRefresh(std::chrono::steady_clock::time_point notBefore) {
    using namespace std::chrono;
    const auto now =
        duration_cast<milliseconds>(std::max(steady_clock::now(), notBefore).time_since_epoch());
    const std::int64_t frame = now.count() * kRefreshRate / 1000 + 1;
    std::this_thread::sleep_until(
        steady_clock::time_point(milliseconds((frame * 1000 + kRefreshRate - 1) / kRefreshRate)));
}

} // namespace

void Presenter::Run() {
    using namespace std::chrono;
    steady_clock::time_point notBefore{};
    bool owing = false; // a road waits for the compositor: the next refresh tries again
    std::unique_lock lock(mutex_);
    while (WaitForHandOver(lock, owing)) {
        lock.unlock();
        SleepToRefresh(notBefore);
        lock.lock();
        Refresh refresh;
        std::unique_lock shown(shownMutex);
        TakeHandedOver(refresh);
        // Readers wait for the shown state, which stays locked until the live pictures are read.
        lock.unlock();
        taken_.notify_all();
        const auto pushStart = steady_clock::now();
        owing = ReadAndPush(refresh);
        const std::uint64_t waited = WaitsCaused(refresh.taken);
        shown.unlock();
        const auto end = steady_clock::now();
        // Never more than half a second without a refresh, though: the display stays alive.
        notBefore = std::max(
            pushStart + (end - pushStart) * kIdleShare,
            end + std::min<nanoseconds>(nanoseconds(waited) * kWaitShare, milliseconds(500)));
        lock.lock();
        taken_.notify_all(); // the pictures of what is shown that were asked for are made
    }
    lock.unlock();
    // The GL road's context is this thread's.
    std::lock_guard shown(shownMutex);
    gl_.reset();
}

bool Presenter::WaitForHandOver(std::unique_lock<std::mutex>& lock, bool owing) {
    const auto handedOver = [this] {
        if (stop_)
            return true;
        for (const auto& [window, screen] : screens_)
            if (screen->handed != screen->taken || screen->shotsAsked != screen->shotsMade)
                return true;
        return false;
    };
    if (owing)
        handed_.wait_for(lock, std::chrono::milliseconds(1000 / kRefreshRate), handedOver);
    else
        handed_.wait(lock, handedOver);
    return !stop_;
}

void Presenter::TakeHandedOver(Refresh& refresh) {
    for (auto& [window, screen] : screens_) {
        const bool handed = screen->handed != screen->taken;
        screen->shownParentId = screen->parentId;
        if (handed) {
            Take(*screen);
            refresh.taken.push_back(screen.get());
        }
        if (screen->road == Road::Gl && (handed || screen->shotsAsked != screen->shotsMade))
            refresh.drawn.push_back({window, screen.get(), screen->shotsAsked});
        if (screen->road == Road::Wayland && (handed || screen->owed))
            refresh.committed.emplace_back(window, screen.get());
    }
}

bool Presenter::ReadAndPush(const Refresh& refresh) {
    for (Screen* screen : refresh.taken)
        if (screen->readLive)
            ReadLive(*screen);
    if (x_) {
        for (Screen* screen : refresh.taken)
            if (screen->road == Road::X11)
                Push(*screen);
        for (const Refresh::Drawn& drawn : refresh.drawn)
            PushGl(drawn.window, *drawn.screen, drawn.shots != drawn.screen->shotsMade);
        // Round trip: the server has shown this refresh before the next is composed.
        free(xcb_get_input_focus_reply(x_->c, xcb_get_input_focus(x_->c), nullptr));
    }
    if (!x_)
        for (const Refresh::Drawn& drawn : refresh.drawn)
            PushGl(drawn.window, *drawn.screen, drawn.shots != drawn.screen->shotsMade);
    for (const Refresh::Drawn& drawn : refresh.drawn)
        drawn.screen->shotsMade = drawn.shots;
    bool owing = false;
    for (auto& [window, screen] : refresh.committed) {
        PushWayland(window, *screen);
        owing = owing || screen->owed;
    }
    // The compositor has shown this refresh before the next is composed.
    if (!refresh.committed.empty())
        wayland_->WaitShown(std::chrono::milliseconds(2 * 1000 / kRefreshRate));
    return owing;
}

std::uint64_t Presenter::WaitsCaused(const std::vector<Screen*>& taken) {
    std::uint64_t waited = 0;
    for (Screen* screen : taken)
        if (screen->lastRead) {
            waited += screen->lastRead->lock_.WaitedNs() - screen->waitedBeforeRead;
            screen->lastRead.reset();
        }
    return waited;
}

void Presenter::ReadLive(Screen& screen) {
    screen.readLive = false;
    const std::shared_ptr<TLivePicture> picture = std::move(screen.reading);
    if (screen.road == Road::Cpu)
        screen.pushBands.clear(); // composed from shownFull when painted
    if (!picture)
        return;
    TLivePicture& live = *picture;
    TPictureLock& lock = live.lock_;
    screen.lastRead = picture;
    screen.waitedBeforeRead = lock.WaitedNs();
    lock.ReaderLock();
    live.pending_.store(false);
    if (screen.road == Road::Gl) {
        // Drawn from its frames on the GPU: its memory is not read (nor up to date).
        live.changed_.Clear();
        lock.ReaderUnlock();
        screen.copiedFrom.reset();
        screen.glFrames = live.gpuFrames_;
        return;
    }
    const auto whole = [&] {
        live.replaced_ = false;
        TPixelView view = live.view_;
        view.colorTable = live.colors_;
        screen.copiedFrom.reset();
        if (!view.bits)
            return;
        screen.shownFull.Assign(view, QRect(0, 0, view.width, view.height));
        live.changed_.Clear();
        screen.copiedFrom = picture;
        screen.pushFull = true;
    };
    const auto current = [&] {
        const TPixelView& view = live.view_;
        return screen.copiedFrom == picture && view.bits && !live.replaced_ &&
               view.width == screen.shownFull.width && view.height == screen.shownFull.height &&
               view.layout == screen.shownFull.layout;
    };
    if (!current()) {
        whole(); // a new picture, size, memory or colour table: every pixel
    } else {
        // Only the rows that changed, in bands: between bands a waiting writer goes first, so
        // it never waits for more than one band's copy.
        constexpr std::size_t kBandBytes = 256 * 1024;
        const int bpp = BytesPerPixel(live.view_.layout);
        std::size_t held = 0;
        for (int y = live.changed_.Top(); y < live.changed_.Bottom(); ++y) {
            const auto [from, to] = live.changed_.TakeRow(y);
            if (from < to) {
                const std::size_t offset = std::size_t(from) * std::size_t(bpp);
                std::memcpy(screen.shownFull.Row(y) + offset, live.view_.Row(y) + offset,
                            std::size_t(to - from) * std::size_t(bpp));
                held += std::size_t(to - from) * std::size_t(bpp);
                auto& bands = screen.pushBands;
                if (!bands.empty() && bands.back().second >= y - 8)
                    bands.back().second = y + 1;
                else
                    bands.emplace_back(y, y + 1);
            }
            if (held >= kBandBytes && lock.WriterWaiting()) {
                lock.ReaderUnlock();
                for (int turn = 0; turn < 1000 && lock.WriterWaiting(); ++turn)
                    std::this_thread::yield();
                lock.ReaderLock();
                held = 0;
                if (!current()) {
                    whole();
                    break;
                }
            }
        }
    }
    lock.ReaderUnlock();
}

void Presenter::Take(Screen& screen) {
    if (screen.pendingBlank || screen.shownClient != screen.client) {
        screen.pendingBlank = false;
        screen.showsFull = false;
        screen.shownGpuPiece = {};
        Recycle(screen.shownPieces);
        screen.pushed.clear();
        screen.shownClient = screen.client;
        screen.pushBlank = true;
    }
    if (screen.pendingFull) {
        screen.pendingFull = false;
        if (screen.live) {
            screen.readLive = true; // after the take, outside the hand-over lock
            screen.reading = screen.live;
            // What is shown of it is pushed as it is read; all of it when pieces were shown.
            if (!screen.showsFull) {
                screen.copiedFrom.reset();
                screen.pushFull = true;
            }
        } else {
            std::swap(screen.full, screen.shownFull);
            screen.copiedFrom.reset();
            screen.pushFull = true;
        }
        screen.showsFull = true;
        Recycle(screen.shownPieces);
        screen.pushed.clear();
    }
    if (screen.pendingGpuPiece) {
        screen.pendingGpuPiece = false;
        screen.shownGpuPiece = std::move(screen.gpuPiece);
        screen.gpuPiece = {};
        if (screen.shownGpuPiece.frames)
            screen.showsFull = false;
    }
    for (Piece& piece : screen.pieces) {
        screen.showsFull = false;
        for (std::size_t i = 0; i < screen.shownPieces.size();) {
            if (Contains(piece.dest, screen.shownPieces[i].dest)) {
                spare_.push_back(std::move(screen.shownPieces[i].picture));
                screen.shownPieces.erase(screen.shownPieces.begin() + std::ptrdiff_t(i));
                screen.pushed.erase(screen.pushed.begin() + std::ptrdiff_t(i));
            } else {
                ++i;
            }
        }
        screen.shownPieces.push_back(std::move(piece));
        screen.pushed.push_back(false);
    }
    screen.pieces.clear();
    screen.taken = screen.handed;
    ChooseGl(screen);
}

void Presenter::ChooseGl(Screen& screen) {
    const std::shared_ptr<TLivePicture>& live = screen.reading ? screen.reading : screen.live;
    const bool windows = x_ || wayland_;
    const bool liveFrames =
        screen.showsFull && live && live->gpuFrames_ && !live->gpuFrames_->Refused();
    // The GL road draws a piece alone, black around it: only one covering the client area.
    const Screen::GpuPiece& piece = screen.shownGpuPiece;
    const bool pieceFrames = !screen.showsFull && piece.frames && !piece.frames->Refused();
    const bool pieceCovers =
        pieceFrames && Contains(piece.dest, QRect(QPoint(0, 0), screen.shownClient));
    const bool gl = windows && !glFailed_ && (liveFrames || pieceCovers);
    // No road here draws them: they are read back.
    if (!gl && live && live->gpuFrames_ && (!windows || glFailed_))
        live->gpuFrames_->Refuse();
    if (!gl && pieceFrames)
        piece.frames->Refuse();
    if (gl) {
        screen.road = Road::Gl;
        if (pieceCovers) {
            screen.glFrames = piece.frames;
            screen.glDest = piece.dest;
        } else {
            screen.glDest = QRect(); // the live picture's frames, set as it is read
        }
    } else if (screen.road == Road::Gl) {
        // Back on the window system's own road: all of the picture, from its memory.
        screen.road = x_ ? Road::X11 : Road::Wayland;
        screen.glFrames.reset();
        screen.copiedFrom.reset();
        screen.pushFull = true;
        screen.pushBlank = true;
        screen.pushed.assign(screen.shownPieces.size(), false);
        screen.glLeft = true;
    }
}

void Presenter::PushGl(QWidget* window, Screen& screen, bool shot) {
    const QSize size = screen.shownClient.expandedTo(QSize(1, 1));
    if (!screen.glFrames || (x_ && !screen.shownParentId))
        return;
    screen.pushBlank = false; // every frame is drawn whole, black around it
    std::uintptr_t target = 0;
    if (!x_) {
        target = reinterpret_cast<std::uintptr_t>(wayland_->GlWindow(window, size));
        if (!target)
            return; // not on the screen yet
    } else {
        FitChild(screen, size);
        target = screen.child;
    }
    if (x_ && screen.child != screen.glChild) {
        // The server has made the window before the GPU's own connection names it.
        free(xcb_get_input_focus_reply(x_->c, xcb_get_input_focus(x_->c), nullptr));
        if (gl_ && screen.glChild)
            gl_->Drop(screen.glChild);
        screen.glChild = screen.child;
    }
    // On this thread, whose context it is: where the GL road cannot be taken, or where the
    // frames come from another device (the road was probed anew, in tests).
    if (glFailed_ || (gl_ && gl_->Device() != screen.glFrames->GetDevice().get()))
        gl_.reset();
    if (!gl_ && !glFailed_) {
        std::string why;
        gl_ = GlRoad::Open(screen.glFrames->GetDevice(), x_ ? x_->screen->root_visual : 0, &why);
        if (!gl_) {
            glFailed_ = true;
            std::fprintf(stderr, "zelka: pictures drawn on the GPU are read back: %s\n",
                         why.c_str());
        }
    }
    if (gl_ &&
        gl_->Show(target, size, screen.glFrames, screen.glDest, shot ? &screen.glShot : nullptr)) {
        screen.glFrames->Accept();
        glTaken_.store(true);
        return;
    }
    // Shown from the host memory from the next frame on, read back by the drawing thread.
    screen.glFrames->Refuse();
    screen.glShot = QImage();
}

void Presenter::Push(Screen& screen) {
    const QSize size = screen.shownClient.expandedTo(QSize(1, 1));
    if (!screen.shownParentId)
        return;
    FitChild(screen, size);
    if (screen.pushBlank) {
        screen.pushBlank = false;
        xcb_clear_area(x_->c, 0, screen.child, 0, 0, 0, 0);
    }
    if (screen.showsFull)
        PushFull(screen, size);
    screen.pushBands.clear();
    for (std::size_t i = 0; i < screen.shownPieces.size(); ++i)
        if (!screen.pushed[i]) {
            const Picture& picture = screen.shownPieces[i].picture;
            Upload(screen, picture, screen.pieceSource, screen.shownPieces[i].dest, 0,
                   picture.height);
            screen.pushed[i] = true;
        }
}

void Presenter::FitChild(Screen& screen, QSize size) {
    xcb_connection_t* c = x_->c;
    if (screen.child && screen.childParent != screen.shownParentId) {
        // The window system window was made anew: ours went with the old one.
        screen.child = screen.childPicture = screen.gc = 0;
        screen.fullSource = screen.pieceSource = ServerPicture{};
        screen.pushFull = screen.showsFull;
    }
    if (!screen.child) {
        screen.childParent = screen.shownParentId;
        screen.child = xcb_generate_id(c);
        const std::uint32_t values[] = {x_->screen->black_pixel, x_->screen->black_pixel, 0,
                                        x_->screen->default_colormap};
        xcb_create_window(
            c, 24, screen.child, static_cast<xcb_window_t>(screen.shownParentId), 0, 0,
            std::uint16_t(size.width()), std::uint16_t(size.height()), 0,
            XCB_WINDOW_CLASS_INPUT_OUTPUT, x_->screen->root_visual,
            XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_EVENT_MASK | XCB_CW_COLORMAP, values);
        xcb_map_window(c, screen.child);
        screen.childPicture = xcb_generate_id(c);
        xcb_render_create_picture(c, screen.childPicture, screen.child, x_->format, 0, nullptr);
        screen.gc = xcb_generate_id(c);
        xcb_create_gc(c, screen.gc, screen.child, 0, nullptr);
        screen.childSize = size;
    } else if (screen.childSize != size) {
        const std::uint32_t geometry[] = {std::uint32_t(size.width()),
                                          std::uint32_t(size.height())};
        xcb_configure_window(c, screen.child, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                             geometry);
        screen.childSize = size;
    }
}

void Presenter::PushFull(Screen& screen, QSize size) {
    const QRect target = Fitted(QSize(screen.shownFull.width, screen.shownFull.height), size);
    if (!screen.pushFull) {
        for (const auto& [top, bottom] : screen.pushBands)
            Upload(screen, screen.shownFull, screen.fullSource, target, top, bottom);
        return;
    }
    screen.pushFull = false;
    Upload(screen, screen.shownFull, screen.fullSource, target, 0, screen.shownFull.height);
    // Black around the picture.
    const QRect bars[] = {
        QRect(0, 0, size.width(), target.top()),
        QRect(0, target.bottom() + 1, size.width(), size.height() - target.bottom() - 1),
        QRect(0, 0, target.left(), size.height()),
        QRect(target.right() + 1, 0, size.width() - target.right() - 1, size.height())};
    for (const QRect& bar : bars)
        if (!bar.isEmpty())
            xcb_clear_area(x_->c, 0, screen.child, std::int16_t(bar.x()), std::int16_t(bar.y()),
                           std::uint16_t(bar.width()), std::uint16_t(bar.height()));
}

bool Presenter::FitSource(const Screen& screen, ServerPicture& source, QSize size) {
    if (source.size == size)
        return false;
    xcb_connection_t* c = x_->c;
    if (source.picture)
        xcb_render_free_picture(c, source.picture);
    if (source.pixmap)
        xcb_free_pixmap(c, source.pixmap);
    source.pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, 24, source.pixmap, screen.child, std::uint16_t(size.width()),
                      std::uint16_t(size.height()));
    source.picture = xcb_generate_id(c);
    xcb_render_create_picture(c, source.picture, source.pixmap, x_->format, 0, nullptr);
    source.size = size;
    return true;
}

void Presenter::Upload(Screen& screen, const Picture& picture, ServerPicture& source,
                       const QRect& dest, int top, int bottom) {
    if (picture.width <= 0 || picture.height <= 0)
        return;
    xcb_connection_t* c = x_->c;
    const QSize pictureSize(picture.width, picture.height);
    if (FitSource(screen, source, pictureSize)) {
        top = 0; // a new copy on the server: all of it
        bottom = picture.height;
    }
    top = std::clamp(top, 0, picture.height);
    bottom = std::clamp(bottom, top, picture.height);
    if (top == bottom)
        return;
    const uchar* rows = picture.bits;
    std::ptrdiff_t pitch = picture.pitch;
    if (picture.layout != TPixelLayout::XRGB8888) {
        if (screen.rgb.size() != pictureSize)
            screen.rgb = QImage(pictureSize, QImage::Format_RGB32);
        QPainter painter(&screen.rgb);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        const QRect band(0, top, picture.width, bottom - top);
        painter.drawImage(band, picture.Image(), band);
        painter.end();
        rows = screen.rgb.constBits();
        pitch = screen.rgb.bytesPerLine();
    }
    const int stripRows = std::max(1, int((x_->maxRequestBytes - 64) / std::uint32_t(pitch)));
    for (int y = top; y < bottom; y += stripRows) {
        const int n = std::min(stripRows, bottom - y);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, source.pixmap, screen.gc,
                      std::uint16_t(picture.width), std::uint16_t(n), 0, std::int16_t(y), 0, 24,
                      std::uint32_t(pitch) * std::uint32_t(n), rows + y * pitch);
    }
    // The transform maps window pixels to picture pixels.
    const auto fixed = [](double v) { return xcb_render_fixed_t(v * 65536.0); };
    xcb_render_transform_t transform{};
    transform.matrix11 = fixed(double(picture.width) / dest.width());
    transform.matrix22 = fixed(double(picture.height) / dest.height());
    transform.matrix33 = fixed(1);
    xcb_render_set_picture_transform(c, source.picture, transform);
    // The window rows the picture's rows land on, a row more each side for the rounding.
    const int from = std::max(0, int(std::floor(double(top) * dest.height() / picture.height)) - 1);
    const int to = std::min(dest.height(),
                            int(std::ceil(double(bottom) * dest.height() / picture.height)) + 1);
    xcb_render_composite(c, XCB_RENDER_PICT_OP_SRC, source.picture, XCB_NONE, screen.childPicture,
                         0, std::int16_t(from), 0, 0, std::int16_t(dest.x()),
                         std::int16_t(dest.y() + from), std::uint16_t(dest.width()),
                         std::uint16_t(to - from));
}

void Presenter::PushWayland(QWidget* window, Screen& screen) {
    if (screen.glLeft) {
        screen.glLeft = false;
        wayland_->DropGl(window);
    }
    WaylandRoad::Frame frame;
    frame.client = screen.shownClient;
    frame.blank = screen.pushBlank;
    if (screen.showsFull) {
        frame.full = &screen.shownFull;
        if (screen.pushFull)
            frame.fullChanged = QRect(0, 0, screen.shownFull.width, screen.shownFull.height);
        else
            for (const auto& [top, bottom] : screen.pushBands)
                frame.fullChanged |= QRect(0, top, screen.shownFull.width, bottom - top);
    }
    screen.pushBands.clear();
    for (std::size_t i = 0; i < screen.shownPieces.size(); ++i)
        if (!screen.pushed[i]) {
            frame.newPieces.push_back(&screen.shownPieces[i]);
            screen.pushed[i] = true;
        }
    screen.pushBlank = screen.pushFull = false;
    screen.owed = !wayland_->Show(window, frame);
}

void Presenter::Compose(const Screen& screen, QImage& target) {
    QPainter painter(&target);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    if (screen.road == Road::Gl && screen.glShot.size() == target.size()) {
        painter.drawImage(0, 0, screen.glShot);
        return;
    }
    if (screen.showsFull) {
        const QImage picture = screen.shownFull.Image();
        const QRect fitted = Fitted(picture.size(), target.size());
        painter.fillRect(target.rect(), Qt::black);
        painter.drawImage(fitted, picture);
        return;
    }
    painter.fillRect(target.rect(), Qt::black);
    for (const Piece& piece : screen.shownPieces)
        painter.drawImage(piece.dest, piece.picture.Image());
}

void Presenter::ComposeShown(QWidget* window, QImage& target) {
    std::unique_lock lock(mutex_);
    auto it = screens_.find(window);
    if (it == screens_.end()) {
        target.fill(Qt::black);
        return;
    }
    Screen* screen = it->second.get();
    const std::uint64_t wanted = screen->handed;
    taken_.wait(lock, [&] {
        auto again = screens_.find(window);
        return again == screens_.end() || again->second->taken >= wanted;
    });
    if (!screens_.count(window))
        return;
    if (screen->road == Road::Gl) {
        // What the GPU shows, read back by the presenter at a refresh made for it.
        const std::uint64_t asked = ++screen->shotsAsked;
        handed_.notify_one();
        taken_.wait_for(lock, std::chrono::seconds(2), [&] {
            auto again = screens_.find(window);
            return again == screens_.end() || again->second->shotsMade >= asked;
        });
        if (!screens_.count(window))
            return;
    }
    std::lock_guard shown(shownMutex);
    lock.unlock();
    Compose(*screen, target);
}

} // namespace presenting
