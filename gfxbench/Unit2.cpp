#include "Unit2.h"

#include "forms/Application.h"
#include "platform/MMSystem.h"
#include "platform/Random.h"
#include "platform/SysUtils.h"

#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <algorithm>

TForm2* Form2 = nullptr;

namespace {

constexpr std::int32_t kShapePhaseMs = 4000;
constexpr std::int32_t kSpritePhaseMs = 10000;
constexpr int kShapeSize = 100;
constexpr int kBandHeight = 30;
// A sprite is still drawn at this x; one pixel further left it re-enters at the right.
constexpr std::int32_t kLeftmostX = -56;
constexpr int kReentrySpread = 50;

} // namespace

void SetUpSprites(TSpriteTable& sprites, int width, int height) {
    for (TSprite& s : sprites) {
        s.x = width;
        s.y = Random(height);
        s.dx = Random(20) + 1;
        s.dy = Random(10) - 5;
    }
}

void MoveSprite(TSprite& sprite, int width, int height) {
    sprite.x -= sprite.dx;
    sprite.y -= sprite.dy;
    if (sprite.x < kLeftmostX) {
        sprite.x = width + Random(kReentrySpread);
        sprite.y = Random(height);
    }
}

TColor BandColor(int band) {
    const int g = std::min(15 * band, 255);
    return RGB(200, static_cast<BYTE>(255 - g), 155);
}

TForm2::TForm2(BenchHost& host, QWidget* parent) : TForm(parent), host_(host) {
    Form2 = this;
    setObjectName("TForm2");
    setWindowFlag(Qt::FramelessWindowHint);
    // The canvas picture covers the whole client area.
    setAttribute(Qt::WA_OpaquePaintEvent);

    Timer = new QTimer(this);
    Timer->setObjectName("Timer");
    Timer->setInterval(1000);
    connect(Timer, &QTimer::timeout, this, &TForm2::TimerTimer);

    Panel1 = new QWidget(this);
    Panel1->setObjectName("Panel1");
    Panel1->hide();
    Image1 = new TImage(Panel1);
    Image1->setObjectName("Image1");
    AlignClientControls();
}

void TForm2::TimerTimer() {
    Timer->stop();
    WaitUntilOnScreen();
    DrawProc();
    Close();
}

TCanvas& TForm2::Canvas() {
    return screen_.Canvas();
}

void TForm2::RepaintImage() {
    const QPoint at = Image1->mapTo(this, QPoint(0, 0));
    BitBlt(Canvas(), at.x(), at.y(), Image1->width(), Image1->height(), Image1->Canvas(), 0, 0,
           SRCCOPY);
}

void TForm2::Clear() {
    TCanvas& canvas = Canvas();
    canvas.Brush.Color = clBlack;
    canvas.FillRect(Rect(0, 0, width(), height()));
}

void TForm2::AlignClientControls() {
    Panel1->setGeometry(rect());
    if (Image1->size() != Panel1->size()) {
        Image1->setGeometry(Panel1->rect());
        // The picture is made anew at the image's size when it is next drawn on.
        Image1->SetPicture(QPixmap());
    }
}

void TForm2::ReachedStage(TGdiStage stage) {
    if (StageHook)
        StageHook(stage);
}

template <class Draw> std::int32_t TForm2::ShapePhase(Draw draw) {
    Clear();
    const DWORD start = timeGetTime();
    std::size_t colour = 0;
    std::int32_t drawn = 0;
    while (ElapsedMs(timeGetTime(), start) < kShapePhaseMs) {
        draw(kColorCycle[colour]);
        colour = (colour + 1) % kColorCycle.size();
        ++drawn;
    }
    return drawn;
}

void TForm2::DrawProc() {
    // A hidden window gets no resize events; the panel must fit before its size is read.
    AlignClientControls();
    TCanvas& canvas = Canvas();
    TGdiRunCounts counts;

    Randomize();
    counts.Lines = ShapePhase([&](TColor colour) {
        const int y = Random(height());
        canvas.Pen.Color = colour;
        canvas.MoveTo(0, y);
        canvas.LineTo(width(), y);
    });
    ReachedStage(TGdiStage::LinesDone);
    counts.Rectangles = ShapePhase([&](TColor colour) {
        const int x = Random(width());
        const int y = Random(height());
        canvas.Brush.Color = colour;
        canvas.FillRect(Rect(x, y, x + kShapeSize, y + kShapeSize));
    });
    ReachedStage(TGdiStage::RectanglesDone);
    // The pen is left as the last line set it.
    counts.Ellipses = ShapePhase([&](TColor colour) {
        const int x = Random(width());
        const int y = Random(height());
        canvas.Brush.Color = colour;
        canvas.Ellipse(x, y, x + kShapeSize, y + kShapeSize);
    });
    ReachedStage(TGdiStage::EllipsesDone);

    Panel1->show();
    Randomize();
    Clear();

    const DWORD start = timeGetTime();
    const int w = Image1->width();
    const int h = Image1->height();
    TSpriteTable sprites;
    SetUpSprites(sprites, w, h);
    TCanvas& image = Image1->Canvas();
    TCanvas& mask = host_.SpriteMask().Canvas();
    TCanvas& picture = host_.SpritePicture().Canvas();
    while (ElapsedMs(timeGetTime(), start) < kSpritePhaseMs) {
        for (int band = 0; band <= h / kBandHeight; ++band) {
            image.Brush.Color = BandColor(band);
            image.FillRect(Rect(0, kBandHeight * band, w, kBandHeight * band + kBandHeight));
        }
        for (TSprite& s : sprites) {
            BitBlt(image, s.x, s.y, kSpriteBlock, kSpriteBlock, mask, 0, 0, SRCAND);
            BitBlt(image, s.x, s.y, kSpriteBlock, kSpriteBlock, picture, 0, 0, SRCPAINT);
            MoveSprite(s, w, h);
        }
        RepaintImage();
        Application->ProcessMessages();
        ++counts.Frames;
        ReachedStage(TGdiStage::FrameShown);
    }
    Panel1->hide();

    lastRun_ = counts;
    host_.GdiScorePanel().setText(QString::fromStdString(IntToStr(counts.Drawn() / 10)));
}

void TForm2::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QImage& picture = screen_.Image();
    const QRect part = event->rect() & picture.rect();
    if (!part.isEmpty())
        painter.drawImage(part.topLeft(), picture, part);
    // Where the canvas does not reach yet (a size change not drawn on), the form's colour.
    const QRegion rest = QRegion(event->rect()) - QRegion(part);
    for (const QRect& r : rest)
        painter.fillRect(r, palette().color(QPalette::Window));
}

void TForm2::resizeEvent(QResizeEvent* event) {
    TForm::resizeEvent(event);
    AlignClientControls();
}

void TForm2::showEvent(QShowEvent* event) {
    // A freshly shown window shows its colour, not what the last run left on the canvas.
    const QColor colour = palette().color(QPalette::Window);
    screen_.Fill(RGB(BYTE(colour.red()), BYTE(colour.green()), BYTE(colour.blue())));
    TForm::showEvent(event);
}
