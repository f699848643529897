#include "Windows.h"

#include "Application.h"
#include "Dialogs.h"
#include "Presenter.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <cstdint>
#include <map>
#include <memory>

namespace {

// What the window shows of the pixels presented to it: a child covering the client area that
// paints what the presenter shows there (on X11 the presenter also pushes it to a window of
// its own on top, while this thread is busy). Mouse input passes through to the window.
class SurfaceView : public QWidget {
public:
    explicit SurfaceView(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        Fit();
        show();
    }

    void Fit() {
        setGeometry(0, 0, parentWidget()->width(), parentWidget()->height());
        raise();
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QImage shown(size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
        presenting::Presenter::Instance().ComposeShown(parentWidget(), shown);
        QPainter painter(this);
        painter.drawImage(event->rect(), shown, event->rect());
    }
};

struct WindowRecord {
    QPointer<QWidget> widget;
    QPointer<SurfaceView> view;
    QRect coveredFrom;
    bool covering = false;
};

struct Handler {
    std::uintptr_t window;
    std::function<void()> handler;
};

std::map<std::uintptr_t, WindowRecord>& Windows() {
    static std::map<std::uintptr_t, WindowRecord> windows;
    return windows;
}

std::map<int, Handler>& Handlers() {
    static std::map<int, Handler> handlers;
    return handlers;
}

const char* const HandleProperty = "zelkaWindowHandle";

WindowRecord* Record(HWND window) {
    auto it = Windows().find(reinterpret_cast<std::uintptr_t>(window));
    if (it == Windows().end() || !it->second.widget)
        return nullptr;
    return &it->second;
}

const QScreen* ScreenOf(const QWidget* widget) {
    return widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
}

// Full screen as the window system gives it (a compositor that places windows itself ignores a
// program's geometry), and the screen's geometry where no window system decides.
void KeepCovering(QWidget* widget) {
    if (widget->windowState() & Qt::WindowFullScreen)
        return;
    // The geometry first: setting it leaves full screen.
    const QRect screen = ScreenOf(widget)->geometry();
    if (widget->geometry() != screen)
        widget->setGeometry(screen);
    widget->setWindowState((widget->windowState() & ~Qt::WindowMaximized) | Qt::WindowFullScreen);
}

// Forwards deactivation and keeps the picture covering the client area on resize.
class WindowWatcher : public QObject {
public:
    WindowWatcher(QWidget* widget, std::uintptr_t handle)
        : QObject(widget), widget_(widget), handle_(handle) {
        widget->installEventFilter(this);
    }
    ~WindowWatcher() override { presenting::Presenter::Instance().Forget(widget_); }

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::WindowDeactivate) {
            // Copy first: a handler may remove itself.
            std::vector<std::function<void()>> calls;
            for (const auto& [id, h] : Handlers())
                if (h.window == handle_)
                    calls.push_back(h.handler);
            for (const auto& call : calls)
                call();
        } else if (event->type() == QEvent::Resize || event->type() == QEvent::Move) {
            auto it = Windows().find(handle_);
            if (it == Windows().end() || !it->second.widget)
                return QObject::eventFilter(object, event);
            WindowRecord& record = it->second;
            // A full-screen owner keeps covering the real screen whatever size its program
            // gives it in the mode's pixels.
            if (record.covering && !adjusting_) {
                adjusting_ = true;
                KeepCovering(record.widget);
                adjusting_ = false;
            }
            if (record.view)
                record.view->Fit();
            // Nothing shown at the old size or place stays on the screen.
            if (event->type() == QEvent::Resize)
                presenting::Presenter::Instance().Blank(record.widget);
        } else if (event->type() == QEvent::WindowStateChange) {
            // Maximising or restoring a full-screen owner leaves it full screen.
            auto it = Windows().find(handle_);
            if (it != Windows().end() && it->second.widget && it->second.covering && !adjusting_) {
                adjusting_ = true;
                KeepCovering(it->second.widget);
                adjusting_ = false;
            }
        } else if (event->type() == QEvent::Hide) {
            presenting::Presenter::Instance().Hidden(widget_);
        }
        return QObject::eventFilter(object, event);
    }

private:
    QWidget* widget_;
    std::uintptr_t handle_;
    bool adjusting_ = false;
};

SurfaceView* View(WindowRecord& record) {
    if (!record.view)
        record.view = new SurfaceView(record.widget);
    else if (record.view->size() != record.widget->size())
        record.view->Fit();
    return record.view;
}

struct DeviceContext {
    QImage image;
};

std::map<std::uintptr_t, std::unique_ptr<DeviceContext>>& DeviceContexts() {
    static std::map<std::uintptr_t, std::unique_ptr<DeviceContext>> contexts;
    return contexts;
}

} // namespace

int GetSystemMetrics(int index) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 0;
    switch (index) {
    case SM_CXSCREEN:
        return screen->geometry().width();
    case SM_CYSCREEN:
        return screen->geometry().height();
    default:
        return 0;
    }
}

HWND WindowHandle(QWidget* widget) {
    if (!widget)
        return nullptr;
    const QVariant known = widget->property(HandleProperty);
    if (known.isValid())
        return reinterpret_cast<HWND>(known.value<qulonglong>());
    static std::uintptr_t next = 0x100;
    const std::uintptr_t handle = next;
    next += 4;
    widget->setProperty(HandleProperty, qulonglong(handle));
    Windows()[handle].widget = widget;
    new WindowWatcher(widget, handle);
    return reinterpret_cast<HWND>(handle);
}

QWidget* WindowFromHandle(HWND window) {
    WindowRecord* record = Record(window);
    return record ? record->widget.data() : nullptr;
}

bool PicturesShown() {
    return Application && !Application->Headless();
}

BOOL IsWindow(HWND window) {
    return Record(window) != nullptr;
}

BOOL GetClientRect(HWND window, RECT* rect) {
    WindowRecord* record = Record(window);
    if (!record || !rect)
        return 0;
    *rect = RECT{0, 0, record->widget->width(), record->widget->height()};
    return 1;
}

BOOL ClientToScreen(HWND window, POINT* point) {
    WindowRecord* record = Record(window);
    if (!record || !point)
        return 0;
    const QPoint global = record->widget->mapToGlobal(QPoint(point->x, point->y));
    *point = POINT{global.x(), global.y()};
    return 1;
}

HWND GetActiveWindow() {
    QWidget* active = QApplication::activeWindow();
    if (!active)
        return nullptr;
    const QVariant known = active->property(HandleProperty);
    return known.isValid() ? reinterpret_cast<HWND>(known.value<qulonglong>()) : nullptr;
}

void PresentToWindow(HWND window, int clientX, int clientY, const TPixelView& picture,
                     const RECT& sourceRect) {
    const QRect source(sourceRect.left, sourceRect.top, sourceRect.right - sourceRect.left,
                       sourceRect.bottom - sourceRect.top);
    PresentStretchedToWindow(
        window,
        RECT{clientX, clientY, clientX + int(source.width()), clientY + int(source.height())},
        picture, sourceRect);
}

namespace {

QRect ToQRect(const RECT& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

} // namespace

void PresentStretchedToWindow(HWND window, const RECT& clientRect, const TPixelView& picture,
                              const RECT& sourceRect) {
    WindowRecord* record = Record(window);
    if (!record || !picture.bits)
        return;
    View(*record);
    const QRect source = ToQRect(sourceRect) & QRect(0, 0, picture.width, picture.height);
    const QRect dest = ToQRect(clientRect);
    if (source.isEmpty() || dest.isEmpty())
        return;
    presenting::Presenter::Instance().HandOverPiece(record->widget, dest, picture, source);
}

void PresentGpuFramesToWindow(HWND window, const RECT& clientRect,
                              const std::shared_ptr<gpu::FrameHandOver>& frames,
                              const TPixelView& twin, const RECT& sourceRect) {
    WindowRecord* record = Record(window);
    if (!record || !frames)
        return;
    View(*record);
    const QRect source = ToQRect(sourceRect) & QRect(0, 0, twin.width, twin.height);
    const QRect dest = ToQRect(clientRect);
    if (dest.isEmpty())
        return;
    presenting::Presenter::Instance().HandOverGpuPiece(record->widget, dest, frames, twin, source);
}

void PresentScaledToWindow(HWND window, const TPixelView& picture) {
    WindowRecord* record = Record(window);
    if (!record || !picture.bits || picture.width <= 0 || picture.height <= 0)
        return;
    View(*record);
    presenting::Presenter::Instance().HandOverScaled(record->widget, picture);
}

void PresentLiveToWindow(HWND window, const std::shared_ptr<TLivePicture>& picture) {
    WindowRecord* record = Record(window);
    if (!record || !picture)
        return;
    View(*record);
    presenting::Presenter::Instance().HandOverLive(record->widget, picture);
}

QImage PresentedPicture(HWND window) {
    WindowRecord* record = Record(window);
    if (!record)
        return QImage();
    QImage shown(record->widget->size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    presenting::Presenter::Instance().ComposeShown(record->widget, shown);
    return shown;
}

void CoverScreen(HWND window, bool cover) {
    WindowRecord* record = Record(window);
    if (!record || record->covering == cover)
        return;
    QWidget* widget = record->widget;
    if (cover) {
        record->coveredFrom = widget->geometry();
        record->covering = true;
        KeepCovering(widget);
    } else {
        record->covering = false;
        widget->setWindowState(widget->windowState() & ~Qt::WindowFullScreen);
        widget->setGeometry(record->coveredFrom);
    }
    if (record->view)
        record->view->Fit();
    // A new mode: no picture of the old one is shown again.
    presenting::Presenter::Instance().Blank(widget);
}

int AddDeactivationHandler(HWND window, std::function<void()> handler) {
    static int next = 1;
    Handlers()[next] = Handler{reinterpret_cast<std::uintptr_t>(window), std::move(handler)};
    return next++;
}

void RemoveDeactivationHandler(int id) {
    Handlers().erase(id);
}

HDC CreateMemoryDC(void* bits, int width, int height, int pitch, TPixelLayout layout) {
    if (!bits || width <= 0 || height <= 0 || layout == TPixelLayout::Indexed8)
        return nullptr;
    static std::uintptr_t next = 0x1000;
    auto context = std::make_unique<DeviceContext>();
    context->image =
        QImage(static_cast<uchar*>(bits), width, height, pitch, presenting::QtFormat(layout));
    const std::uintptr_t handle = next;
    next += 4;
    DeviceContexts()[handle] = std::move(context);
    return reinterpret_cast<HDC>(handle);
}

BOOL DeleteMemoryDC(HDC dc) {
    return DeviceContexts().erase(reinterpret_cast<std::uintptr_t>(dc));
}

QImage* DeviceContextImage(HDC dc) {
    auto it = DeviceContexts().find(reinterpret_cast<std::uintptr_t>(dc));
    return it == DeviceContexts().end() ? nullptr : &it->second->image;
}

int MessageBoxA(HWND, const char* text, const char* caption, UINT type) {
    // The icon is a field of four bits, not a set of flags: the warning icon's value holds the
    // error icon's bit.
    constexpr UINT iconField = 0x00F0;
    ShowMessageBox((type & iconField) == MB_ICONERROR ? BoxKind::Error : BoxKind::Warning,
                   QString::fromUtf8(caption), QString::fromUtf8(text));
    return IDOK;
}
