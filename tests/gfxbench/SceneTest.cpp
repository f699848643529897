// The DirectDraw and Direct3D test window: its pure helpers, both measurements on a scripted
// clock, the order of the engine calls of each set-up, and what repeated set-ups leave behind.
#include "directx/DisplayAdapter.h"
#include "engine/Primitives.h"
#include "engine/dddd_log.h"
#include "engine/ddddut.h"
#include "forms/Application.h"
#include "forms/Controls.h"
#include "forms/Halt.h"
#include "gfxbench/DetachedHost.h"
#include "gfxbench/Unit3.h"
#include "platform/MMSystem.h"
#include "platform/Random.h"
#include "tests/ScopedEnv.h"
#include "tests/gfxbench/SceneFixture.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using directx::Adapter;

namespace {

// Whether every item of `wanted` turns up in `calls`, in that order.
bool InOrder(const std::vector<std::string>& calls, const std::vector<std::string>& wanted) {
    auto at = calls.begin();
    for (const std::string& w : wanted) {
        at = std::find(at, calls.end(), w);
        if (at == calls.end())
            return false;
        ++at;
    }
    return true;
}

long Count(const std::vector<std::string>& calls, const std::string& name) {
    return std::count(calls.begin(), calls.end(), name);
}

class SceneTest : public SceneFolderTest {
protected:
    void TearDown() override {
        form.reset();
        SceneFolderTest::TearDown();
    }
    TForm3& Make(std::int32_t mode = 1) {
        host.mode = mode;
        form = std::make_unique<TForm3>(host);
        form->Timer->setInterval(0); // the 100 ms wait is not what is tested
        return *form;
    }
    // Steps 3 and 4 of the start command, as the main window takes them.
    void Prepare(std::int32_t mode) {
        host.mode = mode;
        form->SetUpForTestMode(&host);
        if (mode == 2)
            form->setGeometry(0, 0, ScreenWidth(), ScreenHeight());
    }
    void Show() {
        form->Timer->start();
        form->ShowModal();
    }
    std::string Log() const {
        QFile log(dir.filePath("dddd.debug"));
        return log.open(QIODevice::ReadOnly) ? log.readAll().toStdString() : std::string();
    }

    DetachedHost host;
    std::unique_ptr<TForm3> form;
};

} // namespace

TEST(ScenePieces, ScrollSpeedStepsUpWithTheFrameNumber) {
    const struct {
        std::int32_t frame;
        int speed;
    } cases[] = {{1, 1},   {300, 1}, {301, 2},  {500, 2},   {501, 4},   {700, 4},
                 {701, 6}, {900, 6}, {901, 10}, {1200, 10}, {1201, 10}, {100000, 10}};
    for (const auto& c : cases)
        EXPECT_EQ(ScrollSpeed(c.frame), c.speed) << c.frame;
}

TEST(ScenePieces, HueColorClampsEachChannelAndIsOpaque) {
    const struct {
        std::int32_t hue, saturation, value;
        DWORD colour;
    } cases[] = {
        {128, 192, 255, 0xFFFFBAFF}, // angle 0: red 389 clamped to 255, green 186
        {96, 192, 128, 0xFFDF6607},  // an eighth of a turn back: 223, 102, 7
        {0, 255, 0, 0xFF005B00},     // red below 0 becomes 0
        {200, 255, 255, 0xFFDCE5FF}, // blue 476 clamped
        {128, 0, 0, 0xFF000000},     {128, 0, 255, 0xFFFFFFFF},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HueColor(c.hue, c.saturation, c.value), c.colour)
            << c.hue << " " << c.saturation << " " << c.value;
}

TEST(ScenePieces, SpinningSquareTurnsClockwiseAboutTheCentre) {
    InitMathTables();
    const struct {
        float half;
        std::int32_t angle;
        TVec2 p[4];
    } cases[] = {
        {128, 0, {{72, 72}, {328, 72}, {72, 328}, {328, 328}}},
        // A quarter turn: the texture's top-left corner is now at the top right.
        {128, 1024, {{328, 72}, {328, 328}, {72, 72}, {72, 328}}},
        {128, 4096 + 1024, {{328, 72}, {328, 328}, {72, 72}, {72, 328}}},
        {200, 2048, {{400, 400}, {0, 400}, {400, 0}, {0, 0}}},
        {50, -1024, {{150, 250}, {150, 150}, {250, 250}, {250, 150}}},
    };
    for (const auto& c : cases) {
        const std::array<TVec2, 4> p = SpinningSquare(c.half, c.angle);
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(p[i].X, c.p[i].X, 1e-3) << c.angle << " P" << i + 1;
            EXPECT_NEAR(p[i].Y, c.p[i].Y, 1e-3) << c.angle << " P" << i + 1;
        }
    }
}

TEST(ScenePieces, WobbleCornersCircleAtTheirOwnSpeeds) {
    InitMathTables();
    const float d = 45.254834f; // 64 / sqrt(2)
    const struct {
        DWORD t;
        TVec2 p[4];
    } cases[] = {
        {0, {{328, 392}, {72, 392}, {328, 136}, {72, 136}}},
        // Angles 2048, 1536, 1024 and 512.
        {1024, {{328, 264}, {72 - d, 328 - d}, {264, 72}, {72 - d, 72 + d}}},
        // The 32-bit products wrap; only the low 12 bits of an angle count.
        {0x80000400u, {{328, 264}, {72 - d, 328 - d}, {264, 72}, {72 - d, 72 + d}}},
    };
    for (const auto& c : cases) {
        const std::array<TVec2, 4> p = WobbleCorners(c.t);
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(p[i].X, c.p[i].X, 0.05) << c.t << " P" << i + 1;
            EXPECT_NEAR(p[i].Y, c.p[i].Y, 0.05) << c.t << " P" << i + 1;
        }
    }
    // t shr 1 drops the low bit: at 1025 P2 and P4 stand where they stood at 1024, P1 and P3
    // have moved on.
    const std::array<TVec2, 4> a = WobbleCorners(1024), b = WobbleCorners(1025);
    for (int i : {1, 3})
        EXPECT_TRUE(a[i].X == b[i].X && a[i].Y == b[i].Y) << "P" << i + 1;
    for (int i : {0, 2})
        EXPECT_FALSE(a[i].X == b[i].X && a[i].Y == b[i].Y) << "P" << i + 1;
}

TEST_F(SceneTest, CreationEndsWithTheFirstActivationAndTheDirectDrawScene) {
    TForm3& f = Make(1);
    EXPECT_EQ(f.DDDD1->State(), TDDDDState::Initialized);
    EXPECT_FALSE(f.DDDD1->FullScreen);
    EXPECT_EQ(f.DDDD1->ScreenWidth, 800);
    EXPECT_EQ(f.DDDD1->ScreenHeight, 600);
    EXPECT_EQ(f.DDDD1->BitCount, 16);
    ASSERT_NE(f.DDDD1->BackBuffer, nullptr);
    EXPECT_EQ(f.DDDD1->BackBuffer->Width, 800);
    ASSERT_TRUE(f.Samp4Surface && f.Samp3Surface && f.Boss2Surface && f.SpriteSheet);
    EXPECT_EQ(f.SpriteSheet->Width, kSpriteSheetWidth);
    EXPECT_EQ(f.SpriteSheet->Height, kSpriteSheetHeight);
    EXPECT_EQ(f.Boss2Surface->Width, 256);
    ASSERT_TRUE(f.Layer1 && f.Layer2 && f.Layer3 && f.Layer4 && f.Sprites);
    EXPECT_EQ(f.Layer2->Chips[0].Surface, f.Layer3->Chips[0].Surface);
    EXPECT_EQ(f.Layer4->Chips[0].Surface, f.Samp3Surface.get());
    EXPECT_TRUE(f.Layer1->Chips[0].Transparent);
    EXPECT_EQ(f.Layer1->GetCell(0, 0), 0);
    // Six shapes side by side, all inside the sheet; the other shapes stay empty.
    for (int i = 0; i < kSceneShapeCount; ++i) {
        const TDDDDShape& shape = f.Sprites->Shapes[i];
        if (i < kSpriteShapes) {
            EXPECT_EQ(shape.Surface, f.SpriteSheet.get());
            EXPECT_EQ(shape.Rect.left, 32 * i);
            EXPECT_EQ(shape.Rect.right, 32 * i + 32);
            EXPECT_LE(shape.Rect.right, f.SpriteSheet->Width);
        } else {
            EXPECT_EQ(shape.Surface, nullptr) << i;
        }
    }
    std::vector<int> used(kSpriteShapes);
    for (int i = 0; i < kSceneSpriteCount; ++i) {
        const TDDDDSprReg& reg = *f.Sprites->GetReg(i);
        ASSERT_GE(reg.IShape, 0);
        ASSERT_LT(reg.IShape, kSpriteShapes);
        ++used[reg.IShape];
        EXPECT_TRUE(reg.Visible);
        EXPECT_EQ(reg.X, 0);
        EXPECT_EQ(reg.Z, 0);
    }
    for (int n : used)
        EXPECT_GT(n, 0);
    EXPECT_EQ(Log(), "");
}

TEST_F(SceneTest, OtherTestModesSetUpNothing) {
    for (std::int32_t mode : {0, 3, -1}) {
        TForm3& f = Make(mode);
        EXPECT_EQ(f.DDDD1->State(), TDDDDState::Initialized);
        EXPECT_FALSE(f.Samp4Surface || f.Sprites || f.Layer1 || f.Texture || f.Renderer);
        EXPECT_EQ(f.SceneViewport, nullptr);
        EXPECT_TRUE(f.DDDD1->SurfaceKeepers.empty());
    }
}

TEST_F(SceneTest, SetUpsCallTheEngineInOrder) {
    Make(1);
    Adapter().RecordCalls(true);
    Prepare(1);
    const std::vector<std::string> dd = Adapter().Calls();
    EXPECT_EQ(Count(dd, "IDirectDraw2::CreateSurface"), 4);  // three pictures and the sheet
    EXPECT_EQ(Count(dd, "IDirectDraw2::SetDisplayMode"), 0); // full screen comes with the timer
    // The clear of the back buffer, then the present, after the last surface.
    EXPECT_TRUE(InOrder(dd, {"IDirectDraw2::CreateSurface", "IDirectDraw2::CreateSurface",
                             "IDirectDraw2::CreateSurface", "IDirectDraw2::CreateSurface",
                             "IDirectDrawSurface::Blt", "IDirectDraw2::WaitForVerticalBlank",
                             "IDirectDrawSurface::Blt"}));

    Adapter().ClearCalls();
    Prepare(2);
    const std::vector<std::string> d3d = Adapter().Calls();
    EXPECT_TRUE(InOrder(d3d, {"DirectDrawCreate", "IDirect3D2::CreateDevice(HAL)",
                              "IDirect3D2::CreateViewport", "IDirect3DDevice2::AddViewport",
                              "IDirect3DDevice2::SetCurrentViewport",
                              "IDirect3DViewport2::SetViewport2", "IDirect3DTexture2::GetHandle"}));
    EXPECT_EQ(form->DDDD1->BackBuffer->Width, 400);
    EXPECT_EQ(form->DDDD1->BackBuffer->Height, 400);
    EXPECT_FALSE(form->DDDD1->FullScreen);
    ASSERT_NE(form->SceneViewport, nullptr);
    ASSERT_TRUE(form->Texture && form->Renderer);
    EXPECT_EQ(form->Texture->Width, 256);
    EXPECT_EQ(form->Renderer->MaxZ, 2);
    EXPECT_EQ(form->Renderer->Capacity, 16);
    // The DirectDraw scene of the earlier set-up is gone.
    EXPECT_FALSE(form->Sprites || form->Layer1 || form->SpriteSheet);
    EXPECT_EQ(Log(), "");
}

TEST_F(SceneTest, HalOptionDecidesTheDeviceOfTheDirect3DSetUp) {
    const struct {
        TD3DOptions options;
        TD3DDeviceKind kind;
        bool card3D = true; // false: no 3-D hardware, whatever the box says
    } cases[] = {{DontUseMMX, TD3DDeviceKind::HAL},
                 {DontUseHAL | DontUseMMX, TD3DDeviceKind::RGBEmulation},
                 {DontUseMMX, TD3DDeviceKind::RGBEmulation, false}};
    for (const auto& c : cases) {
        if (!c.card3D)
            directx::Adapter().Reset();
        TForm3& f = Make(1);
        f.DDDD1->D3DOptions = c.options;
        Prepare(2);
        EXPECT_EQ(f.DDDD1->D3DDeviceKind, c.kind) << int(c.options);
        EXPECT_NE(f.Texture->Handle, 0u);
    }
}

namespace {

// A clock that stands still except where a test moves it; each frame's hook decides.
struct FrameClock {
    DWORD now = 5000;
    ScriptedClock clock{[this](std::uint64_t) { return now; }};
};

} // namespace

TEST_F(SceneTest, DirectDrawRunScoresFramesTimes25AndEndsAtExactly15000) {
    const struct {
        std::int32_t lastStep; // what the clock moves after the 123rd frame
        std::int32_t frames;
        const char* score;
    } cases[] = {
        {15000, 123, "3075"}, {14999, 124, "3100"}, // one millisecond short: one frame more
    };
    for (const auto& c : cases) {
        TForm3& f = Make(1);
        Prepare(1);
        host.directDraw.setText("0");
        FrameClock clock;
        const DWORD start = clock.now;
        std::int32_t lastFrame = 0;
        bool fullScreenDuringRun = false;
        f.FrameHook = [&](int phase) {
            EXPECT_EQ(phase, 0);
            lastFrame = f.FrameNumber;
            fullScreenDuringRun = f.DDDD1->FullScreen && f.DDDD1->ScreenWidth == 640;
            if (f.FrameNumber == 123)
                clock.now = start + static_cast<DWORD>(c.lastStep);
            else if (f.FrameNumber > 123)
                clock.now = start + 15000;
        };
        Show();
        EXPECT_EQ(f.LastFrames(), c.frames);
        EXPECT_EQ(lastFrame, c.frames);
        EXPECT_EQ(host.directDraw.text(), c.score);
        EXPECT_TRUE(fullScreenDuringRun);
        // Back in the 800 x 600 window, the idle handler gone, the window closed.
        EXPECT_FALSE(f.DDDD1->FullScreen);
        EXPECT_EQ(f.DDDD1->ScreenWidth, 800);
        EXPECT_EQ(f.DDDD1->ScreenHeight, 600);
        EXPECT_FALSE(Application->HasOnIdle());
        EXPECT_FALSE(f.isVisible());
        EXPECT_FALSE(f.Timer->isActive());
        // Layer 1 scrolled by the sum of the speeds; layer 3 the other way; layer 4 thrice.
        std::int32_t sum = 0;
        for (std::int32_t n = 1; n <= c.frames; ++n)
            sum += ScrollSpeed(n);
        EXPECT_EQ(f.Layer1->ScrollY, sum);
        EXPECT_EQ(f.Layer2->ScrollX, sum);
        EXPECT_EQ(f.Layer3->ScrollX, -sum);
        EXPECT_EQ(f.Layer4->ScrollY, 3 * sum);
        f.FrameHook = nullptr;
    }
    EXPECT_EQ(Log(), "");
}

TEST_F(SceneTest, SpritesStartSpreadOverTheScreenAndJitterBySpeed) {
    TForm3& f = Make(1);
    Prepare(1);
    FrameClock clock;
    std::vector<std::int32_t> x0;
    int frames = 0;
    std::int32_t maxStep = 0;
    std::vector<std::int32_t> before;
    f.FrameHook = [&](int) {
        std::vector<std::int32_t> now;
        for (int i = 0; i < kSceneSpriteCount; ++i)
            now.push_back(f.Sprites->GetReg(i)->X);
        if (!before.empty())
            for (int i = 0; i < kSceneSpriteCount; ++i)
                maxStep = std::max(maxStep, std::abs(now[i] - before[i]));
        before = now;
        if (++frames == 3)
            clock.now += 15000;
    };
    Show();
    // At speed 1 a step is at most 2 pixels either way.
    EXPECT_LE(maxStep, 2);
    EXPECT_GT(maxStep, 0);
    // The start positions were drawn over 640 x 480: after three frames the sprites are still
    // spread over the screen, not piled at the origin.
    std::int32_t right = 0, low = 0;
    for (int i = 0; i < kSceneSpriteCount; ++i) {
        right = std::max(right, f.Sprites->GetReg(i)->X);
        low = std::max(low, f.Sprites->GetReg(i)->Y);
    }
    EXPECT_GT(right, 500);
    EXPECT_GT(low, 380);
    EXPECT_LT(right, 640 + 6);
    EXPECT_EQ(host.directDraw.text(), "75");
}

TEST_F(SceneTest, Direct3DRunScoresFramesTimes10AcrossFourPhasesOf5000) {
    const struct {
        std::int32_t perPhase[4]; // frames before the clock moves exactly 5000 in each phase
        const char* score;
    } cases[] = {
        {{30, 31, 31, 31}, "1230"},
        {{1, 1, 1, 1}, "40"},
    };
    for (const auto& c : cases) {
        TForm3& f = Make(1);
        Prepare(2);
        FrameClock clock;
        std::vector<int> framesInPhase(5);
        std::vector<DWORD> phaseStarts;
        std::vector<std::int32_t> counted;
        int lastPhase = 0;
        f.FrameHook = [&](int phase) {
            if (phase != lastPhase) {
                phaseStarts.push_back(f.PhaseStart);
                lastPhase = phase;
            }
            EXPECT_EQ(f.SpinClock, clock.now);
            if (++framesInPhase[phase] == c.perPhase[phase - 1])
                clock.now += 5000;
        };
        Show();
        EXPECT_EQ(host.direct3D.text(), c.score);
        for (int phase = 1; phase <= 4; ++phase)
            EXPECT_EQ(framesInPhase[phase], c.perPhase[phase - 1]) << phase;
        // Each phase starts where the one before ended.
        ASSERT_EQ(phaseStarts.size(), 4u);
        for (std::size_t i = 1; i < phaseStarts.size(); ++i)
            EXPECT_EQ(phaseStarts[i] - phaseStarts[i - 1], 5000u);
        EXPECT_FALSE(Application->HasOnIdle());
        EXPECT_FALSE(f.isVisible());
        // The display mode stays the 400 x 400 window.
        EXPECT_EQ(f.DDDD1->ScreenWidth, 400);
        EXPECT_EQ(f.Renderer->Count, 0);
        f.FrameHook = nullptr;
    }
    EXPECT_EQ(Log(), "");
}

TEST_F(SceneTest, Direct3DPhasesDrawTheTextureStretchedOverTheWindow) {
    TForm3& f = Make(1);
    Prepare(2);
    FrameClock clock;
    std::vector<QImage> shots(5);
    f.FrameHook = [&](int phase) {
        if (shots[phase].isNull())
            shots[phase] = f.grab().toImage().convertToFormat(QImage::Format_RGB32);
        clock.now += 5000;
    };
    Show();
    const int w = f.width(), h = f.height();
    ASSERT_EQ(w, ScreenWidth());
    for (int phase = 1; phase <= 4; ++phase) {
        const QImage& shot = shots[phase];
        ASSERT_FALSE(shot.isNull()) << phase;
        EXPECT_EQ(shot.size(), QSize(w, h));
        // The middle of the picture lies in every phase's quad.
        EXPECT_NE(shot.pixel(w / 2, h / 2) & 0xFFFFFF, 0u) << phase;
        for (int other = 1; other < phase; ++other)
            EXPECT_NE(shot, shots[other]) << phase << " " << other;
    }
    // Left of the first phase's square, at target column 20 of 400: the cleared background.
    EXPECT_EQ(shots[1].pixel(w * 20 / 400, h / 2) & 0xFFFFFF, 0u);
}

TEST_F(SceneTest, RepeatedSetUpsAndRunsKeepMemoryFlat) {
    TForm3& f = Make(1);
    auto runBoth = [&] {
        for (std::int32_t mode : {1, 2}) {
            Prepare(mode);
            FrameClock clock;
            f.FrameHook = [&](int) { clock.now += 15000; };
            Show();
        }
    };
    runBoth();
    const std::size_t surfaces = f.DDDD1->SurfaceKeepers.size();
    const std::size_t textures = f.DDDD1->TextureKeepers.size();
    const DWORD videoFree = Adapter().VideoMemoryFree();
    const std::size_t directDraws = Adapter().objects.size();
    EXPECT_EQ(directDraws, 1u);
    EXPECT_EQ(textures, 1u);
    EXPECT_EQ(surfaces, 0u); // the Direct3D set-up keeps only its texture
    for (int i = 0; i < 4; ++i) {
        runBoth();
        EXPECT_EQ(f.DDDD1->SurfaceKeepers.size(), surfaces) << i;
        EXPECT_EQ(f.DDDD1->TextureKeepers.size(), textures) << i;
        EXPECT_EQ(Adapter().VideoMemoryFree(), videoFree) << i;
        EXPECT_EQ(Adapter().objects.size(), directDraws) << i;
    }
    EXPECT_EQ(Log(), "");
}

TEST_F(SceneTest, DestroyingTheWindowReleasesSceneAndEngine) {
    TForm3& f = Make(1);
    Prepare(2);
    ASSERT_NE(f.DDDD1->DirectDraw, nullptr);
    form.reset();
    EXPECT_EQ(Form3, nullptr);
    EXPECT_TRUE(Adapter().objects.empty()); // no DirectDraw object outlives the window
    EXPECT_EQ(Log(), "");
}

namespace {

// The back buffer as a picture (5-6-5 pixels).
QImage BackImage(TDDDD& e) {
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    e.BackBuffer->Surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
    QImage image(static_cast<const uchar*>(desc.lpSurface), int(desc.dwWidth), int(desc.dwHeight),
                 int(desc.lPitch), QImage::Format_RGB16);
    QImage copy = image.copy();
    e.BackBuffer->Surface->Unlock(nullptr);
    return copy;
}

} // namespace

TEST_F(SceneTest, DirectDrawFrameShowsTheTopLayerAndTheLastSpriteOnTop) {
    TForm3& f = Make(1);
    Prepare(1);
    f.show();
    RandSeed = 12345;
    f.PrepareMeasurement();
    TDDDD& e = *f.DDDD1;
    ASSERT_TRUE(e.FullScreen);
    ASSERT_EQ(e.BackBuffer->Width, 640);
    e.ClearBackBuffer();
    f.DrawDirectDrawScene();
    EXPECT_EQ(f.FrameNumber, 1);

    // Which pixels some sprite covers (its whole 32 x 32 cell).
    std::vector<bool> covered(640 * 480);
    for (int i = 0; i < kSceneSpriteCount; ++i) {
        const TDDDDSprReg& r = *f.Sprites->GetReg(i);
        for (int y = std::max(r.Y, 0); y < std::min(r.Y + 32, 480); ++y)
            for (int x = std::max(r.X, 0); x < std::min(r.X + 32, 640); ++x)
                covered[std::size_t(y) * 640 + std::size_t(x)] = true;
    }
    // Where no sprite lies and the top layer's picture is not the key, it shows.
    EXPECT_EQ(f.Layer4->ScrollY, 3);
    int shown = 0, checked = 0;
    for (int y = 0; y < 480; y += 7)
        for (int x = 0; x < 640; x += 5) {
            if (covered[std::size_t(y) * 640 + std::size_t(x)])
                continue;
            const DWORD want = f.Samp3Surface->GetPixel(x % 100, (y + 3) % 100);
            if (want == 0)
                continue;
            ++checked;
            shown += e.BackBuffer->GetPixel(x, y) == want;
        }
    EXPECT_GT(checked, 500);
    EXPECT_EQ(shown, checked);

    // Every sprite's shape is on the sheet; sprite 0 is drawn last of all, on top wherever its
    // shape has pixels.
    std::vector<int> shapes(kSpriteShapes);
    for (int i = 0; i < kSceneSpriteCount; ++i)
        ++shapes.at(std::size_t(f.Sprites->GetReg(i)->IShape));
    for (int s = 0; s < kSpriteShapes; ++s)
        EXPECT_GT(shapes[std::size_t(s)], 0) << s;
    const TDDDDSprReg& first = *f.Sprites->GetReg(0);
    int spritePixels = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const int bx = first.X + x, by = first.Y + y;
            const DWORD want = f.SpriteSheet->GetPixel(32 * first.IShape + x, y);
            if (want == 0 || bx < 0 || by < 0 || bx >= 640 || by >= 480)
                continue;
            ++spritePixels;
            EXPECT_EQ(e.BackBuffer->GetPixel(bx, by), want) << bx << "," << by;
        }
    EXPECT_GT(spritePixels, 50);
    BackImage(e).save(QDir::temp().filePath("zelka-ddraw-frame.png"));
    EXPECT_EQ(Log(), "");
}
