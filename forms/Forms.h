#pragma once
// The form base: a top-level window whose modal show returns when the form closes itself.
#include "FormBase.h"

#include <QWidget>

class QEventLoop;

class TForm : public QWidget, public TFormBase {
    Q_OBJECT
public:
    explicit TForm(QWidget* parent = nullptr);

    // Shows the form application-modal and runs a message loop until the form closes
    // (Close, or the user closing it); then hides it and returns.
    void ShowModal();
    bool InModalLoop() const { return modalLoop_ != nullptr; }
    // Returns once the window system shows the shown form, or after two seconds: a compositor
    // shows a window only once the form has drawn itself at the size it was given, which a
    // test that then holds this thread would never let it do.
    void WaitUntilOnScreen();

    // Closes the form: ends a running modal show, otherwise hides it.
    void Close();

    // Position and size in screen pixels, set one at a time as the forms library does.
    void SetLeft(int left) { move(left, y()); }
    void SetTop(int top) { move(x(), top); }
    void SetWidth(int width) { resize(width, height()); }
    void SetHeight(int height) { resize(width(), height); }

    HWND Handle() override { return WindowHandle(this); }
    bool Active() const override { return isActiveWindow(); }
    TWindowState WindowState() const override;
    void SetWindowState(TWindowState state) override;
    int FormLeft() const override { return x(); }
    int FormTop() const override { return y(); }
    int ClientWidth() const override { return width(); }
    int ClientHeight() const override { return height(); }
    // Left and top place the window with its frame, as FormLeft and FormTop read them.
    void SetBounds(int left, int top, int width, int height) override {
        move(left, top);
        resize(width, height);
    }
    void ShowForm() override { show(); }
    void HideForm() override { hide(); }
    void BringToFront() override {
        raise();
        activateWindow();
    }

signals:
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    // Translated into window messages for WindowProc, and the paint event for OnPaint.
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QEventLoop* modalLoop_ = nullptr;
    bool procedureLimit_ = false; // the maximum size is one a window procedure asked for
    QSize ownMaximumSize_;        // the form's own maximum size while it is
};

// The primary screen's size in pixels.
int ScreenWidth();
int ScreenHeight();
// The primary screen's size in device pixels: on a scaled screen the logical size above
// times the scale (2560 x 1600 for 1280 x 800 at 2).
int ScreenPixelWidth();
int ScreenPixelHeight();
int DevicePixels(int logical, double scale);
