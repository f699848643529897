// A full-screen flipping chain drawn on the GPU (Mesa's llvmpipe taken as hardware) and shown on
// a real X server this test program starts itself (Xvfb, 640 x 480): the presenter draws its
// frames through the GL road, and what the window shows, read back by the presenter and taken
// from the X server, is the frame composed as the software road composes it.
#include "DirectDrawTestSupport.h"
#include "directx/SoftSurface.h"
#include "forms/Application.h"
#include "forms/Forms.h"
#include "forms/Presenter.h"
#include "platform/ProgramFolders.h"
#include "tests/PictureCompare.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

extern char** environ;

namespace {

// Xvfb on a display number it picks itself.
class XServer {
public:
    // The display's name (":N"), or empty with the reason in *why.
    std::string Start(std::string* why) {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty()) {
            *why = "Xvfb is not installed (scripts/setup.sh test installs it)";
            return "";
        }
        int fds[2];
        if (pipe(fds) != 0)
            return "";
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addclose(&files, fds[0]);
        posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&files, 1, 2);
        const std::string fd = std::to_string(fds[1]);
        const char* argv[] = {"Xvfb",       "-displayfd", fd.c_str(), "-screen", "0",
                              "640x480x24", "-nolisten",  "tcp",      nullptr};
        const int failed =
            posix_spawnp(&pid_, "Xvfb", &files, nullptr, const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&files);
        close(fds[1]);
        std::string number;
        char c = 0;
        while (!failed && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (failed || number.empty()) {
            *why = "Xvfb did not start";
            return "";
        }
        return ":" + number;
    }
    ~XServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = 0;
};

std::string& Missing() {
    static std::string missing;
    return missing;
}

// What the X server shows of the window.
QImage ServerImage(QWidget& window) {
    int screen = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screen);
    const QSize size = window.size();
    auto* reply = xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, xcb_window_t(window.winId()), 0, 0,
                      std::uint16_t(size.width()), std::uint16_t(size.height()), ~0u),
        nullptr);
    QImage image;
    if (reply && reply->depth == 24 &&
        xcb_get_image_data_length(reply) >= size.width() * size.height() * 4)
        image = QImage(xcb_get_image_data(reply), size.width(), size.height(), size.width() * 4,
                       QImage::Format_RGB32)
                    .copy();
    free(reply);
    xcb_disconnect(c);
    return image;
}

class GlPresentTest : public DirectDrawTest {
protected:
    void SetUp() override {
        if (!Missing().empty())
            GTEST_SKIP() << Missing();
        road.emplace();
        ASSERT_EQ(road->Failure(), "");
        ASSERT_EQ(gpu::ChosenRoad().device->GetDisplay().Platform(), "x11");
        DirectDrawTest::SetUp();
        CreateDirectDraw();
        screen.emplace();
        screen->setGeometry(0, 0, 640, 480);
        screen->show();
        QCoreApplication::processEvents();
        window = WindowHandle(&*screen);
        ASSERT_EQ(dd->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
    }
    void TearDown() override {
        if (palette)
            palette->Release();
        if (back)
            back->Release();
        if (front) {
            front->Release();
            dd->RestoreDisplayMode();
        }
        if (dd)
            dd->SetCooperativeLevel(window, DDSCL_NORMAL);
        DirectDrawTest::TearDown();
        screen.reset();
        road.reset();
    }
    void EnterMode(int width, int height, int bits) {
        ASSERT_EQ(dd->SetDisplayMode(DWORD(width), DWORD(height), DWORD(bits), 0, 0), DD_OK);
        front = CreatePrimary(DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX, 1);
        DDSCAPS caps{DDSCAPS_BACKBUFFER};
        ASSERT_EQ(front->GetAttachedSurface(&caps, &back), DD_OK);
        ASSERT_TRUE(static_cast<SoftSurface*>(back)->OnGpu());
        if (bits == 8) {
            PALETTEENTRY entries[256];
            for (int i = 0; i < 256; ++i)
                entries[i] = PALETTEENTRY{BYTE(i), BYTE(255 - i), BYTE(i * 7), 0};
            ASSERT_EQ(
                dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, &palette, nullptr),
                DD_OK);
            ASSERT_EQ(front->SetPalette(palette), DD_OK);
        }
    }
    // A frame with detail in every pixel, drawn on the GPU (fills) over pixels written by a lock.
    void DrawFrame(int seed) {
        DDSURFACEDESC desc{};
        desc.dwSize = sizeof desc;
        ASSERT_EQ(back->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
        const int bytes = int(desc.ddpfPixelFormat.dwRGBBitCount / 8);
        for (DWORD y = 0; y < desc.dwHeight; ++y)
            for (DWORD x = 0; x < desc.dwWidth; ++x) {
                const DWORD value = (x * 2654435761u) ^ (y * 40503u) ^ DWORD(seed * 977);
                std::memcpy(static_cast<BYTE*>(desc.lpSurface) + y * desc.lPitch + x * bytes,
                            &value, std::size_t(bytes));
            }
        ASSERT_EQ(back->Unlock(nullptr), DD_OK);
        for (int i = 0; i < 12; ++i) {
            RECT rect{i * 37 + seed, i * 23, i * 37 + seed + 40, i * 23 + 30};
            DDBLTFX fx = FillFx(DWORD(0x1234 * (i + 1) + seed) & 0xFFFF);
            ASSERT_EQ(back->Blt(&rect, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx), DD_OK);
        }
        ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    }
    // The front as a picture, its colours as the software road converts them.
    QImage Source() {
        const TPixelView view = static_cast<SoftSurface*>(front)->View();
        QImage picture(view.bits, view.width, view.height, int(view.pitch),
                       presenting::QtFormat(view.layout));
        if (view.layout == TPixelLayout::Indexed8) {
            QList<QRgb> colors;
            for (int i = 0; i < 256; ++i)
                colors.push_back(0xFF000000u | view.colorTable[i]);
            picture.setColorTable(colors);
        }
        return picture.convertToFormat(QImage::Format_RGB32);
    }
    // Where the picture lands in the window: scaled to fit, aspect kept, centred.
    QRect Dest(QSize picture) const {
        const QSize fitted = picture.scaled(screen->size(), Qt::KeepAspectRatio);
        return QRect(QPoint((screen->width() - fitted.width()) / 2,
                            (screen->height() - fitted.height()) / 2),
                     fitted);
    }
    // The front composed as the software road composes it, at the window's size.
    QImage Expected() {
        const QImage picture = Source();
        QImage composed(screen->size(), QImage::Format_RGB32);
        QPainter painter(&composed);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(composed.rect(), Qt::black);
        painter.drawImage(Dest(picture.size()), picture);
        return composed;
    }
    std::optional<GpuRoad> road;
    std::optional<TForm> screen;
    HWND window = nullptr;
    IDirectDrawSurface* front = nullptr;
    IDirectDrawSurface* back = nullptr;
    IDirectDrawPalette* palette = nullptr;
};

// Each depth the GPU holds, shown 1:1 (exact) and scaled down to the screen (each pixel the
// software road's at its place or next to it: both take the nearest source pixel, and may round
// differently where a pixel centre falls on a source pixel's edge).
TEST_F(GlPresentTest, FramesShowThroughTheGlRoadAsTheSoftwareRoadComposesThem) {
    struct Case {
        int width, height, bits;
        bool exact;
    } cases[] = {{640, 480, 16, true},  {640, 480, 8, true},    {640, 480, 32, true},
                 {800, 600, 16, false}, {1024, 768, 32, false}, {1024, 768, 8, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + "x" +
                     std::to_string(c.bits));
        EnterMode(c.width, c.height, c.bits);
        for (int seed : {1, 2}) {
            DrawFrame(seed);
            QCoreApplication::processEvents();
            const QImage shown = PresentedPicture(window);
            EXPECT_STREQ(presenting::Presenter::Instance().RoadName(&*screen), "gl");
            const QImage expected = Expected();
            ASSERT_EQ(shown.size(), QSize(640, 480));
            if (c.exact) {
                EXPECT_EQ(Mismatches(shown, expected), 0) << "frame " << seed;
            } else {
                const QImage source = Source();
                const QRect dest = Dest(source.size());
                EXPECT_EQ(ScaledMismatches(shown, source, dest), 0) << "frame " << seed;
                // The software road's own picture keeps to the same bound.
                EXPECT_EQ(ScaledMismatches(expected, source, dest), 0) << "frame " << seed;
            }
            // The X server shows what the presenter read back.
            QImage server;
            QElapsedTimer waited;
            waited.start();
            do
                server = ServerImage(*screen);
            while (Mismatches(server, shown) != 0 && waited.elapsed() < 3000);
            EXPECT_EQ(Mismatches(server, shown), 0) << "frame " << seed;
        }
        if (palette)
            palette->Release();
        palette = nullptr;
        back->Release();
        back = nullptr;
        front->Release();
        front = nullptr;
    }
}

// A palette changed without a flip is shown at once on the GL road.
TEST_F(GlPresentTest, APaletteChangeIsShownWithoutAFlip) {
    EnterMode(640, 480, 8);
    DrawFrame(3);
    PresentedPicture(window);
    PALETTEENTRY entries[256];
    for (int i = 0; i < 256; ++i)
        entries[i] = PALETTEENTRY{BYTE(255 - i), BYTE(i * 3), BYTE(i), 0};
    ASSERT_EQ(palette->SetEntries(0, 0, 256, entries), DD_OK);
    const QImage shown = PresentedPicture(window);
    EXPECT_EQ(Mismatches(shown, Expected()), 0);
}

// Where the GL road cannot draw, the window's frames are refused and read back: the X11 road
// shows them from the next flip on.
TEST_F(GlPresentTest, WithoutTheGlRoadFramesAreReadBackForTheX11Road) {
    presenting::Presenter::Instance().FailGlForTests(true);
    EnterMode(640, 480, 16);
    for (int seed : {4, 5}) {
        DrawFrame(seed);
        const QImage shown = PresentedPicture(window);
        if (seed == 5) { // the first flip found the frames not yet refused
            EXPECT_STREQ(presenting::Presenter::Instance().RoadName(&*screen), "x11");
            EXPECT_EQ(Mismatches(shown, Expected()), 0);
        }
    }
    presenting::Presenter::Instance().FailGlForTests(false);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir data;
    qputenv("ZELKA_TEST_DATA_HOME", QFile::encodeName(data.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    CreateProgramDataFolder();
    std::optional<XServer> server(std::in_place);
    const std::string display = server->Start(&Missing());
    if (!display.empty()) {
        qputenv("DISPLAY", display.c_str());
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        if (Missing().empty())
            Missing() = "the X server could not be started";
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int result = 0;
    {
        QApplication qapp(argc, argv);
        TApplication application(/*headless=*/display.empty()); // shown: the GL road is taken
        result = RUN_ALL_TESTS();
    }
    server.reset();
    // ctest counts a run without its X server as skipped.
    constexpr int kSkipped = 77;
    return result == 0 && !Missing().empty() ? kSkipped : result;
}
