// A full-screen flipping chain drawn on the GPU (llvmpipe taken as hardware) and shown on an X
// server this program starts itself (Xvfb, 640 x 480): the presenter draws its frames through the
// GL road, and what it read back, and what the X server holds, is the frame composed as the
// software road composes it. And the Direct3D test's picture, stretched over its window.
#include "FlipChainOnScreen.h"
#include "forms/Application.h"
#include "platform/ProgramFolders.h"
#include "tests/Direct3DShown.h"
#include "tests/PictureCompare.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <xcb/xcb.h>

namespace {

QString& Missing() {
    static QString missing;
    return missing;
}

// What the X server shows of the window.
QImage ServerImage(QWidget& window) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    auto* reply = xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, xcb_window_t(window.winId()), 0, 0,
                      std::uint16_t(window.width()), std::uint16_t(window.height()), ~0u),
        nullptr);
    QImage image;
    if (reply && xcb_get_image_data_length(reply) >= window.width() * window.height() * 4)
        image =
            QImage(xcb_get_image_data(reply), window.width(), window.height(), QImage::Format_RGB32)
                .copy();
    free(reply);
    xcb_disconnect(c);
    return image;
}

class GlPresentTest : public FlipChainOnScreen {
protected:
    void SetUp() override {
        if (!Missing().isEmpty())
            GTEST_SKIP() << Missing().toStdString();
        Start("x11", QSize(640, 480));
    }
};

// Each depth the GPU holds, shown 1:1 (exact) and scaled down to the screen (each pixel the
// nearest source pixel or one next to it, for the software road's picture as for this one),
// and an 8-bit frame's new palette shown without a flip.
TEST_F(GlPresentTest, FramesShowThroughTheGlRoadAsTheSoftwareRoadComposesThem) {
    struct Case {
        int width, height, bits;
    } cases[] = {{640, 480, 16}, {640, 480, 8},   {640, 480, 32},
                 {800, 600, 16}, {1024, 768, 32}, {1024, 768, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.bits));
        EnterMode(c.width, c.height, c.bits);
        for (int seed : {1, 2}) {
            DrawFrame(seed);
            if (seed == 2 && palette) {
                PALETTEENTRY entries[256];
                for (int i = 0; i < 256; ++i)
                    entries[i] = PALETTEENTRY{BYTE(255 - i), BYTE(i * 3), BYTE(i), 0};
                ASSERT_EQ(palette->SetEntries(0, 0, 256, entries), DD_OK);
            }
            const QImage shown = PresentedPicture(window);
            EXPECT_STREQ(presenting::Presenter::Instance().RoadName(&*screen), "gl");
            const int slack = c.width == 640 ? 0 : 1; // exact at 1:1
            EXPECT_EQ(Mismatches(shown, Source(), Dest(Source().size()), slack), 0) << seed;
            EXPECT_EQ(Mismatches(Expected(), Source(), Dest(Source().size()), slack), 0);
            // The X server shows what the presenter read back.
            QElapsedTimer waited;
            waited.start();
            while (Mismatches(ServerImage(*screen), shown) && waited.elapsed() < 3000)
                QCoreApplication::processEvents();
            EXPECT_EQ(Mismatches(ServerImage(*screen), shown), 0) << seed;
        }
        LeaveMode();
    }
}

// Where the GL road cannot draw, the frames are refused and read back: the X11 road shows them.
TEST_F(GlPresentTest, WithoutTheGlRoadFramesAreReadBackForTheX11Road) {
    presenting::Presenter::Instance().FailGlForTests(true);
    EnterMode(640, 480, 16);
    for (int seed : {4, 5}) {
        DrawFrame(seed);
        const QImage shown = PresentedPicture(window);
        EXPECT_STREQ(presenting::Presenter::Instance().RoadName(&*screen), "x11");
        EXPECT_EQ(Mismatches(shown, Expected()), 0) << seed;
    }
    presenting::Presenter::Instance().FailGlForTests(false);
}

// The Direct3D test started from the main window: the hardware device's back buffer, on the
// GPU, stretched over its window by the GL road; without the road, read back for the X11 road.
TEST(GlPresentScene, ADirect3DRunShowsItsStretchedPictureThroughTheGlRoad) {
    if (!Missing().isEmpty())
        GTEST_SKIP() << Missing().toStdString();
    for (const bool glRoad : {true, false}) {
        SCOPED_TRACE(glRoad ? "gl" : "without it");
        presenting::Presenter::Instance().FailGlForTests(!glRoad);
        GpuRoad road;
        ASSERT_EQ(road.Failure(), "");
        ExpectDirect3DShown(RunDirect3DShown(ZELKA_DAT_PATH), glRoad ? "gl" : "x11");
        EXPECT_TRUE(presenting::Presenter::Instance().GlRoadTaken());
    }
    presenting::Presenter::Instance().FailGlForTests(false);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    CreateProgramDataFolder();
    QProcess server; // Xvfb on a display number it picks and tells
    server.start("Xvfb", {"-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"});
    const bool started = server.waitForReadyRead(10000);
    if (started) {
        qputenv("DISPLAY", ":" + server.readLine().trimmed());
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        Missing() = "Xvfb did not start (scripts/setup.sh test installs it)";
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int result = 0;
    {
        QApplication qapp(argc, argv);
        TApplication application(/*headless=*/!started); // shown: the GL road is taken
        result = RUN_ALL_TESTS();
    }
    server.terminate();
    server.waitForFinished();
    // ctest counts a run without its X server as skipped.
    return result == 0 && !Missing().isEmpty() ? 77 : result;
}
