#pragma once
// The canvas of a window: it draws straight into the picture the window shows, as drawing on
// the screen does. The picture is the size of the client area; after a drawing call changed
// it, the presenter reads it itself at its next refresh, so a call costs its own pixels and
// nothing reaches the window system on the drawing thread.
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

private:
    void Fit();
    void Show();

    QWidget* window_;
    QImage image_;
    TCanvas canvas_{image_};
    std::shared_ptr<TLivePicture> live_ = std::make_shared<TLivePicture>();
};
