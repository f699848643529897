// The engine on a form: first activation, re-initialisation, checked steps, fall-backs,
// presenting and restoring, with the pictures of the test archive as a demo.
#include "EngineTestSupport.h"
#include "forms/Dialogs.h"
#include "forms/Forms.h"
#include "platform/SystemParameters.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QSize>
#include <array>
#include <cstdlib>
#include <tuple>

using directx::Adapter;

namespace {

class InitializeTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        form.resize(800, 600);
        SetTraceSinkForTests([this](const std::string& t) { traces.push_back(t); });
    }
    void TearDown() override {
        if (engine2)
            DropCutShortSetUp(*engine2);
        engine2.reset();
        EngineTest::TearDown();
    }
    TDDDD& Make() {
        engine2 = std::make_unique<TDDDD>(&form);
        engine2->OnInit = [this](void*, bool needChange) { inits.push_back(needChange); };
        engine2->OnCleanUp = [this](void*) { ++cleanUps; };
        engine2->OnChangeDisplayMode = [this](void*) { ++changes; };
        engine2->OnRestore = [this](void*) { ++restores; };
        return *engine2;
    }
    bool Traced(const std::string& text) const {
        return std::find(traces.begin(), traces.end(), text) != traces.end();
    }
    QImage Grab() {
        QApplication::processEvents();
        return form.grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    TForm form;
    std::unique_ptr<TDDDD> engine2;
    std::vector<bool> inits;
    std::vector<std::string> traces;
    int cleanUps = 0, changes = 0, restores = 0;
};

TEST_F(InitializeTest, FirstActivationSetsUpTheWantedWindowedMode) {
    TDDDD& e = Make();
    e.SetDisplayMode(dmWin800x600x16);
    EXPECT_EQ(e.DirectDraw, nullptr); // nothing initialised while the form loads
    form.CreationEnded();
    EXPECT_EQ(inits, std::vector<bool>{false});
    EXPECT_EQ(e.State(), TDDDDState::Initialized);
    EXPECT_EQ(e.ScreenWidth, 800);
    ASSERT_NE(e.BackBuffer, nullptr);
    EXPECT_EQ(e.BackBuffer->Width, 800);
    EXPECT_NE(e.Clipper, nullptr);
    EXPECT_EQ(e.Palette, nullptr);
    EXPECT_EQ(e.PixelFormat.RShift, 11);
    EXPECT_EQ(e.PixelFormat.GLoss, 2);
    EXPECT_TRUE(Traced("スクリーンモード128 x 128 x 16 として初期化を開始します"));
    EXPECT_TRUE(Traced("PixelFormat: RMask=0000f800 GMask=000007e0 BMask=0000001f"));
    EXPECT_EQ(cleanUps, 0); // the first activation's set-ups invalidate nothing
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(Log(), "");
}

TEST_F(InitializeTest, WithoutAutomaticModeTheSmallSetUpStays) {
    TDDDD& e = Make();
    e.AutoDisplayModeInitialize = false;
    e.SetDisplayMode(dmWin800x600x16);
    form.CreationEnded();
    EXPECT_EQ(inits, std::vector<bool>{true});
    EXPECT_EQ(e.ScreenWidth, 128);
    EXPECT_EQ(e.BackBuffer->Width, 128);
}

TEST_F(InitializeTest, DesktopDepthIsCheckedAtTheFirstActivation) {
    struct Case {
        const char* environment; // ZELKA_DESKTOP_BPP, read when the adapter is reset
        int desktop;             // else the depth set directly
        TDDDDDispMode mode;
        bool automatic;
        const char* warning; // nullptr: no box, the set-up goes on
    };
    const Case cases[] = {
        {"32", 0, dmWin800x600x16, true,
         "画面モードが不適切です 色数を16ビットにして起動し直してください"},
        {nullptr, 24, dmWin800x600x16, true,
         "画面モードが不適切です 色数を16ビットにして起動し直してください"},
        {nullptr, 16, dmWin640x480x24, true,
         "画面モードが不適切です 色数を24ビットにして起動し直してください"},
        {nullptr, 16, dmWin800x600x16, true, nullptr},
        {"32", 0, dmFull640x480x16, true, nullptr}, // full screen sets its own depth
        {"32", 0, dmWin800x600x16, false, nullptr}, // no automatic mode, no check
    };
    const char* saved = std::getenv("ZELKA_DESKTOP_BPP");
    const std::string savedValue = saved ? saved : "";
    for (const Case& c : cases) {
        if (c.environment) {
            setenv("ZELKA_DESKTOP_BPP", c.environment, 1);
            Adapter().Reset();
        } else {
            Adapter().SetDesktopBitCount(c.desktop);
        }
        TDDDD& e = Make();
        e.SetDisplayMode(c.mode);
        e.AutoDisplayModeInitialize = c.automatic;
        BoxRecorder boxes;
        form.show();
        if (c.warning) {
            EXPECT_THROW(form.CreationEnded(), Halted) << c.warning;
            ASSERT_EQ(boxes.boxes.size(), 1u);
            EXPECT_EQ(boxes.boxes[0].kind, BoxKind::Warning);
            EXPECT_EQ(boxes.boxes[0].caption.toStdString(), "警告");
            EXPECT_EQ(boxes.boxes[0].text.toStdString(), c.warning);
            EXPECT_FALSE(form.isVisible()); // hidden before the box
            EXPECT_TRUE(inits.empty());     // the program ends before OnInit
        } else {
            form.CreationEnded();
            EXPECT_TRUE(boxes.boxes.empty()) << int(c.mode);
            EXPECT_EQ(inits.size(), 1u) << int(c.mode);
        }
        if (saved)
            setenv("ZELKA_DESKTOP_BPP", savedValue.c_str(), 1);
        else
            unsetenv("ZELKA_DESKTOP_BPP");
        inits.clear();
        TearDown();
        SetUp();
    }
}

TEST_F(InitializeTest, ReinitialisingCleansUpAndRebuildsOnceEach) {
    TDDDD& e = Make();
    e.SetDisplayMode(dmWin800x600x16);
    form.show();
    form.CreationEnded();
    TDDDDSurface picture(&e, 100, 100, 0);
    picture.LoadFromArchive(ZELKA_DAT_PATH, "samp4.bmp");
    const DWORD before = picture.GetPixel(50, 50);

    e.SetDisplayMode(dmFull640x480x16);
    EXPECT_EQ(cleanUps, 1);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(e.FullScreen);
    EXPECT_EQ(e.Clipper, nullptr);
    EXPECT_EQ((Adapter().CurrentMode() == directx::DisplayMode{640, 480, 16}), true);
    EXPECT_EQ(picture.GetPixel(50, 50), before); // rebuilt and loaded again
    EXPECT_TRUE(Traced("サーフェスを再構築します"));

    e.SetDisplayMode(dmWin800x600x16);
    EXPECT_EQ(cleanUps, 2);
    EXPECT_EQ(changes, 2);
    EXPECT_FALSE(e.FullScreen);
    EXPECT_EQ(picture.GetPixel(50, 50), before);
    EXPECT_EQ(Log(), "");
}

TEST_F(InitializeTest, CheckedStepsLogTheirLineAndHalt) {
    struct Case {
        const char* method;
        int bits;
        const char* line;
    };
    const Case cases[] = {
        {"DirectDrawCreate", 16, "DirectDrawオブジェクトが作成できません(Error Code(80004005))"},
        {"IDirectDraw2::SetCooperativeLevel", 16,
         "協調レベルの設定に失敗しました(Error Code(80004005))"},
        {"IDirectDraw2::CreateClipper", 16,
         "Clipperオブジェクトの作成に失敗しました(Error Code(80004005))"},
        {"IDirectDrawClipper::SetHWnd", 16,
         "Clipperのフォームへの割り当てに失敗しました(Error Code(80004005))"},
        {"IDirectDrawSurface::SetClipper", 16,
         "Clipperのプライマリサーフェスへの割り当てに失敗しました(Error Code(80004005))"},
        {"IDirectDraw2::CreatePalette", 8,
         "DirectDrawPaletteの作成に失敗しました(Error Code(80004005))"},
        {"IDirectDrawSurface::SetPalette", 8,
         "DirectDrawPaletteのFrontBufferへの割り当てに失敗しました(Error Code(80004005))"},
        {"IDirectDraw2::CreateSurface", 16,
         "プライマリ・サーフェスの作成に失敗しました(Error Code(80004005))"},
    };
    for (const Case& c : cases) {
        Adapter().SetDesktopBitCount(c.bits);
        TDDDD& e = Make();
        e.AutoDisplayModeInitialize = false;
        Adapter().FailNext(c.method, 1, DDERR_GENERIC);
        EXPECT_THROW(form.CreationEnded(), Halted) << c.method;
        EXPECT_EQ(Log(), std::string("debug#00001 ... ") + c.line + "\r\n") << c.method;
        TearDown();
        SetUp();
    }
}

TEST_F(InitializeTest, LifeCycleOnlyMovesForward) {
    TDDDD& e = Make();
    e.AutoDisplayModeInitialize = false;
    std::vector<TDDDDState> seen{e.State()};
    int rebuiltTextures = 0;
    e.OnInit = [&](void*, bool) {
        seen.push_back(e.State());
        // A mode set while OnInit runs is made, without cleaning up or rebuilding.
        e.SetDisplayMode(dmWin640x480x16);
    };
    e.OnChangeDisplayMode = [&](void*) { ++rebuiltTextures; };
    e.OnDestroy = [&](void*) { seen.push_back(e.State()); };
    form.CreationEnded();
    seen.push_back(e.State());
    EXPECT_EQ(std::make_pair(cleanUps, rebuiltTextures), std::make_pair(0, 0));
    EXPECT_EQ(e.ScreenWidth, 640);
    // A window made again is no first set-up: no OnInit, but a clean-up and a rebuild.
    form.CreationEnded();
    seen.push_back(e.State());
    EXPECT_EQ(std::make_pair(cleanUps, rebuiltTextures), std::make_pair(1, 1));
    engine2.reset();
    using S = TDDDDState;
    EXPECT_EQ(seen, (std::vector<S>{S::PendingFirstInit, S::FirstInit, S::Initialized,
                                    S::Initialized, S::Destroying}));
}

TEST_F(InitializeTest, UnlistedFullScreenModeLeavesTheChoiceToOnInit) {
    TDDDD& e = Make();
    e.SetDisplayMode(dmFull640x480x16);
    // A driver that lists no modes at all.
    Adapter().FailNext("IDirectDraw2::EnumDisplayModes", 1, DDERR_GENERIC);
    form.CreationEnded();
    EXPECT_EQ(inits, std::vector<bool>{true});
    EXPECT_FALSE(e.PrimarySurface == nullptr);
    EXPECT_EQ(e.BackBuffer->Width, 128);
}

TEST_F(InitializeTest, FullScreenChecksLogTheirLine) {
    struct Case {
        const char* method;
        const char* line;
    };
    const Case cases[] = {
        {"IDirectDraw2::SetDisplayMode",
         "画面モード640x480x16の初期化に失敗しました(Error Code(80004005))"},
        {"IDirectDrawSurface::GetAttachedSurface",
         "バックバッファの作成に失敗しました(Error Code(80004005))"},
        {"IDirectDraw2::CreateSurface",
         "プライマリ・サーフェスの作成に失敗しました(Error Code(80004005))"},
    };
    for (const Case& c : cases) {
        TDDDD& e = Make();
        e.AutoDisplayModeInitialize = false;
        form.CreationEnded();
        Adapter().FailNext(c.method, 1, DDERR_GENERIC);
        EXPECT_THROW(e.InitializeScreen(true, 640, 480, 16, 0, ""), Halted) << c.method;
        EXPECT_EQ(Log(), std::string("debug#00001 ... ") + c.line + "\r\n");
        TearDown();
        SetUp();
    }
}

TEST_F(InitializeTest, DriversAreChosenByNameOrByTheirThreeDCapability) {
    directx::DriverEntry second = directx::DisplayAdapter::PrimaryDriver();
    second.guid = GUID{0x1234, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
    second.description = "Second Card";
    second.name = "second";
    second.surfaceCaps |= DDSCAPS_TEXTURE;
    second.hardwareCaps |= DDCAPS_3D;
    Adapter().SetDrivers({directx::DisplayAdapter::PrimaryDriver(), second});
    TDDDD& e = Make();
    ASSERT_EQ(e.Drivers.size(), 2u);
    EXPECT_EQ(e.Drivers[1], "Second Card (second)");
    IDirectDraw* found = e.FindDriverByName("Second Card (second)");
    ASSERT_NE(found, nullptr);
    found->Release();
    EXPECT_EQ(e.FindDriverByName("Second Card"), nullptr);

    e.AutoDisplayModeInitialize = false;
    form.CreationEnded();
    e.InitializeScreen(true, 640, 480, 16, 0, "Missing (none)");
    EXPECT_TRUE(
        Traced("指定されたドライバが見つからなかったので、デフォルトのドライバを使用します"));
    e.Use3D = true;
    traces.clear();
    e.InitializeScreen(true, 640, 480, 16, 0, "");
    EXPECT_TRUE(Traced("Enumerated DDraw Driver ... Second Card"));
    EXPECT_EQ(Log(), "");
}

TEST_F(InitializeTest, PresentClipsAnUnscaledCopyToTheScreen) {
    TDDDD& e = Make();
    e.AllowRakugaki = true;
    e.VsyncAtWindowed = false;
    e.AutoDisplayModeInitialize = false;
    form.show();
    form.CreationEnded();
    e.InitializeScreen(false, 800, 600, 16, 0, "");
    EXPECT_EQ(e.Clipper, nullptr); // no clipper when scribbling on the screen is allowed
    e.BackColor = 0xF800;
    e.ClearBackBuffer();
    Adapter().RecordCalls(true);
    e.Present();
    const auto& calls = Adapter().Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "IDirectDrawSurface::BltFast"), calls.end());
    EXPECT_EQ(std::find(calls.begin(), calls.end(), "IDirectDraw2::WaitForVerticalBlank"),
              calls.end());
}

// A 16-bit pixel of a surface, read through a lock; 0xFFFFFFFF when it cannot be locked.
DWORD PixelAt(IDirectDrawSurface* surface, int x, int y) {
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    if (surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != DD_OK)
        return 0xFFFFFFFF;
    const auto* row = static_cast<const BYTE*>(desc.lpSurface) + y * desc.lPitch;
    const DWORD value = reinterpret_cast<const WORD*>(row)[x];
    surface->Unlock(nullptr);
    return value;
}

TEST_F(InitializeTest, WindowedPresentClipsAWindowPartlyOffTheScreen) {
    const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    ASSERT_GT(screenW, 300);
    ASSERT_GT(screenH, 200);
    constexpr int backW = 200, backH = 100;
    struct Case {
        bool rakugaki;
        bool keepClipper; // false: only the engine's own clipping keeps the copy on the screen
        int scale;        // the window's client area is the back buffer times this
        int left, top;
    };
    const Case cases[] = {
        {true, false, 1, -50, -30},                    // unscaled copy, off the top left
        {true, false, 1, screenW - 120, screenH - 60}, // unscaled copy, off the bottom right
        {false, true, 1, -50, -30},                    // stretch through the clipper
        {false, true, 2, screenW - 150, screenH - 90},
        {false, false, 1, -50, -30},                    // clipped stretch, off the top left
        {false, false, 1, screenW - 120, screenH - 60}, // clipped stretch, off the bottom right
        {false, false, 2, -100, -50},                   // source cut in proportion
        {false, false, 2, screenW - 150, screenH - 90},
    };
    for (const Case& c : cases) {
        const int winW = backW * c.scale, winH = backH * c.scale;
        form.resize(winW, winH);
        form.show();
        form.move(c.left, c.top);
        QApplication::processEvents();
        TDDDD& e = Make();
        e.AllowRakugaki = c.rakugaki;
        e.VsyncAtWindowed = false;
        e.AutoDisplayModeInitialize = false;
        form.CreationEnded();
        e.InitializeScreen(false, backW, backH, 16, 0, "");
        // The platform's frame moves the client area a little; it stays partly off the screen.
        POINT origin{};
        ClientToScreen(e.Window, &origin);
        const int left = origin.x, top = origin.y;
        ASSERT_TRUE(c.left < 0 ? left < 0 && top < 0
                               : left + winW > screenW && top + winH > screenH)
            << left << "," << top;
        // Every back-buffer pixel is different: 1 + its index.
        DDSURFACEDESC desc{};
        desc.dwSize = sizeof desc;
        IDirectDrawSurface* back = e.BackBuffer->Surface;
        ASSERT_EQ(back->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
        for (int y = 0; y < backH; ++y)
            for (int x = 0; x < backW; ++x)
                reinterpret_cast<WORD*>(static_cast<BYTE*>(desc.lpSurface) + y * desc.lPitch)[x] =
                    static_cast<WORD>(1 + y * backW + x);
        back->Unlock(nullptr);
        IDirectDrawSurface* primary = e.PrimarySurface->Surface;
        DDBLTFX fx{};
        fx.dwSize = sizeof fx;
        primary->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
        if (!c.keepClipper)
            primary->SetClipper(nullptr);
        e.Present();

        // The visible part of the client area, in screen coordinates.
        const int visLeft = std::max(left, 0), visTop = std::max(top, 0);
        const int visRight = std::min(left + winW, screenW);
        const int visBottom = std::min(top + winH, screenH);
        auto expected = [&](int sx, int sy) {
            const int bx = (sx - left) / c.scale, by = (sy - top) / c.scale;
            return DWORD(1 + by * backW + bx);
        };
        const POINT inside[] = {{visLeft, visTop},
                                {visRight - 1, visTop},
                                {visLeft, visBottom - 1},
                                {visRight - 1, visBottom - 1},
                                {(visLeft + visRight) / 2, (visTop + visBottom) / 2}};
        for (const POINT& p : inside)
            EXPECT_EQ(PixelAt(primary, p.x, p.y), expected(p.x, p.y))
                << c.rakugaki << c.keepClipper << " x" << c.scale << " at " << left << "," << top
                << ": " << p.x << "," << p.y;
        // Nothing lands beside the window.
        const POINT beside[] = {
            {visLeft - 1, visTop}, {visRight, visTop}, {visLeft, visTop - 1}, {visLeft, visBottom}};
        for (const POINT& p : beside) {
            if (p.x >= 0 && p.y >= 0 && p.x < screenW && p.y < screenH) {
                EXPECT_EQ(PixelAt(primary, p.x, p.y), 0u)
                    << c.rakugaki << c.keepClipper << " x" << c.scale << ": " << p.x << "," << p.y;
            }
        }
        EXPECT_EQ(Log(), "");
        TearDown();
        SetUp();
    }
}

TEST_F(InitializeTest, BackBufferFallsBackFromVideoMemory) {
    Adapter().SetVideoMemory(0);
    TDDDD& e = Make();
    e.SetDisplayMode(dmWin800x600x16);
    form.CreationEnded();
    DDSCAPS caps{};
    e.BackBuffer->Surface->GetCaps(&caps);
    EXPECT_TRUE(caps.dwCaps & DDSCAPS_SYSTEMMEMORY);
    EXPECT_TRUE(
        Traced("バックバッファをドライバのデフォルトの位置(おそらくビデオメモリ)に配置します"));
    EXPECT_EQ(Log(), "");
}

TEST_F(InitializeTest, BackBufferRefusedInBothMemoriesHalts) {
    struct Case {
        TDDDDBackBufferMemoryType location;
        DWORD videoMemory;
    };
    // Wider than any surface can be: the request fails in video memory and in system memory.
    const Case cases[] = {{bmtDefault, 0}, {bmtDefault, 64u << 20}, {bmtVideoMemory, 64u << 20}};
    for (const Case& c : cases) {
        Adapter().SetVideoMemory(c.videoMemory);
        TDDDD& e = Make();
        e.AutoDisplayModeInitialize = false;
        e.BackBufferLocationAtWindowed = c.location;
        form.CreationEnded();
        Adapter().RecordCalls(true);
        EXPECT_THROW(e.InitializeScreen(false, 9000, 100, 16, 0, ""), Halted);
        EXPECT_EQ(Log(),
                  "debug#00001 ... バックバッファの作成に失敗しました(Error Code(887601E0))\r\n");
        const auto& calls = Adapter().Calls();
        // The primary surface and two back-buffer attempts; nothing after them.
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "IDirectDraw2::CreateSurface"), 3);
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "IDirectDraw2::CreateClipper"), 0);
        EXPECT_EQ(e.ScreenWidth, 128); // the mode was never recorded
        TearDown();
        SetUp();
    }
}

TEST_F(InitializeTest, PaintRestoresUnlessBusy) {
    TDDDD& e = Make();
    e.SetDisplayMode(dmWin800x600x16);
    form.show();
    form.activateWindow();
    QApplication::processEvents();
    form.CreationEnded();
    if (!form.Active())
        GTEST_SKIP() << "no active window on this platform";
    const int before = restores;
    Adapter().LoseAllSurfaces();
    e.Busy = true;
    e.FormPaintHook(&form);
    EXPECT_TRUE(e.BackBuffer->IsLost());
    EXPECT_EQ(restores, before);
    e.Busy = false;
    e.FormPaintHook(&form);
    EXPECT_FALSE(e.BackBuffer->IsLost());
    EXPECT_EQ(restores, before + 1);
}

TEST_F(InitializeTest, ModesListedByTheDriver) {
    TDDDD& e = Make();
    e.AutoDisplayModeInitialize = false;
    form.CreationEnded();
    struct Case {
        int w, h, bits;
        bool listed;
    };
    const Case cases[] = {{640, 480, 16, true},
                          {0, 0, 24, true},
                          {1024, 768, 0, true},
                          {641, 480, 16, false},
                          {640, 480, 15, false}};
    for (const Case& c : cases)
        EXPECT_EQ(e.IsDisplayModeAvailable(c.w, c.h, c.bits, 0), c.listed) << c.w << "x" << c.bits;
}

TEST_F(InitializeTest, ScreenSaverIsHeldOffWhileTheEngineLives) {
    BOOL active = 0;
    {
        TDDDD& e = Make();
        e.Loaded();
        SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
        EXPECT_EQ(active, 0);
        engine2.reset();
    }
    SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
    EXPECT_EQ(active, 1);
}

TEST_F(InitializeTest, WindowProcedureHandlesItsMessagesAndChains) {
    std::vector<UINT> seen;
    form.WindowProc = [&](TMessage& m) { seen.push_back(m.Msg); };
    TDDDD& e = Make();
    int menuIn = 0, menuOut = 0;
    e.OnEnterMenuLoop = [&](void*) { ++menuIn; };
    e.OnExitMenuLoop = [&](void*) { ++menuOut; };
    e.SetDisplayMode(dmWin800x600x16);
    form.CreationEnded();
    seen.clear();
    form.Perform(WM_ENTERMENULOOP, 0, 0);
    form.Perform(WM_EXITMENULOOP, 0, 0);
    form.Perform(WM_PALETTECHANGED, 0, 0);
    MINMAXINFO info{};
    form.Perform(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMaxTrackSize.x, 0); // windowed: left alone
    EXPECT_EQ(menuIn, 1);
    EXPECT_EQ(menuOut, 1);
    EXPECT_EQ(seen, (std::vector<UINT>{WM_ENTERMENULOOP, WM_EXITMENULOOP, WM_PALETTECHANGED,
                                       WM_GETMINMAXINFO}));
    engine2.reset();
    seen.clear();
    form.Perform(WM_MOVE, 0, 0);
    EXPECT_EQ(seen, std::vector<UINT>{WM_MOVE}); // the previous procedure is back
}

TEST_F(InitializeTest, FullScreenKeepsTheFormOverTheWholeScreen) {
    TDDDD& e = Make();
    e.SetDisplayMode(dmWin800x600x16);
    form.show();
    form.CreationEnded();
    e.SetDisplayMode(dmFull640x480x16);
    QApplication::processEvents();

    form.move(30, 40);
    QApplication::processEvents();
    EXPECT_EQ(form.pos(), QPoint(0, 0));

    // The form covers the screen the mode's picture is shown on.
    const QSize screen(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    form.resize(300, 200);
    QApplication::processEvents();
    form.showMaximized();
    QApplication::processEvents();
    EXPECT_FALSE(form.isMaximized());
    EXPECT_TRUE(form.isFullScreen()); // asked of the window system, not only sized
    EXPECT_EQ(form.size(), screen);
    EXPECT_EQ(form.pos(), QPoint(0, 0));

    MINMAXINFO info{};
    form.Perform(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    for (const POINT& p : {info.ptMaxSize, info.ptMinTrackSize, info.ptMaxTrackSize}) {
        EXPECT_EQ(p.x, screen.width());
        EXPECT_EQ(p.y, screen.height());
    }
    EXPECT_EQ(info.ptMaxPosition.x, 0);
    EXPECT_EQ(info.ptMaxPosition.y, 0);

    // Back in a window the form goes where it is put.
    e.SetDisplayMode(dmWin800x600x16);
    QApplication::processEvents();
    EXPECT_FALSE(form.isFullScreen());
    form.move(30, 40);
    QApplication::processEvents();
    EXPECT_EQ(form.pos(), QPoint(30, 40));
    MINMAXINFO windowed{};
    form.Perform(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&windowed));
    EXPECT_EQ(windowed.ptMaxTrackSize.x, 0);
    EXPECT_EQ(Log(), "");
}

TEST_F(InitializeTest, VariableWindowModeTakesTheFormsClientSize) {
    Adapter().SetDesktopBitCount(32); // no depth check: the window takes the desktop's depth
    form.resize(500, 300);
    TDDDD& e = Make();
    e.SetDisplayMode(dmWinVariable);
    form.CreationEnded();
    EXPECT_EQ(inits, std::vector<bool>{false});
    EXPECT_FALSE(e.FullScreen);
    EXPECT_EQ(e.ScreenWidth, 500);
    EXPECT_EQ(e.ScreenHeight, 300);
    EXPECT_EQ(e.BitCount, 32);
    ASSERT_NE(e.BackBuffer, nullptr);
    EXPECT_EQ(e.BackBuffer->Width, 500);
    EXPECT_EQ(e.BackBuffer->Height, 300);

    form.resize(320, 200);
    e.SetDisplayMode(dmWinVariable);
    EXPECT_EQ(e.BackBuffer->Width, 320);
    EXPECT_EQ(e.BackBuffer->Height, 200);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(Log(), "");
}

TEST_F(InitializeTest, DemoShowsTheArchivePicturesInEveryMode) {
    TDDDD& e = Make();
    e.BackColor = 0x0010; // dark blue in 5-6-5
    e.SetDisplayMode(dmWin800x600x16);
    form.show();
    form.CreationEnded();
    struct Picture {
        const char* entry;
        int w, h;
    };
    const Picture pictures[] = {{"samp4.bmp", 100, 100},
                                {"boss2.bmp", 256, 256},
                                {"samp3.bmp", 100, 100},
                                {"samp5.bmp", 160, 32}};
    std::vector<std::unique_ptr<TDDDDSurface>> surfaces;
    for (const Picture& p : pictures) {
        surfaces.push_back(std::make_unique<TDDDDSurface>(&e, p.w, p.h, 0));
        surfaces.back()->LoadFromArchive(ZELKA_DAT_PATH, p.entry);
    }
    auto frame = [&](const char* name) {
        e.ClearBackBuffer();
        int x = 20;
        for (auto& s : surfaces) {
            s->DrawFast(x, 40, RECT{0, 0, s->Width, s->Height}, DDBLTFAST_SRCCOLORKEY);
            x += s->Width + 10;
        }
        e.Present();
        const QImage shot = Grab();
        shot.save(QDir::temp().filePath(QString("zelka-engine-%1.png").arg(name)));
        return shot;
    };
    const QImage windowed = frame("window800");
    EXPECT_EQ(windowed.width(), 800);
    EXPECT_EQ(windowed.pixel(5, 5), qRgb(0, 0, 0x84));
    e.SetDisplayMode(dmFull640x480x16);
    const QImage full = frame("full640");
    EXPECT_TRUE(e.FullScreen);
    e.SetDisplayMode(dmWin800x600x16);
    const QImage back = frame("window800again");
    EXPECT_EQ(back.size(), windowed.size()); // the window has its place back
    EXPECT_EQ(back.pixel(5, 5), qRgb(0, 0, 0x84));
    EXPECT_EQ(Log(), "");
    surfaces.clear();
}

} // namespace

namespace {

TEST_F(InitializeTest, PaletteUpdatesInBothScreens) {
    Adapter().SetDesktopBitCount(8);
    TDDDD& e = Make();
    e.AutoDisplayModeInitialize = false;
    form.CreationEnded();
    e.InitializeScreen(false, 320, 240, 8, 0, "");
    ASSERT_NE(e.Palette, nullptr);
    const PALETTEENTRY staticColour = Adapter().systemPalette[5];
    for (auto& entry : e.PaletteEntries)
        entry = PALETTEENTRY{1, 2, 3, 0};
    e.UpdatePalette();
    EXPECT_EQ(Adapter().systemPalette[10].peGreen, 2);
    EXPECT_EQ(Adapter().systemPalette[245].peBlue, 3);
    EXPECT_EQ(Adapter().systemPalette[5].peRed, staticColour.peRed); // static colours stay
    // What the primary shows follows: its palette holds the new colours and the static ones.
    IDirectDrawPalette* shown = nullptr;
    ASSERT_EQ(e.PrimarySurface->Surface->GetPalette(&shown), DD_OK);
    std::array<PALETTEENTRY, 256> entries{};
    shown->GetEntries(0, 0, 256, entries.data());
    shown->Release();
    EXPECT_EQ(std::tie(entries[10].peRed, entries[10].peGreen, entries[245].peBlue),
              std::make_tuple(BYTE{1}, BYTE{2}, BYTE{3}));
    EXPECT_EQ(entries[5].peRed, staticColour.peRed);

    e.InitializeScreen(true, 640, 480, 8, 0, "");
    Adapter().FailNext("IDirectDrawPalette::SetEntries", 1, DDERR_GENERIC);
    EXPECT_THROW(e.UpdatePalette(), Halted);
    EXPECT_EQ(Log(), "debug#00001 ... パレットが更新できませんでした(Error Code(80004005))\r\n");
}

} // namespace

namespace {

TEST_F(InitializeTest, AnObjectStillHeldAtItsLastReleaseHalts) {
    // A reference the engine does not know of (a driver that keeps one) makes its last
    // release return 1, which counts as a failed release.
    using Held = IUnknown* (*)(TDDDD&);
    const Held cases[] = {[](TDDDD& e) -> IUnknown* { return e.DirectDraw2; },
                          [](TDDDD& e) -> IUnknown* { return e.DirectDraw; }};
    for (const Held held : cases) {
        TDDDD& e = Make();
        e.AutoDisplayModeInitialize = false;
        form.CreationEnded();
        held(e)->AddRef();
        EXPECT_THROW(e.InitializeScreen(false, 320, 240, 16, 0, ""), Halted);
        EXPECT_EQ(Log(),
                  "debug#00001 ... DirectDrawオブジェクトの解放に失敗しました(Error Code(1))\r\n");
        TearDown();
        SetUp();
    }
}

} // namespace
