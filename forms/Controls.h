#pragma once
// Controls the forms rely on that Qt does not have as such.
#include <QLabel>
#include <QPixmap>
#include <memory>

class TBitmap;
class TCanvas;

// A picture: shows its pixmap from the top-left corner, or stretched over its bounds with
// scaledContents, and reports mouse presses, moves and releases in client coordinates.
// A click is a left press released inside the picture; it is reported before the release,
// so a command started by a click runs while the button still looks pressed. The second press
// of a double-click is reported as a press and a double-click, and its release is no click.
// Drawing on its canvas turns the picture into a bitmap, shown from then on.
// A picture used as a button may take the keyboard focus from Tab (SetKeyboardButton): it then
// shows a focus mark, and Space (pressed, then clicked on release) or Return (pressed, clicked,
// released at once) work it as the left mouse button does at its centre.
class TImage : public QLabel {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);
    ~TImage() override;

    QPixmap Picture() const;
    void SetPicture(const QPixmap& picture);
    // Copies another picture's content, as assigning one picture to another does.
    void AssignPicture(const TImage& source) { SetPicture(source.Picture()); }

    // The picture as a bitmap: an empty picture first becomes a black bitmap the size of the
    // control, a pixmap becomes a bitmap with its pixels.
    TBitmap& Bitmap();
    TCanvas& Canvas();

    void SetKeyboardButton(bool on);

signals:
    void MouseDown(Qt::MouseButton button, int x, int y);
    void MouseMove(Qt::MouseButtons buttons, int x, int y);
    void MouseUp(Qt::MouseButton button, int x, int y);
    void Click();
    void DblClick();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void DrawFocusMark();

    std::unique_ptr<TBitmap> bitmap_;
    bool clickPending_ = false; // a left press began here; its release inside is a click
    bool spacePressed_ = false; // Space went down here; its release is a click
};
