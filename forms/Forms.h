#pragma once
// The form base: a top-level window whose modal show returns when the form closes itself.
#include <QWidget>

class QEventLoop;

class TForm : public QWidget {
    Q_OBJECT
public:
    explicit TForm(QWidget* parent = nullptr);

    // Shows the form application-modal and runs a message loop until the form closes
    // (Close, or the user closing it); then hides it and returns.
    void ShowModal();
    bool InModalLoop() const { return modalLoop_ != nullptr; }

    // Closes the form: ends a running modal show, otherwise hides it.
    void Close();

    // Position and size in screen pixels, set one at a time as the forms library does.
    void SetLeft(int left) { move(left, y()); }
    void SetTop(int top) { move(x(), top); }
    void SetWidth(int width) { resize(width, height()); }
    void SetHeight(int height) { resize(width(), height); }

signals:
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QEventLoop* modalLoop_ = nullptr;
};

// The primary screen's size in pixels.
int ScreenWidth();
int ScreenHeight();
