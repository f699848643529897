#pragma once
// The canvas of a window: it draws straight into the picture the window shows, as drawing on
// the screen does. The picture is the size of the client area; a drawing call reports what it
// changed to the live picture under its lock, and the presenter copies just that at its next
// refresh, so a call costs its own pixels and nothing reaches the window system on the drawing
// thread. LockWaitedNs tells how long drawing waited for the presenter's copies.
#include "Graphics.h"
#include "Windows.h"

#include <QImage>
#include <memory>

class QWidget;

class TWindowCanvas {
public:
    explicit TWindowCanvas(QWidget* window);
    ~TWindowCanvas();
    TWindowCanvas(const TWindowCanvas&) = delete;
    TWindowCanvas& operator=(const TWindowCanvas&) = delete;

    // The canvas over a picture of the window's client size; a picture of a new size starts
    // black.
    TCanvas& Canvas();
    const QImage& Image() const { return image_; }
    // Fills the whole picture with the colour, e.g. when the window is shown anew.
    void Fill(TColor color);
    // The nanoseconds the drawing calls have waited for the picture's lock so far.
    std::uint64_t LockWaitedNs() const { return live_->WaitedNs(); }
    // Whether changes are handed to the display (on by default). Off, the window keeps showing
    // what it showed, and nothing reads the picture: what the display costs the drawing is
    // measured against that.
    void SetHandingOver(bool on) { handingOver_ = on; }

private:
    void Fit();
    void Show();

    QWidget* window_;
    HWND handle_ = nullptr;
    QImage image_;
    TCanvas canvas_{image_};
    std::shared_ptr<TLivePicture> live_ = std::make_shared<TLivePicture>();
    bool handingOver_ = true;
};
