#pragma once
// Controls the forms rely on that Qt does not have as such.
#include <QLabel>
#include <QPixmap>

// A picture: shows its pixmap from the top-left corner, or stretched over its bounds with
// scaledContents, and reports mouse presses, moves and releases in client coordinates.
// A click is a left press released inside the picture; it is reported before the release,
// so a command started by a click runs while the button still looks pressed.
class TImage : public QLabel {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);

    QPixmap Picture() const { return pixmap(); }
    void SetPicture(const QPixmap& picture) { setPixmap(picture); }
    // Copies another picture's content, as assigning one picture to another does.
    void AssignPicture(const TImage& source) { setPixmap(source.pixmap()); }

signals:
    void MouseDown(Qt::MouseButton button, int x, int y);
    void MouseMove(Qt::MouseButtons buttons, int x, int y);
    void MouseUp(Qt::MouseButton button, int x, int y);
    void Click();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};
