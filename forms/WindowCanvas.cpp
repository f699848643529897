#include "WindowCanvas.h"

#include <QWidget>

TWindowCanvas::TWindowCanvas(QWidget* window) : window_(window) {
    canvas_.Live = live_.get();
    canvas_.OnChange = [this](const TRect&) { Show(); };
}

TWindowCanvas::~TWindowCanvas() {
    // The presenter may still hold the live picture: it must not read the memory that goes.
    live_->Hide();
}

void TWindowCanvas::Show() {
    // Once per refresh at most: a picture handed over and not yet read is read with this change.
    if (!handingOver_)
        return;
    // Looked up once: a handle is a property of the widget, too slow to read at every call.
    if (!handle_)
        handle_ = WindowHandle(window_);
    live_->HandOver(handle_);
}

void TWindowCanvas::Fit() {
    const QSize size = window_->size().expandedTo(QSize(1, 1));
    if (image_.size() == size)
        return;
    canvas_.Release();
    live_->Replace([&] {
        image_ = QImage(size, QImage::Format_RGB32);
        image_.fill(Qt::black);
        return TPixelView{
            {image_.constBits(), image_.bytesPerLine(), image_.width(), image_.height()},
            TPixelLayout::XRGB8888,
            nullptr};
    });
    // A new size is shown even when nothing is drawn on it yet.
    Show();
}

TCanvas& TWindowCanvas::Canvas() {
    Fit();
    return canvas_;
}

void TWindowCanvas::Fill(TColor color) {
    Fit();
    const TColor brush = canvas_.Brush.Color;
    canvas_.Brush.Color = color;
    canvas_.FillRect(Rect(0, 0, image_.width(), image_.height()));
    canvas_.Brush.Color = brush;
}
