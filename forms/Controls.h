#pragma once
// Controls the forms rely on that Qt does not have as such.
#include <QLabel>
#include <QPixmap>

// A picture: shows its pixmap, optionally stretched over its bounds, and reports mouse
// presses, moves and releases with client coordinates. A click is a left press released
// inside the picture.
class TImage : public QLabel {
    Q_OBJECT
    Q_PROPERTY(bool stretch READ Stretch WRITE SetStretch)
public:
    explicit TImage(QWidget* parent = nullptr);

    const QPixmap& Picture() const { return picture_; }
    void SetPicture(const QPixmap& picture);
    // Copies another picture's content, as assigning one picture to another does.
    void AssignPicture(const TImage& source) { SetPicture(source.Picture()); }

    bool Stretch() const { return stretch_; }
    void SetStretch(bool stretch);

signals:
    void MouseDown(Qt::MouseButton button, int x, int y);
    void MouseMove(Qt::MouseButtons buttons, int x, int y);
    void MouseUp(Qt::MouseButton button, int x, int y);
    void Click();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap picture_;
    bool stretch_ = false;
};
