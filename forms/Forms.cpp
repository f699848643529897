#include "Forms.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QThread>
#include <QWindow>
#include <cmath>

TForm::TForm(QWidget* parent) : QWidget(parent) {}

void TForm::ShowModal() {
    QEventLoop loop;
    modalLoop_ = &loop;
    setWindowModality(Qt::ApplicationModal);
    show();
    loop.exec();
    modalLoop_ = nullptr;
    hide();
    setWindowModality(Qt::NonModal);
}

void TForm::WaitUntilOnScreen() {
    const auto onScreen = [this] { return !windowHandle() || windowHandle()->isExposed(); };
    if (!isVisible() || onScreen())
        return;
    QDeadlineTimer deadline(2000);
    while (isVisible() && !onScreen() && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    // The first drawing, at the size the window system gave.
    QCoreApplication::processEvents();
}

void TForm::Close() {
    close();
}

void TForm::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (!event->isAccepted())
        return;
    if (modalLoop_)
        modalLoop_->quit();
    emit Closed();
}

TWindowState TForm::WindowState() const {
    if (isMaximized())
        return wsMaximized;
    return isMinimized() ? wsMinimized : wsNormal;
}

void TForm::SetWindowState(TWindowState state) {
    switch (state) {
    case wsNormal:
        showNormal();
        break;
    case wsMinimized:
        showMinimized();
        break;
    case wsMaximized:
        showMaximized();
        break;
    }
}

void TForm::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    Perform(WM_MOVE, 0, MakeLParam(event->pos().x(), event->pos().y()));
}

void TForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Perform(WM_SIZE, isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED,
            MakeLParam(event->size().width(), event->size().height()));
}

void TForm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Perform(WM_SIZE, isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED,
                MakeLParam(width(), height()));
}

void TForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The size limits a procedure asks for hold from the next show on.
    MINMAXINFO info{};
    TMessage message{WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info), 0};
    WindowProc(message);
    // Without a limit from the procedure the form keeps its own (a fixed-size dialog stays
    // fixed).
    if (info.ptMaxTrackSize.x > 0 && info.ptMaxTrackSize.y > 0) {
        if (!procedureLimit_)
            ownMaximumSize_ = maximumSize();
        procedureLimit_ = true;
        setMaximumSize(info.ptMaxTrackSize.x, info.ptMaxTrackSize.y);
    } else if (procedureLimit_) {
        procedureLimit_ = false;
        setMaximumSize(ownMaximumSize_);
    }
}

void TForm::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (OnPaint)
        OnPaint(static_cast<TFormBase*>(this));
}

int ScreenWidth() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().width() : 0;
}

int ScreenHeight() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().height() : 0;
}

int DevicePixels(int logical, double scale) {
    return static_cast<int>(std::lround(logical * scale));
}

int ScreenPixelWidth() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? DevicePixels(screen->geometry().width(), screen->devicePixelRatio()) : 0;
}

int ScreenPixelHeight() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? DevicePixels(screen->geometry().height(), screen->devicePixelRatio()) : 0;
}
