#pragma once
// The DirectDraw and Direct3D test window. One scene set-up per test: four scrolling tiled
// layers and 301 jittering sprites in 640 x 480 x 16 full screen, or textured quads drawn
// with Direct3D into a 400 x 400 buffer stretched over the window in four timed phases. The
// frame count becomes the score in the main window's panel.
#include "BenchHost.h"
#include "SceneArchive.h"
#include "engine/dddd.h"
#include "engine/s_MathPack.h"
#include "forms/Forms.h"

#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TDDDDBG;
class TDDDDSprite;
class TPrimitiveRenderer;

inline constexpr int kSceneSpriteCount = 301;
inline constexpr int kSceneShapeCount = 301;
// Six 32 x 32 shapes side by side; the sheet is as wide as the shapes it holds.
inline constexpr int kSpriteSheetWidth = 192;
inline constexpr int kSpriteSheetHeight = 32;
inline constexpr int kSpriteShapes = 6;
inline constexpr std::int32_t kDirectDrawRunMs = 15000;
inline constexpr std::int32_t kDirect3DPhaseMs = 5000;
inline constexpr int kDirect3DPhases = 4;
inline constexpr int kSceneTargetSize = 400;

// Scroll and jitter speed of the DirectDraw test for a frame number (from 1): it steps up from
// 1 to 10 as the run goes on.
int ScrollSpeed(std::int32_t frameNumber);
// An opaque ARGB colour from hue, saturation and value, each 0 ... 255, through a
// luminance/colour-difference model; hue 128 is the angle 0.
DWORD HueColor(std::int32_t hue, std::int32_t saturation, std::int32_t value);
// The corners P1 ... P4 (top-left, top-right, bottom-left, bottom-right at angle 0) of a square
// of half-size h about (200, 200), turned by angle 4096ths of a turn.
std::array<TVec2, 4> SpinningSquare(float halfSize, std::int32_t angle);
// The corners of the fourth phase's quad at spin clock t: each circles its own corner of the
// square (72, 72)-(328, 328) with radius 64 at its own speed.
std::array<TVec2, 4> WobbleCorners(DWORD t);

class TForm3 : public TForm {
    Q_OBJECT
public:
    explicit TForm3(BenchHost& host, QWidget* parent = nullptr);
    ~TForm3() override;

    // The display engine; the window's creation ends with its first activation.
    std::unique_ptr<TDDDD> DDDD1;
    // Fires once, 100 ms after the window is shown; starts disabled.
    QTimer* Timer;

    void TimerTimer();
    // The start command's set-up of this window for the host's test mode: the engine takes its
    // own full-screen mode for DirectDraw, 3D in the window for Direct3D, and initialises,
    // which sets up the scene.
    void SetUpForTestMode(void* sender);
    // The scene set-up for the host's test mode; anything else does nothing.
    void DDDD1Init(void* sender, bool fNeedChange);
    // The application's idle handler while a measurement runs: the whole measurement in one
    // call, then it removes itself and closes the window.
    void IdleRun(void* sender, bool& done);
    void FormDestroy();
    // The 400 x 400 back buffer stretched over the window's client area on the screen.
    void PresentScene();

    // The pieces of a measurement, as the run takes them; the benchmarks and tests drive the
    // scene through these. Before the first frame: the DirectDraw test's full-screen mode and
    // sprite places (nothing more for Direct3D), then PhaseStart and FrameNumber reset.
    void PrepareMeasurement();
    // One DirectDraw frame: the next frame number's scroll and jitter, layers and sprites drawn
    // into the back buffer (no present).
    void DrawDirectDrawScene();
    // DrawDirectDrawScene, then the present and the clear that prepares the next frame.
    void DirectDrawFrame();
    // One Direct3D frame of phase 0 ... 3 before its present: the viewport clear, the spin
    // clock read, the phase's primitives rendered.
    void DrawDirect3DScene(int phase);
    // DrawDirect3DScene, then PresentScene.
    void Direct3DFrame(int phase);

    // The scene, all owned by the window.
    std::unique_ptr<TDDDDSurface> Samp4Surface;
    std::unique_ptr<TDDDDSurface> Samp3Surface;
    std::unique_ptr<TDDDDSurface> Boss2Surface;
    std::unique_ptr<TDDDDSurface> SpriteSheet;
    std::unique_ptr<TDDDDBG> Layer1, Layer2, Layer3, Layer4;
    std::unique_ptr<TDDDDSprite> Sprites;
    std::int32_t FrameNumber = 0;
    DWORD PhaseStart = 0;
    IDirect3DViewport2* SceneViewport = nullptr;
    DWORD SpinClock = 0;
    std::unique_ptr<TDDDDTexture> Texture;
    std::unique_ptr<TPrimitiveRenderer> Renderer;

    // Frames drawn by the last measurement.
    std::int32_t LastFrames() const { return lastFrames_; }
    // Test-only: called after each frame has been presented, with the phase (0 for the
    // DirectDraw test, 1 ... 4 for the Direct3D phases).
    std::function<void(int phase)> FrameHook;

private:
    void SetUpDirectDraw();
    void SetUpDirect3D();
    void SetupViewport();
    // Frees the objects of an earlier set-up, so repeated runs do not pile them up.
    void ReleaseScene();
    void RunDirectDraw(bool& done);
    void RunDirect3D(bool& done);
    void ClearViewport();
    // The primitives of Direct3D phase 0 ... 3.
    void AddPhasePrimitives(int phase);
    void AddHueSquare();
    void AddSpinSquare();
    void AddSixSquares();
    void AddWobbleQuad();
    void AddSpinningSquare(float halfSize, std::int32_t angle, BYTE blend, DWORD colour);
    void Finish();

    BenchHost& host_;
    std::int32_t lastFrames_ = 0;
    bool idleInstalled_ = false;
};

extern TForm3* Form3;
