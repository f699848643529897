#include "Controls.h"

#include "Graphics.h"

#include <QKeyEvent>
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

void TImage::SetKeyboardButton(bool on) {
    setFocusPolicy(on ? Qt::TabFocus : Qt::NoFocus);
}

void TImage::paintEvent(QPaintEvent* event) {
    if (!bitmap_) {
        QLabel::paintEvent(event);
        DrawFocusMark();
        return;
    }
    {
        QPainter painter(this);
        const QImage& picture = bitmap_->Image();
        if (hasScaledContents()) {
            painter.drawImage(rect(), picture);
        } else {
            const QRect part = event->rect() & picture.rect();
            if (!part.isEmpty())
                painter.drawImage(part.topLeft(), picture, part);
        }
    }
    DrawFocusMark();
}

void TImage::DrawFocusMark() {
    if (!hasFocus())
        return;
    // A dotted frame inside the picture, yellow on black, seen on light and dark skins alike.
    QPainter painter(this);
    const QRect frame = rect().adjusted(1, 1, -2, -2);
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRect(frame);
    painter.setPen(QPen(QColor(0xFF, 0xFF, 0x00), 1, Qt::DotLine));
    painter.drawRect(frame);
}

void TImage::keyPressEvent(QKeyEvent* event) {
    const QPoint centre = rect().center();
    switch (event->key()) {
    case Qt::Key_Space:
        if (!event->isAutoRepeat() && !spacePressed_) {
            spacePressed_ = true;
            emit MouseDown(Qt::LeftButton, centre.x(), centre.y());
        }
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!event->isAutoRepeat()) {
            emit MouseDown(Qt::LeftButton, centre.x(), centre.y());
            emit Click();
            emit MouseUp(Qt::LeftButton, centre.x(), centre.y());
        }
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}

void TImage::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space) {
        QLabel::keyReleaseEvent(event);
        return;
    }
    if (event->isAutoRepeat() || !spacePressed_)
        return;
    spacePressed_ = false;
    const QPoint centre = rect().center();
    emit Click();
    emit MouseUp(Qt::LeftButton, centre.x(), centre.y());
}

void TImage::focusInEvent(QFocusEvent* event) {
    QLabel::focusInEvent(event);
    update();
}

void TImage::focusOutEvent(QFocusEvent* event) {
    // Focus leaving while Space is down takes the press back, as a button does.
    if (spacePressed_) {
        spacePressed_ = false;
        const QPoint centre = rect().center();
        emit MouseUp(Qt::LeftButton, centre.x(), centre.y());
    }
    QLabel::focusOutEvent(event);
    update();
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
