#include "Controls.h"

#include "Graphics.h"

#include <QMouseEvent>
#include <QPainter>

TImage::TImage(QWidget* parent) : QLabel(parent) {
    setMouseTracking(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

TImage::~TImage() = default;

QPixmap TImage::Picture() const {
    // A deep copy: the bitmap's pixels stay the canvas's own.
    return bitmap_ ? QPixmap::fromImage(bitmap_->Image().copy()) : pixmap();
}

void TImage::SetPicture(const QPixmap& picture) {
    bitmap_.reset();
    setPixmap(picture);
}

TBitmap& TImage::Bitmap() {
    if (!bitmap_) {
        bitmap_ = std::make_unique<TBitmap>();
        const QPixmap picture = pixmap();
        if (picture.isNull())
            bitmap_->SetSize(width(), height());
        else
            bitmap_->Assign(picture.toImage());
        setPixmap(QPixmap());
    }
    return *bitmap_;
}

TCanvas& TImage::Canvas() {
    return Bitmap().Canvas();
}

void TImage::paintEvent(QPaintEvent* event) {
    if (!bitmap_) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const QImage& picture = bitmap_->Image();
    if (hasScaledContents()) {
        painter.drawImage(rect(), picture);
        return;
    }
    const QRect part = event->rect() & picture.rect();
    if (!part.isEmpty())
        painter.drawImage(part.topLeft(), picture, part);
}

void TImage::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
        clickPending_ = true;
    emit MouseDown(event->button(), p.x(), p.y());
}

void TImage::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    clickPending_ = false;
    emit MouseDown(event->button(), p.x(), p.y());
    if (event->button() == Qt::LeftButton)
        emit DblClick();
}

void TImage::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit MouseMove(event->buttons(), p.x(), p.y());
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    const bool click = event->button() == Qt::LeftButton && clickPending_ && rect().contains(p);
    if (event->button() == Qt::LeftButton)
        clickPending_ = false;
    if (click)
        emit Click();
    emit MouseUp(event->button(), p.x(), p.y());
}
