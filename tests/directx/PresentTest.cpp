// Presenting into real windows: windowed blits under a clipper, palettes, full-screen flips,
// losing surfaces with the focus, the virtual vertical blank.
#include "DirectDrawTestSupport.h"
#include "directx/d3d.h"
#include "forms/Forms.h"
#include "platform/MMSystem.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QImage>
#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <utility>
#include <vector>

namespace {

QRgb At(QWidget& window, int x, int y) {
    return window.grab().toImage().pixel(x, y) & 0xFFFFFF;
}

class PresentTest : public DirectDrawTest {
protected:
    void SetUp() override {
        DirectDrawTest::SetUp();
        form.setGeometry(50, 40, 200, 150);
        form.show();
        QCoreApplication::processEvents();
        window = WindowHandle(&form);
    }
    void Fill(IDirectDrawSurface* s, DWORD value, RECT* rect = nullptr) {
        DDBLTFX fx = FillFx(value);
        ASSERT_EQ(s->Blt(rect, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx), DD_OK);
    }
    TForm form;
    HWND window = nullptr;
};

TEST_F(PresentTest, WindowedBltLandsInTheClipperWindow) {
    CreateDirectDraw();
    IDirectDrawSurface* primary = CreatePrimary();
    IDirectDrawClipper* clipper = nullptr;
    ASSERT_EQ(dd->CreateClipper(0, &clipper, nullptr), DD_OK);
    ASSERT_EQ(clipper->SetHWnd(0, window), DD_OK);
    ASSERT_EQ(primary->SetClipper(clipper), DD_OK);
    IDirectDrawSurface* picture = CreatePlain(100, 100);
    RECT left{0, 0, 50, 100}, right{50, 0, 100, 100};
    Fill(picture, 0xF800, &left);  // red
    Fill(picture, 0x001F, &right); // blue

    // Stretched over the client area, given in screen coordinates.
    POINT origin{};
    ClientToScreen(window, &origin);
    EXPECT_EQ(origin.x, 50);
    EXPECT_EQ(origin.y, 40);
    RECT dest{50, 40, 250, 190};
    ASSERT_EQ(primary->Blt(&dest, picture, nullptr, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(At(form, 20, 20), 0xFF0000u);
    EXPECT_EQ(At(form, 180, 130), 0x0000FFu);

    // A rectangle partly off the window is clipped to it; the rest of the screen is untouched.
    Fill(picture, 0x07E0); // green
    RECT partly{0, 0, 100, 100};
    ASSERT_EQ(primary->Blt(&partly, picture, nullptr, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(At(form, 0, 0), 0x00FF00u);
    EXPECT_EQ(At(form, 49, 59), 0x00FF00u);
    EXPECT_EQ(At(form, 50, 10), 0xFF0000u); // still the earlier picture
    EXPECT_EQ(ReadPixel(primary, 10, 10), 0u);
    EXPECT_EQ(ReadPixel(primary, 60, 50), 0x07E0u);
    // A rectangle off the window draws nothing and succeeds.
    RECT away{400, 400, 450, 450};
    EXPECT_EQ(primary->Blt(&away, picture, nullptr, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(ReadPixel(primary, 410, 410), 0u);
    // BltFast does not clip.
    EXPECT_EQ(primary->BltFast(60, 50, picture, nullptr, 0), DDERR_BLTFASTCANTCLIP);

    picture->Release();
    primary->Release();
    EXPECT_EQ(clipper->Release(), 0u);
}

TEST_F(PresentTest, PalettisedDesktopShowsThePaletteColours) {
    Adapter().SetDesktopBitCount(8);
    CreateDirectDraw();
    ASSERT_EQ(dd->SetCooperativeLevel(window, DDSCL_NORMAL), DD_OK);
    IDirectDrawSurface* primary = CreatePrimary();
    PALETTEENTRY entries[256] = {};
    entries[5] = PALETTEENTRY{0, 255, 0, 0};
    IDirectDrawPalette* palette = nullptr;
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT, entries, &palette, nullptr), DD_OK);
    ASSERT_EQ(primary->SetPalette(palette), DD_OK);
    IDirectDrawSurface* picture = CreatePlain(200, 150);
    Fill(picture, 5);
    // Without a clipper the picture goes to the cooperative window, unclipped but within it.
    ASSERT_EQ(primary->BltFast(50, 40, picture, nullptr, DDBLTFAST_WAIT), DD_OK);
    EXPECT_EQ(At(form, 100, 75), 0x00FF00u);
    PALETTEENTRY blue{0, 0, 255, 0};
    ASSERT_EQ(palette->SetEntries(0, 5, 1, &blue), DD_OK);
    EXPECT_EQ(At(form, 100, 75), 0x0000FFu);
    picture->Release();
    primary->Release();
    palette->Release();
}

TEST_F(PresentTest, FullScreenFlipShowsTheModeScaledAndFocusLossLosesSurfaces) {
    CreateDirectDraw();
    EXPECT_EQ(dd->SetCooperativeLevel(nullptr, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN),
              DDERR_INVALIDPARAMS);
    ASSERT_EQ(dd->SetCooperativeLevel(window, 0x53), DD_OK);
    ASSERT_EQ(dd->SetDisplayMode(640, 480, 16, 0, 0), DD_OK);
    EXPECT_EQ(dd->SetDisplayMode(641, 480, 16, 0, 0), DDERR_INVALIDMODE);
    IDirectDrawSurface* front =
        CreatePrimary(DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX, 1);
    DDSCAPS caps{DDSCAPS_BACKBUFFER};
    IDirectDrawSurface* back = nullptr;
    ASSERT_EQ(front->GetAttachedSurface(&caps, &back), DD_OK);
    const QRect screen(0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(form.geometry(), screen);
    form.setGeometry(0, 0, 640, 480); // the program sizes its window in the mode's pixels
    EXPECT_EQ(form.geometry(), screen);

    Fill(back, 0x07E0);
    ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    EXPECT_EQ(At(form, 400, 300), 0x00FF00u);
    EXPECT_EQ(ReadPixel(back, 0, 0), 0u); // the old front
    Fill(back, 0xF800);
    EXPECT_EQ(At(form, 400, 300), 0x00FF00u); // not shown before the flip
    ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    EXPECT_EQ(At(form, 10, 590), 0xFF0000u);
    EXPECT_EQ(back->Flip(nullptr, 0), DDERR_NOTFLIPPABLE);
    // Flipping back to the memory GDI draws on: a no-op now, one flip back after one more.
    ASSERT_EQ(dd->FlipToGDISurface(), DD_OK);
    EXPECT_EQ(At(form, 400, 300), 0xFF0000u);
    ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    EXPECT_EQ(At(form, 400, 300), 0x00FF00u);
    ASSERT_EQ(dd->FlipToGDISurface(), DD_OK);
    EXPECT_EQ(At(form, 400, 300), 0xFF0000u);
    EXPECT_EQ(ReadPixel(back, 0, 0), 0x07E0u);

    // Another window taking the focus loses the full-screen surfaces.
    QEvent deactivate(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(&form, &deactivate);
    EXPECT_EQ(front->IsLost(), DDERR_SURFACELOST);
    EXPECT_EQ(back->IsLost(), DDERR_SURFACELOST);
    EXPECT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DDERR_SURFACELOST);
    EXPECT_EQ(front->Restore(), DD_OK);
    EXPECT_EQ(back->IsLost(), DD_OK);

    // Releasing DirectDraw restores the desktop mode and the window.
    back->Release();
    dd->Release();
    dd = nullptr;
    dd1->Release();
    dd1 = nullptr;
    EXPECT_EQ(Adapter().CurrentMode(), Adapter().DesktopMode());
    EXPECT_EQ(form.geometry(), QRect(50, 40, 200, 150));
    EXPECT_EQ(front->IsLost(), DDERR_SURFACELOST);
    front->Release();
}

TEST_F(PresentTest, ScaledPresentKeepsTheAspect) {
    std::vector<DWORD> pixels(200 * 50, 0x00FF8000u);
    TPixelView view{{reinterpret_cast<const std::uint8_t*>(pixels.data()), 800, 200, 50},
                    TPixelLayout::XRGB8888,
                    nullptr};
    PresentScaledToWindow(window, view); // 4:1 into 4:3
    EXPECT_EQ(At(form, 100, 20), 0u);
    EXPECT_EQ(At(form, 100, 75), 0xFF8000u);
    EXPECT_EQ(At(form, 100, 130), 0u);
}

// A moving square, presented in a window and in full screen; the grabs are kept as PNGs.
TEST_F(PresentTest, MovingPictureInAWindowAndFullScreen) {
    CreateDirectDraw();
    ASSERT_EQ(dd->SetCooperativeLevel(window, DDSCL_NORMAL), DD_OK);
    IDirectDrawSurface* primary = CreatePrimary();
    IDirectDrawClipper* clipper = nullptr;
    dd->CreateClipper(0, &clipper, nullptr);
    clipper->SetHWnd(0, window);
    primary->SetClipper(clipper);
    IDirectDrawSurface* back = CreatePlain(200, 150);
    for (int frame = 0; frame < 4; ++frame) {
        Fill(back, 0x001F);
        RECT square{10 + frame * 40, 50, 50 + frame * 40, 90};
        Fill(back, 0xFFFF, &square);
        RECT dest{50, 40, 250, 190};
        ASSERT_EQ(primary->Blt(&dest, back, nullptr, DDBLT_WAIT, nullptr), DD_OK);
        const QImage shot = form.grab().toImage();
        EXPECT_EQ(shot.pixel(30 + frame * 40, 70) & 0xFFFFFF, 0xFFFFFFu) << frame;
        EXPECT_EQ(shot.pixel(30 + ((frame + 2) % 4) * 40, 70) & 0xFFFFFF, 0x0000FFu) << frame;
        if (frame == 2)
            shot.save(QDir::temp().filePath("zelka-present_window.png"));
    }
    back->Release();
    primary->Release();
    clipper->Release();

    ASSERT_EQ(dd->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
    ASSERT_EQ(dd->SetDisplayMode(640, 480, 16, 0, 0), DD_OK);
    IDirectDrawSurface* front =
        CreatePrimary(DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX, 1);
    DDSCAPS caps{DDSCAPS_BACKBUFFER};
    ASSERT_EQ(front->GetAttachedSurface(&caps, &back), DD_OK);
    // The mode's picture is scaled to the screen with its aspect kept, centred.
    const double scale = std::min(form.width() / 640.0, form.height() / 480.0);
    const double left = (form.width() - 640 * scale) / 2, top = (form.height() - 480 * scale) / 2;
    for (int frame = 0; frame < 4; ++frame) {
        Fill(back, 0x0010);
        RECT square{40 + frame * 120, 200, 120 + frame * 120, 280};
        Fill(back, 0xF81F, &square);
        ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
        const QImage shot = form.grab().toImage();
        EXPECT_EQ(shot.pixel(int(left + (80 + frame * 120) * scale), int(top + 240 * scale)) &
                      0xFFFFFF,
                  0xFF00FFu)
            << frame;
        if (frame == 1)
            shot.save(QDir::temp().filePath("zelka-present_fullscreen.png"));
    }
    back->Release();
    front->Release();
}

TEST_F(DirectDrawTest, VerticalBlankWaitsForTheNextSixtiethOfASecond) {
    CreateDirectDraw();
    struct Case {
        std::vector<DWORD> readings;
        std::uint64_t reads;
    };
    const std::vector<Case> cases = {
        {{10, 12, 15, 17, 900}, 4}, // next blank at 17 ms
        {{16, 17, 900}, 2},
        {{17, 20, 33, 34, 900}, 4},                 // at a blank already: the next one, 34 ms
        {{0xFFFFFFFEu, 0xFFFFFFFFu, 3, 4, 900}, 4}, // across the wrap of the counter
    };
    for (const Case& c : cases) {
        ScriptedClock clock([&](std::uint64_t n) {
            return n < c.readings.size() ? c.readings[n] : c.readings.back() + DWORD(n);
        });
        EXPECT_EQ(dd->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr), DD_OK);
        EXPECT_EQ(clock.Reads(), c.reads) << c.readings.front();
    }
    EXPECT_EQ(dd->WaitForVerticalBlank(0x80, nullptr), DDERR_INVALIDPARAMS);
}

} // namespace

namespace {

// One-colour 4 x 3 picture in 0x00RRGGBB pixels.
struct Plain {
    explicit Plain(DWORD rgb) { std::fill(std::begin(pixels), std::end(pixels), rgb); }
    TPixelView View() const {
        TPixelView view;
        view.bits = reinterpret_cast<const std::uint8_t*>(pixels);
        view.width = 4;
        view.height = 3;
        view.pitch = 16;
        view.layout = TPixelLayout::XRGB8888;
        return view;
    }
    DWORD pixels[12];
};

} // namespace

TEST_F(PresentTest, PresenterShowsTheNewestPictureAndNothingOldAfterAChange) {
    const Plain red(0xFF0000), green(0x00FF00), blue(0x0000FF);
    // Handed over in a burst: the newest is what the screen shows, scaled with its aspect.
    PresentScaledToWindow(window, red.View());
    PresentScaledToWindow(window, green.View());
    PresentScaledToWindow(window, blue.View());
    QImage shown = PresentedPicture(window);
    ASSERT_EQ(shown.size(), QSize(200, 150));
    EXPECT_EQ(shown.pixel(100, 75) & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(shown.pixel(0, 0) & 0xFFFFFF, 0x0000FFu); // 4:3 into 4:3: no bars

    // A piece handed over after a full picture replaces it; the rest of the window is black.
    PresentStretchedToWindow(window, RECT{0, 0, 100, 75}, red.View(), RECT{0, 0, 4, 3});
    shown = PresentedPicture(window);
    EXPECT_EQ(shown.pixel(99, 74) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(shown.pixel(150, 100) & 0xFFFFFF, 0u);

    // The window changes size, or is hidden: what it showed is gone, not kept in a corner or
    // stretched.
    const struct {
        const char* change;
        std::function<void()> apply;
    } changes[] = {
        {"resize", [&] { form.resize(300, 200); }},
        {"hide", [&] { form.hide(); }},
    };
    for (const auto& c : changes) {
        form.show();
        PresentScaledToWindow(window, green.View());
        shown = PresentedPicture(window);
        EXPECT_EQ(shown.pixel(shown.width() / 2, shown.height() / 2) & 0xFFFFFF, 0x00FF00u)
            << c.change;
        c.apply();
        QCoreApplication::processEvents();
        shown = PresentedPicture(window);
        EXPECT_EQ(shown.pixel(shown.width() / 2, shown.height() / 2) & 0xFFFFFF, 0u) << c.change;
        EXPECT_EQ(shown.pixel(shown.width() - 1, shown.height() - 1) & 0xFFFFFF, 0u) << c.change;
    }
}
namespace {

// A full-screen flipping chain at 640x480 and what the presenter shows of it.
class FlipChainTest : public PresentTest {
protected:
    // Pure colours survive every depth: 8 bits through the palette (entry k + 1), 16 as 565.
    static constexpr QRgb kColours[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0xFF00FF, 0xFFFF00};

    void Start(int bits, DWORD backBuffers, DWORD extraCaps = 0) {
        depth = bits;
        CreateDirectDraw();
        ASSERT_EQ(dd->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
        ASSERT_EQ(dd->SetDisplayMode(640, 480, DWORD(bits), 0, 0), DD_OK);
        front = CreatePrimary(DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | extraCaps,
                              backBuffers);
        DDSCAPS caps{DDSCAPS_BACKBUFFER};
        ASSERT_EQ(front->GetAttachedSurface(&caps, &back), DD_OK);
        PALETTEENTRY entries[256] = {};
        for (std::size_t k = 0; k < std::size(kColours); ++k)
            entries[k + 1] = {BYTE(qRed(kColours[k])), BYTE(qGreen(kColours[k])),
                              BYTE(qBlue(kColours[k])), 0};
        if (bits == 8) {
            ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT, entries, &palette, nullptr), DD_OK);
            ASSERT_EQ(front->SetPalette(palette), DD_OK);
        }
    }
    void TearDown() override {
        for (IUnknown* object : std::initializer_list<IUnknown*>{back, front, palette, dd, dd1})
            if (object)
                object->Release();
        front = back = nullptr;
        palette = nullptr;
        dd = nullptr;
        dd1 = nullptr;
        PresentTest::TearDown();
    }
    DWORD Raw(std::size_t k) const {
        const QRgb c = kColours[k];
        return depth == 8 ? DWORD(k + 1)
               : depth == 16
                   ? DWORD(qRed(c) >> 3) << 11 | DWORD(qGreen(c) >> 2) << 5 | qBlue(c) >> 3
                   : DWORD(c & 0xFFFFFF);
    }
    // The colour all over the mode's picture, scaled with its aspect kept.
    void ExpectShown(QRgb colour, const char* when) {
        const QImage shown = PresentedPicture(window);
        const double scale = std::min(shown.width() / 640.0, shown.height() / 480.0);
        const int left = int((shown.width() - 640 * scale) / 2 + 1);
        const int top = int((shown.height() - 480 * scale) / 2 + 1);
        const int right = int(left + 640 * scale - 3), bottom = int(top + 480 * scale - 3);
        for (const QPoint p : {QPoint(left, top), QPoint(right, bottom), QPoint(left, bottom),
                               QPoint((left + right) / 2, (top + bottom) / 2)})
            EXPECT_EQ(shown.pixel(p) & 0xFFFFFF, colour & 0xFFFFFF) << when << " depth " << depth;
    }
    int depth = 16;
    IDirectDrawSurface* front = nullptr;
    IDirectDrawSurface* back = nullptr;
    IDirectDrawPalette* palette = nullptr;
};

TEST_F(FlipChainTest, EveryFlipShowsTheNewFrontNotTheFrameBeingDrawn) {
    for (const auto& [bits, backBuffers] : {std::pair{16, 1u}, {16, 2u}, {32, 3u}, {8, 1u}}) {
        Start(bits, backBuffers);
        const std::size_t next = std::size(kColours) - 1; // the next frame's colour
        for (std::size_t k = 0; k < next; ++k) {
            Fill(back, Raw(k));
            ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
            Fill(back, Raw(next)); // drawn at once, while the presenter may be reading
            ExpectShown(kColours[k], "after a flip");
        }
        for (std::size_t k = 0; k < 50; ++k) { // a burst: the newest front shows
            Fill(back, Raw(k % next));
            ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
        }
        ExpectShown(kColours[49 % next], "after a burst");
        TearDown();
        SetUp();
    }
}

TEST_F(FlipChainTest, PaletteChangesAndWritesToTheFrontShowWithoutAFlip) {
    Start(8, 1);
    Fill(back, Raw(0));
    ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    PALETTEENTRY blue{0, 0, 255, 0};
    ASSERT_EQ(palette->SetEntries(0, 1, 1, &blue), DD_OK);
    ExpectShown(0x0000FF, "palette changed");
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    ASSERT_EQ(front->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    std::memset(desc.lpSurface, int(Raw(3)), std::size_t(desc.lPitch) * desc.dwHeight);
    ASSERT_EQ(front->Unlock(nullptr), DD_OK);
    ExpectShown(kColours[3], "written through a lock");
    Fill(front, Raw(4));
    ExpectShown(kColours[4], "filled");
    Fill(back, Raw(0)); // the memory GDI draws on, flipped back to
    ASSERT_EQ(dd->FlipToGDISurface(), DD_OK);
    ExpectShown(0x0000FF, "flipped to GDI");
}

// Direct3D drawing into a picture on the screen: the drawing shows, and it is not undone by
// copies that were handed to the presenter earlier.
struct SurfaceDevice {
    SurfaceDevice(IDirectDraw2* dd, IDirectDrawSurface* target, int width, int height) {
        EXPECT_EQ(dd->QueryInterface(IID_IDirect3D2, reinterpret_cast<void**>(&d3d)), DD_OK);
        EXPECT_EQ(d3d->CreateDevice(IID_IDirect3DRGBDevice, target, &device), DD_OK);
        EXPECT_EQ(d3d->CreateViewport(&viewport, nullptr), DD_OK);
        EXPECT_EQ(device->AddViewport(viewport), DD_OK);
        EXPECT_EQ(device->SetCurrentViewport(viewport), DD_OK);
        D3DVIEWPORT2 vp{44, 0, 0, DWORD(width), DWORD(height), 0, 0, float(width), float(height),
                        0,  1};
        EXPECT_EQ(viewport->SetViewport2(&vp), DD_OK);
    }
    ~SurfaceDevice() {
        viewport->Release();
        device->Release();
        d3d->Release();
    }
    void Quad(float l, float t, float r, float b, D3DCOLOR colour) {
        D3DTLVERTEX quad[] = {{l, t, 0.5f, 0.5f, colour, 0, 0, 0},
                              {r, t, 0.5f, 0.5f, colour, 0, 1, 0},
                              {l, b, 0.5f, 0.5f, colour, 0, 0, 1},
                              {r, b, 0.5f, 0.5f, colour, 0, 1, 1}};
        EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, quad, 4, D3DDP_WAIT),
                  DD_OK);
    }
    IDirect3D2* d3d = nullptr;
    IDirect3DDevice2* device = nullptr;
    IDirect3DViewport2* viewport = nullptr;
};

TEST_F(FlipChainTest, Direct3DDrawingIntoTheFrontShowsWithoutAFlip) {
    Start(16, 1, DDSCAPS_3DDEVICE);
    Fill(back, Raw(0));
    ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    ExpectShown(kColours[0], "flipped");
    {
        SurfaceDevice screen(dd, front, 640, 480);
        screen.Quad(0, 0, 640, 480, 0xFF000000 | kColours[2]);
        ExpectShown(kColours[2], "drawn into the front");
        D3DRECT all{0, 0, 640, 480};
        ASSERT_EQ(screen.viewport->Clear(1, &all, D3DCLEAR_TARGET), DD_OK);
        ExpectShown(0, "cleared");
    }
}

TEST_F(PresentTest, Direct3DDrawingOnAWindowedPrimaryComesAfterTheCopiesBeforeIt) {
    CreateDirectDraw();
    IDirectDrawSurface* primary = CreatePrimary(DDSCAPS_PRIMARYSURFACE | DDSCAPS_3DDEVICE);
    IDirectDrawClipper* clipper = nullptr;
    ASSERT_EQ(dd->CreateClipper(0, &clipper, nullptr), DD_OK);
    ASSERT_EQ(clipper->SetHWnd(0, window), DD_OK);
    ASSERT_EQ(primary->SetClipper(clipper), DD_OK);
    IDirectDrawSurface* picture = CreatePlain(40, 40);
    Fill(picture, 0xF800); // red, copied into the window's corner (at 50, 40 on the screen)
    RECT corner{50, 40, 90, 80};
    ASSERT_EQ(primary->Blt(&corner, picture, nullptr, DDBLT_WAIT, nullptr), DD_OK);
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    ASSERT_EQ(primary->GetSurfaceDesc(&desc), DD_OK);
    {
        SurfaceDevice screen(dd, primary, int(desc.dwWidth), int(desc.dwHeight));
        screen.Quad(60, 50, 70, 60, 0xFF0000FF); // blue, over the copy
    }
    EXPECT_EQ(ReadPixel(primary, 65, 55), 0x001Fu);
    EXPECT_EQ(ReadPixel(primary, 85, 75), 0xF800u);
    picture->Release();
    clipper->Release();
    primary->Release();
}

// The chain goes while the presenter has a flip still to read: it must not read freed memory.
TEST_F(FlipChainTest, ChainEndingBeforeTheRefreshKeepsTheLastPictureRead) {
    const std::pair<const char*, std::function<void()>> endings[] = {
        {"front released",
         [this] {
             std::exchange(back, nullptr)->Release(), std::exchange(front, nullptr)->Release();
         }},
        {"DirectDraw released",
         [this] { std::exchange(dd, nullptr)->Release(), std::exchange(dd1, nullptr)->Release(); }},
        {"mode changed", [this] { ASSERT_EQ(dd->SetDisplayMode(800, 600, 16, 0, 0), DD_OK); }},
        {"focus lost",
         [this] {
             QEvent deactivate(QEvent::WindowDeactivate);
             QCoreApplication::sendEvent(&form, &deactivate);
         }},
    };
    for (const auto& [how, end] : endings) {
        Start(16, 1);
        Fill(back, Raw(0));
        ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
        ExpectShown(kColours[0], how);
        Fill(back, Raw(1));
        ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
        end();
        // The flip read before the end, or the earlier picture kept; black once the window
        // left full screen.
        const QImage shown = PresentedPicture(window);
        const QRgb centre = shown.pixel(shown.width() / 2, shown.height() / 2) & 0xFFFFFF;
        EXPECT_TRUE(dd ? centre == kColours[0] || centre == kColours[1] : centre == 0) << how;
        TearDown();
        SetUp();
    }
}

} // namespace
