#include "Unit3.h"

#include "engine/Primitives.h"
#include "engine/ddddut.h"
#include "forms/Application.h"
#include "forms/Windows.h"
#include "platform/MMSystem.h"
#include "platform/Random.h"
#include "platform/SysUtils.h"

#include <QLabel>
#include <algorithm>
#include <cmath>

TForm3* Form3 = nullptr;

namespace {

constexpr int kFullWidth = 640;
constexpr int kFullHeight = 480;
constexpr int kShapeSize = 32;
constexpr int kRendererCapacity = 16;
constexpr int kRendererSlots = 1;
constexpr int kRendererMaxZ = 2;
constexpr int kTextureSize = 256;
constexpr DWORD kClearTargetAndZ = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER;
constexpr float kCentre = 200;
constexpr float kWobbleRadius = 64;
constexpr DWORD kOpaqueWhite = 0xFFFFFFFF;
constexpr BYTE kBlendOpaque = 0;
constexpr BYTE kBlendAdditive = 1;
constexpr DWORD kSixColours[6] = {0xFFFF0000, 0xFF00FF00, 0x000000FF,
                                  0x88888888, 0x00FFFF00, 0xFF0000FF};

// One random step of a jitter: up or down by less than speed + 2.
std::int32_t Jitter(std::int32_t position, int speed) {
    const bool up = Random(2) == 1;
    const std::int32_t step = Random(speed + 2);
    return up ? position + step : position - step;
}

TVec2 Rotated(TVec2 v, std::int32_t angle) {
    TVec2 r;
    VecRotate(v, angle, r);
    return r;
}

TVec2 Sum(TVec2 a, TVec2 b) {
    TVec2 r;
    VecAdd(a, b, r);
    return r;
}

TVec2 Difference(TVec2 a, TVec2 b) {
    TVec2 r;
    VecSub(a, b, r);
    return r;
}

BYTE ClampChannel(std::int64_t c) {
    if (c > 255)
        c = 255;
    if (c < 0)
        c = 0;
    return static_cast<BYTE>(c);
}

// A 1 x 1 map whose one transparent chip is the whole surface: it repeats over the screen.
std::unique_ptr<TDDDDBG> SingleChipLayer(TDDDDSurface& surface) {
    auto layer = std::make_unique<TDDDDBG>(1, 1, surface.Width, surface.Height);
    layer->SetChip(0, &surface, 0, 0, true);
    layer->SetCell(0, 0, 0);
    return layer;
}

} // namespace

int ScrollSpeed(std::int32_t frameNumber) {
    if (frameNumber <= 300)
        return 1;
    if (frameNumber <= 500)
        return 2;
    if (frameNumber <= 700)
        return 4;
    if (frameNumber <= 900)
        return 6;
    return 10;
}

DWORD HueColor(std::int32_t hue, std::int32_t saturation, std::int32_t value) {
    const long double pi = 3.141592653589793238462643383279502884L;
    const long double angle = (static_cast<long double>(hue) - 128) / 128 * pi;
    const long double k = static_cast<long double>(saturation) / 512;
    const long double y = static_cast<long double>(value) / 256;
    const long double u = std::cos(angle) * k;
    const long double v = std::sin(angle) * k;
    const auto r = static_cast<std::int64_t>(std::trunc((y + 1.4026L * u) * 256));
    const auto g = static_cast<std::int64_t>(std::trunc((y - 0.7144L * u - 0.3444L * v) * 256));
    const auto b = static_cast<std::int64_t>(std::trunc((y + 1.773L * v) * 256));
    return 0xFF000000u | (DWORD{ClampChannel(r)} << 16) | (DWORD{ClampChannel(g)} << 8) |
           DWORD{ClampChannel(b)};
}

std::array<TVec2, 4> SpinningSquare(float halfSize, std::int32_t angle) {
    const TVec2 m = Vec2(kCentre, kCentre);
    const TVec2 b = Rotated(Vec2(0, -halfSize), angle);
    const TVec2 e = Vec2(-b.Y, b.X);
    const TVec2 front = Sum(m, b);
    const TVec2 back = Difference(m, b);
    return {Difference(front, e), Sum(front, e), Difference(back, e), Sum(back, e)};
}

std::array<TVec2, 4> WobbleCorners(DWORD t) {
    const TVec2 radius = Vec2(0, kWobbleRadius);
    const auto angle = [](DWORD a) { return static_cast<std::int32_t>(a); };
    return {Sum(Vec2(328, 328), Rotated(radius, angle(2 * t))),
            Sum(Vec2(72, 328), Rotated(radius, angle(3 * (t >> 1)))),
            Sum(Vec2(328, 72), Rotated(radius, angle(t))),
            Sum(Vec2(72, 72), Rotated(radius, angle(t >> 1)))};
}

TForm3::TForm3(BenchHost& host, QWidget* parent) : TForm(parent), host_(host) {
    Form3 = this;
    setObjectName("TForm3");
    setWindowFlag(Qt::FramelessWindowHint);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    resize(800, 600);

    DDDD1 = std::make_unique<TDDDD>(this);
    DDDD1->SetDisplayMode(dmWin800x600x16);
    DDDD1->BackColor = 0;
    DDDD1->Use3D = false;
    DDDD1->D3DOptions = DontUseMMX;
    DDDD1->VsyncAtWindowed = true;
    DDDD1->AllowRakugaki = false;
    DDDD1->OnInit = [this](void* sender, bool fNeedChange) { DDDD1Init(sender, fNeedChange); };
    DDDD1->SetDisableScreenSaver(true);
    DDDD1->Loaded();

    Timer = new QTimer(this);
    Timer->setObjectName("Timer");
    Timer->setInterval(100);
    connect(Timer, &QTimer::timeout, this, &TForm3::TimerTimer);

    // The form is built: the engine's first activation sets up its screen and the scene.
    CreationEnded();
}

TForm3::~TForm3() {
    if (idleInstalled_ && Application)
        Application->SetOnIdle(nullptr);
    FormDestroy();
    ReleaseScene();
    DDDD1.reset();
    if (Form3 == this)
        Form3 = nullptr;
}

void TForm3::FormDestroy() {
    Layer1.reset();
    Layer2.reset();
    Layer3.reset();
    Layer4.reset();
}

void TForm3::ReleaseScene() {
    Sprites.reset();
    FormDestroy();
    SpriteSheet.reset();
    Samp3Surface.reset();
    Boss2Surface.reset();
    Samp4Surface.reset();
    Renderer.reset();
    Texture.reset();
    if (SceneViewport) {
        SceneViewport->Release();
        SceneViewport = nullptr;
    }
}

void TForm3::SetUpForTestMode(void* sender) {
    const std::int32_t mode = host_.SceneTestMode();
    DDDD1->AutoDisplayModeInitialize = mode == kTestModeDirectDraw;
    DDDD1->Use3D = mode == kTestModeDirect3D;
    DDDD1->OnInit(sender, false);
}

void TForm3::DDDD1Init(void*, bool) {
    const std::int32_t mode = host_.SceneTestMode();
    if (mode != kTestModeDirectDraw && mode != kTestModeDirect3D)
        return;
    ReleaseScene();
    if (mode == kTestModeDirectDraw)
        SetUpDirectDraw();
    else
        SetUpDirect3D();
}

void TForm3::SetUpDirectDraw() {
    TDDDD* engine = DDDD1.get();
    const std::string archive = SceneArchiveName();

    Samp4Surface = std::make_unique<TDDDDSurface>(engine, 100, 100, 0);
    Samp4Surface->LoadFromArchive(archive, "samp4.bmp");
    Layer1 = SingleChipLayer(*Samp4Surface);

    Boss2Surface = std::make_unique<TDDDDSurface>(engine, 256, 256, 0);
    Boss2Surface->LoadFromArchive(archive, "boss2.bmp");
    Layer2 = SingleChipLayer(*Boss2Surface);
    Layer3 = SingleChipLayer(*Boss2Surface);

    Samp3Surface = std::make_unique<TDDDDSurface>(engine, 100, 100, 0);
    Samp3Surface->LoadFromArchive(archive, "samp3.bmp");
    Layer4 = SingleChipLayer(*Samp3Surface);

    SpriteSheet = std::make_unique<TDDDDSurface>(engine, kSpriteSheetWidth, kSpriteSheetHeight, 0);
    SpriteSheet->LoadFromArchive(archive, "samp5.bmp");

    Sprites = std::make_unique<TDDDDSprite>(kSceneSpriteCount, kSceneShapeCount);
    for (int i = 0; i < kSpriteShapes; ++i)
        Sprites->SetShape(i, SpriteSheet.get(),
                          RECT{kShapeSize * i, 0, kShapeSize * i + kShapeSize, kShapeSize});
    for (int i = 0; i < kSceneSpriteCount; ++i) {
        TDDDDSprReg& reg = *Sprites->GetReg(i);
        reg.IShape = Random(kSpriteShapes);
        reg.Visible = true;
    }

    DDDD1->ClearBackBuffer();
    DDDD1->Present();
}

void TForm3::SetUpDirect3D() {
    InitMathTables();
    SpinClock = 0;
    DDDD1->InitializeScreen(false, kSceneTargetSize, kSceneTargetSize, DDDD1->GetDesktopBitCount(),
                            0, "");
    SetupViewport();
    Renderer = std::make_unique<TPrimitiveRenderer>(DDDD1.get(), kRendererCapacity, kRendererSlots);
    Renderer->SetMaxZ(kRendererMaxZ);
    Texture = std::make_unique<TDDDDTexture>(DDDD1.get());
    Texture->LoadFromArchive(SceneArchiveName(), "boss2.bmp", 0, 0);
    Renderer->SetTextureSlot(0, Texture.get(), RECT{0, 0, kTextureSize, kTextureSize});
}

void TForm3::SetupViewport() {
    // The results are not examined: a failure shows as a black picture, not a stop.
    if (!DDDD1->Direct3D || !DDDD1->D3DDevice)
        return;
    DDDD1->Direct3D->CreateViewport(&SceneViewport, nullptr);
    if (!SceneViewport)
        return;
    DDDD1->D3DDevice->AddViewport(SceneViewport);
    DDDD1->D3DDevice->SetCurrentViewport(SceneViewport);
    D3DVIEWPORT2 viewport{};
    viewport.dwSize = sizeof viewport;
    viewport.dwX = 0;
    viewport.dwY = 0;
    viewport.dwWidth = kSceneTargetSize;
    viewport.dwHeight = kSceneTargetSize;
    viewport.dvClipX = 0.0f;
    viewport.dvClipY = 0.0f;
    viewport.dvClipWidth = static_cast<D3DVALUE>(kSceneTargetSize);
    viewport.dvClipHeight = static_cast<D3DVALUE>(kSceneTargetSize);
    viewport.dvMinZ = 0.0f;
    viewport.dvMaxZ = 1.0f;
    SceneViewport->SetViewport2(&viewport);
}

void TForm3::TimerTimer() {
    Timer->stop();
    WaitUntilOnScreen();
    PrepareMeasurement();
    idleInstalled_ = true;
    Application->SetOnIdle([this](void* sender, bool& done) { IdleRun(sender, done); });
}

void TForm3::PrepareMeasurement() {
    if (host_.SceneTestMode() == kTestModeDirectDraw) {
        DDDD1->InitializeScreen(true, kFullWidth, kFullHeight, 16, 0, "");
        if (Sprites) {
            for (int i = 0; i < kSceneSpriteCount; ++i) {
                TDDDDSprReg& reg = *Sprites->GetReg(i);
                reg.X = Random(kFullWidth);
                reg.Y = Random(kFullHeight);
            }
        }
    }
    PhaseStart = timeGetTime();
    FrameNumber = 0;
}

void TForm3::IdleRun(void*, bool& done) {
    const std::int32_t mode = host_.SceneTestMode();
    if (mode == kTestModeDirectDraw)
        RunDirectDraw(done);
    else if (mode == kTestModeDirect3D)
        RunDirect3D(done);
    else
        Finish();
}

void TForm3::DrawDirectDrawScene() {
    ++FrameNumber;
    const int s = ScrollSpeed(FrameNumber);
    if (Layer1) {
        Layer1->ScrollY += s;
        Layer1->DrawBG();
        Layer2->ScrollX += s;
        Layer2->DrawBG();
        Layer3->ScrollX -= s;
        Layer3->DrawBG();
        Layer4->ScrollY += 3 * s;
        Layer4->DrawBG();
    }
    if (Sprites) {
        for (int i = 0; i < kSceneSpriteCount; ++i) {
            TDDDDSprReg& reg = *Sprites->GetReg(i);
            reg.X = Jitter(reg.X, s);
            reg.Y = Jitter(reg.Y, s);
        }
        Sprites->DrawAll();
    }
}

void TForm3::DirectDrawFrame() {
    DrawDirectDrawScene();
    DDDD1->Present();
    DDDD1->ClearBackBuffer();
}

void TForm3::RunDirectDraw(bool& done) {
    PhaseStart = timeGetTime();
    FrameNumber = 0;
    std::int32_t frames = 0;
    while (ElapsedMs(timeGetTime(), PhaseStart) < kDirectDrawRunMs) {
        DirectDrawFrame();
        done = false;
        ++frames;
        if (FrameHook)
            FrameHook(0);
    }
    lastFrames_ = frames;
    host_.DirectDrawScorePanel().setText(QString::fromStdString(IntToStr(frames * 25)));
    DDDD1->InitializeScreen(false, 800, 600, 16, 0, "");
    Finish();
}

void TForm3::ClearViewport() {
    if (!SceneViewport || !DDDD1->BackBuffer)
        return;
    D3DRECT area{0, 0, DDDD1->BackBuffer->Width, DDDD1->BackBuffer->Height};
    SceneViewport->Clear(1, &area, kClearTargetAndZ);
}

void TForm3::RunDirect3D(bool& done) {
    ClearViewport();
    SpinClock = timeGetTime();
    FrameNumber = 0;
    std::int32_t frames = 0;
    for (int phase = 0; phase < kDirect3DPhases; ++phase) {
        PhaseStart = timeGetTime();
        while (ElapsedMs(timeGetTime(), PhaseStart) < kDirect3DPhaseMs) {
            Direct3DFrame(phase);
            done = false;
            ++frames;
            if (FrameHook)
                FrameHook(phase + 1);
        }
    }
    lastFrames_ = frames;
    host_.Direct3DScorePanel().setText(QString::fromStdString(IntToStr(frames * 10)));
    Finish();
}

void TForm3::DrawDirect3DScene(int phase) {
    ClearViewport();
    SpinClock = timeGetTime();
    if (Renderer) {
        AddPhasePrimitives(phase);
        Renderer->RenderAll();
    }
}

void TForm3::Direct3DFrame(int phase) {
    DrawDirect3DScene(phase);
    PresentScene();
}

void TForm3::Finish() {
    idleInstalled_ = false;
    Application->SetOnIdle(nullptr);
    Close();
}

void TForm3::AddPhasePrimitives(int phase) {
    switch (phase) {
    case 0:
        AddHueSquare();
        break;
    case 1:
        AddSpinSquare();
        break;
    case 2:
        AddSixSquares();
        break;
    default:
        AddWobbleQuad();
        break;
    }
}

void TForm3::AddHueSquare() {
    Renderer->AddRect(0, SingleRect(72, 72, 328, 328), 0, kBlendOpaque,
                      HueColor(static_cast<std::int32_t>((SpinClock >> 3) & 255), 192, 255));
}

void TForm3::AddSpinningSquare(float halfSize, std::int32_t angle, BYTE blend, DWORD colour) {
    const std::array<TVec2, 4> p = SpinningSquare(halfSize, angle);
    Renderer->AddQuad(0, p[0], p[1], p[2], p[3], 0, blend, colour);
}

void TForm3::AddSpinSquare() {
    AddSpinningSquare(128, static_cast<std::int32_t>(SpinClock), kBlendOpaque, kOpaqueWhite);
}

void TForm3::AddSixSquares() {
    for (DWORD i = 0; i < 6; ++i)
        AddSpinningSquare(200, static_cast<std::int32_t>(SpinClock * (i + 1)), kBlendAdditive,
                          kSixColours[i]);
}

void TForm3::AddWobbleQuad() {
    const std::array<TVec2, 4> p = WobbleCorners(SpinClock);
    Renderer->AddQuad(0, p[0], p[1], p[2], p[3], 0, kBlendOpaque, kOpaqueWhite);
}

void TForm3::PresentScene() {
    if (!DDDD1->PrimarySurface || !DDDD1->BackBuffer)
        return;
    const HWND window = DDDD1->Window;
    POINT topLeft{0, 0};
    POINT bottomRight{width(), height()};
    ClientToScreen(window, &topLeft);
    ClientToScreen(window, &bottomRight);
    RECT dst{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    RECT src{0, 0, kSceneTargetSize, kSceneTargetSize};
    DDBLTFX fx{};
    fx.dwSize = sizeof fx;
    DDDD1->PrimarySurface->Surface->Blt(&dst, DDDD1->BackBuffer->Surface, &src, DDBLT_WAIT, &fx);
}
