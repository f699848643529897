#include "Application.h"

#include "Dialogs.h"
#include "gpu/Renderer.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <qpa/qplatformnativeinterface.h>

TApplication* Application = nullptr;

namespace {

// The second press of a double-click is a double-click, not a press: a button or check box
// that sees no press gives no click when the button is released, so a double-click runs its
// command once. (Qt hands a double-click to a widget as a second press.)
class DoubleClickFilter : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        return event->type() == QEvent::MouseButtonDblClick &&
               qobject_cast<QAbstractButton*>(watched) != nullptr;
    }
};

void QtMessageFilter(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg)
        return;
    std::fprintf(stderr, "zelka: %s\n", qPrintable(qFormatLogMessage(type, context, text)));
    std::abort();
}

} // namespace

void KeepQtMessagesOffStandardError() {
    if (qEnvironmentVariableIsEmpty("ZELKA_QT_MESSAGES"))
        qInstallMessageHandler(QtMessageFilter);
}

TApplication::TApplication(bool headless)
    : headless_(headless), doubleClicks_(std::make_unique<DoubleClickFilter>()),
      previous_(Application) {
    Application = this;
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(doubleClicks_.get());
    // Shown, the GPU's frames are drawn by the presenter's own context, which shares the drawing
    // one's only on the same display: the window system's (on Wayland, Qt's connection's).
    if (!headless && qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        const QString platform = QGuiApplication::platformName();
        QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
        if (platform == QLatin1String("xcb"))
            gpu::UseWindowSystem(gpu::WindowSystem::X11, nullptr);
        else if (platform.startsWith(QLatin1String("wayland")) && native)
            if (void* display = native->nativeResourceForIntegration("wl_display"))
                gpu::UseWindowSystem(gpu::WindowSystem::Wayland, display);
    }
}

TApplication::~TApplication() {
    onIdle_ = nullptr;
    idleTimer_.reset();
    DestroyForms();
    if (Application == this)
        Application = previous_;
}

void TApplication::SetTitle(const QString& title) {
    // Kept here, not as Qt's application display name: Qt would append that to every
    // window's title.
    title_ = title;
}

void TApplication::DestroyForms() {
    while (!forms_.empty())
        forms_.pop_back();
}

void TApplication::ProcessMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TApplication::Minimize() {
    for (const auto& form : forms_)
        if (form->isVisible())
            form->showMinimized();
}

int TApplication::Run() {
    return QApplication::exec();
}

bool TApplication::RunCommand(const std::function<void()>& command) {
    try {
        command();
        return true;
    } catch (const std::exception& error) {
        ShowException(error);
        return false;
    }
}

void TApplication::ShowException(const std::exception& error) {
    // The standard error box ends a message with a full stop unless it already ends in
    // punctuation, and carries the application's title.
    QString text = dynamic_cast<const std::bad_alloc*>(&error) ? QStringLiteral("Out of memory")
                                                               : QString::fromUtf8(error.what());
    if (!text.isEmpty() && text.back() > QChar('.'))
        text += '.';
    ShowMessageBox(BoxKind::Error, title_, text);
}

namespace {
// How long a handler that reported itself done waits before it is called again.
constexpr int kIdleRestMs = 10;
} // namespace

void TApplication::SetOnIdle(TIdleEvent handler) {
    onIdle_ = std::move(handler);
    if (!onIdle_) {
        if (idleTimer_)
            idleTimer_->stop();
        return;
    }
    if (!idleTimer_) {
        // A zero-interval timer fires once the loop has processed every pending event.
        idleTimer_ = std::make_unique<QTimer>();
        idleTimer_->setSingleShot(true);
        QObject::connect(idleTimer_.get(), &QTimer::timeout, [this] { RunIdle(); });
    }
    idleTimer_->start(0);
}

void TApplication::RunIdle() {
    if (!onIdle_)
        return;
    // The handler may remove itself; the copy keeps it alive until it returns.
    const TIdleEvent handler = onIdle_;
    bool done = true;
    handler(this, done);
    if (onIdle_ && idleTimer_ && !idleTimer_->isActive())
        idleTimer_->start(done ? kIdleRestMs : 0);
}
