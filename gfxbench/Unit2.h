#pragma once
// The GDI drawing test window: four timed phases of ordinary 2-D drawing (lines, filled
// rectangles, filled ellipses, then masked sprites over a banded background), whose count
// becomes the GDI score in the main window.
#include "BenchHost.h"
#include "forms/Controls.h"
#include "forms/Forms.h"
#include "forms/Graphics.h"
#include "forms/WindowCanvas.h"

#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>

// The colours the first three phases cycle through, one per shape.
inline constexpr std::array<TColor, 16> kColorCycle = {
    clAqua, clBlue,  clGray,   clFuchsia, clGreen, clLime,   clSilver, clMaroon,
    clNavy, clOlive, clPurple, clRed,     clWhite, clYellow, clTeal,   clSilver,
};

inline constexpr int kSpriteCount = 200;
// The block copied per sprite: one row and column more than the 100 × 100 pictures.
inline constexpr int kSpriteBlock = 101;

struct TSprite {
    std::int32_t x = 0; // left edge
    std::int32_t y = 0; // top edge
    std::int32_t dx = 0;
    std::int32_t dy = 0;
};
using TSpriteTable = std::array<TSprite, kSpriteCount>;

// Every sprite starts just off the right edge at a random height, with a step of 1..20 to the
// left and -5..4 upwards; random numbers are drawn y, dx, dy, sprite by sprite.
void SetUpSprites(TSpriteTable& sprites, int width, int height);
// One step; a sprite left of x = -56 re-enters at the right at a random height.
void MoveSprite(TSprite& sprite, int width, int height);
// Background band b of the sprite phase: from RGB(200, 255, 155) down to RGB(200, 0, 155).
TColor BandColor(int band);

// What the last run drew, phase by phase.
struct TGdiRunCounts {
    std::int32_t Lines = 0;
    std::int32_t Rectangles = 0;
    std::int32_t Ellipses = 0;
    std::int32_t Frames = 0;
    // The score's count: a shape counts one, a sprite frame a thousand.
    std::int32_t Drawn() const { return Lines + Rectangles + Ellipses + 1000 * Frames; }
    friend bool operator==(const TGdiRunCounts&, const TGdiRunCounts&) = default;
};

enum class TGdiStage { LinesDone, RectanglesDone, EllipsesDone, FrameShown };

class TForm2 : public TForm {
    Q_OBJECT
public:
    explicit TForm2(BenchHost& host, QWidget* parent = nullptr);

    // Fires once, about a second after the window is shown; starts disabled.
    QTimer* Timer;
    // Covers the window during the sprite phase, hidden otherwise.
    QWidget* Panel1;
    // Fills Panel1; the sprite phase draws on its picture.
    TImage* Image1;

    void TimerTimer();
    // The whole test; ends by writing the score into the host's GDI panel.
    void DrawProc();

    // The form's own canvas: it draws into the picture the window shows, which the display
    // shows at its next refresh.
    TCanvas& Canvas();
    const TGdiRunCounts& LastRun() const { return lastRun_; }
    // The picture the window shows, for measuring what showing it costs the drawing.
    TWindowCanvas& Screen() { return screen_; }

    // Test-only: called at the end of each of the first three phases and after each frame of
    // the sprite phase has been shown.
    std::function<void(TGdiStage)> StageHook;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Brush black, the client area filled.
    void Clear();
    // One timed shape phase on a cleared window: draw(colour) with the next colour of the cycle
    // until the phase's time is up; how many shapes it drew.
    template <class Draw> std::int32_t ShapePhase(Draw draw);
    void AlignClientControls();
    void ReachedStage(TGdiStage stage);
    // The image repaints itself: its picture copied into the window's where it lies.
    void RepaintImage();

    BenchHost& host_;
    TWindowCanvas screen_{this};
    TGdiRunCounts lastRun_;
};

extern TForm2* Form2;
