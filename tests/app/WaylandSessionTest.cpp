// The program's windows on a real Wayland compositor this test program starts itself (sway,
// headless, with one output of fixed size; as the user nobody where the test runs as root, as
// sway refuses to run as root): the main window floats alone at its designed size with its
// corners showing the desktop, and each graphics test's picture reaches the screen full screen
// through the presenter while the user-interface thread is busy inside the test.
#include "app/Unit1.h"
#include "engine/dddd_log.h"
#include "forms/Application.h"
#include "forms/Fonts.h"
#include "gfxbench/Unit2.h"
#include "gfxbench/Unit3.h"
#include "platform/MMSystem.h"
#include "platform/ProgramFolders.h"
#include "tests/Direct3DShown.h"
#include "tests/PictureCompare.h"
#include "tests/ScopedEnv.h"
#include "tests/directx/FlipChainOnScreen.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr QSize kOutput(1280, 720);
constexpr QRgb kDesktop = qRgb(0x20, 0x40, 0x60);

// sway on its own headless output, in a folder of its own.
class Compositor {
public:
    // Starts it. `missing` says what is not installed, `why` why it did not start.
    bool Start(QString& missing, QString& why) {
        const QString sway = QStandardPaths::findExecutable("sway");
        for (const char* tool : {"sway", "swaymsg", "grim"})
            if (QStandardPaths::findExecutable(tool).isEmpty()) {
                missing =
                    QString("%1 is not installed (scripts/setup.sh test installs it)").arg(tool);
                return false;
            }
        if (!folder_.isValid()) {
            why = "no temporary folder";
            return false;
        }
        const QString runtime = folder_.filePath("runtime");
        QDir().mkpath(runtime);
        QFile::setPermissions(folder_.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                  QFile::ExeOwner | QFile::ReadOther |
                                                  QFile::ExeOther | QFile::ReadGroup |
                                                  QFile::ExeGroup);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile config(folder_.filePath("sway.cfg"));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write(QString("output HEADLESS-1 resolution %1x%2 position 0,0 bg #%3 solid_color\n"
                             "default_border none\nxwayland disable\n")
                         .arg(kOutput.width())
                         .arg(kOutput.height())
                         .arg(kDesktop & 0xFFFFFF, 6, 16, QChar('0'))
                         .toUtf8());
        config.close();
        QFile::setPermissions(config.fileName(), QFile::ReadOwner | QFile::WriteOwner |
                                                     QFile::ReadOther | QFile::ReadGroup);
        std::vector<std::string> args;
        if (geteuid() == 0) {
            // sway refuses root: it runs as nobody, its runtime folder nobody's.
            const passwd* nobody = getpwnam("nobody");
            if (!nobody || chown(QFile::encodeName(runtime).constData(), nobody->pw_uid, 0) != 0) {
                why = "no user nobody to run sway as";
                return false;
            }
            args = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
        }
        for (const char* arg : {"/usr/bin/env", "-i", "PATH=/usr/bin:/bin", "WLR_BACKENDS=headless",
                                "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman"})
            args.emplace_back(arg);
        args.push_back("XDG_RUNTIME_DIR=" + runtime.toStdString());
        args.push_back(sway.toStdString());
        args.push_back("-c");
        args.push_back(config.fileName().toStdString());
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        const std::string log = folder_.filePath("sway.log").toStdString();
        posix_spawn_file_actions_addopen(&files, 1, log.c_str(), O_WRONLY | O_CREAT, 0644);
        posix_spawn_file_actions_adddup2(&files, 1, 2);
        const int failed = posix_spawn(&pid_, argv[0], &files, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&files);
        if (failed) {
            pid_ = 0;
            why = "sway did not start";
            return false;
        }
        // Its socket, once it listens; then its control socket.
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 15000) {
            const QStringList sockets =
                QDir(runtime).entryList({"wayland-*", "sway-ipc.*"}, QDir::System | QDir::Files);
            QString display, control;
            for (const QString& name : sockets)
                if (!name.endsWith(".lock"))
                    (name.startsWith("sway-ipc") ? control : display) = name;
            if (!display.isEmpty() && !control.isEmpty()) {
                QFile::link(QDir(runtime).filePath(display), QDir(runtime).filePath("zelka-wl-0"));
                qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
                qputenv("WAYLAND_DISPLAY", "zelka-wl-0");
                qputenv("SWAYSOCK", QFile::encodeName(QDir(runtime).filePath(control)));
                qunsetenv("DISPLAY");
                return true;
            }
            QThread::msleep(50);
        }
        QFile sayings(QString::fromStdString(log));
        sayings.open(QIODevice::ReadOnly);
        why = "sway did not open its socket: " + QString::fromUtf8(sayings.readAll().right(400));
        return false;
    }
    ~Compositor() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

private:
    QTemporaryDir folder_;
    pid_t pid_ = 0;
};

// Why the tests are skipped (the compositor or a tool is not installed), or fail (it is, but
// did not start).
QString& Missing() {
    static QString missing;
    return missing;
}
QString& Failed() {
    static QString failed;
    return failed;
}

// What the compositor shows now.
QImage Screen() {
    QProcess grim;
    grim.start("grim", {"-t", "ppm", "-"});
    if (!grim.waitForFinished(10000))
        return QImage();
    return QImage::fromData(grim.readAllStandardOutput(), "PPM")
        .convertToFormat(QImage::Format_RGB32);
}

// The mean difference per channel of two pictures of one size, 0 to 255.
double MeanDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return 255;
    std::int64_t sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* p = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* q = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            sum += std::abs(qRed(p[x]) - qRed(q[x])) + std::abs(qGreen(p[x]) - qGreen(q[x])) +
                   std::abs(qBlue(p[x]) - qBlue(q[x]));
    }
    return double(sum) / (3.0 * a.width() * a.height());
}

// Waits, a bounded time, until the screen shows what the window shows; returns the last shot.
// The caller's thread is the user-interface thread and is held here, as a test holds it.
// Both are compared at a quarter of their size, smoothed: the compositor scales with its own
// filter where the window's picture is composed without one (a mean difference of about 6 on
// the DirectDraw scene's detail; a picture a few frames older differs by 30 and more).
constexpr double kSameMean = 12;
QImage ScreenShowing(QWidget& window, double& difference) {
    const auto reduced = [](const QImage& image) {
        return image.scaled(image.size() / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    };
    const QImage shown =
        reduced(PresentedPicture(WindowHandle(&window)).convertToFormat(QImage::Format_RGB32));
    QImage shot;
    QElapsedTimer waited;
    waited.start();
    do {
        shot = Screen();
        difference = MeanDifference(reduced(shot), shown);
    } while (difference > kSameMean && waited.elapsed() < 5000);
    return shot;
}

// The tree's windows (views) with their rectangles.
std::vector<QJsonObject> Views() {
    QProcess swaymsg;
    swaymsg.start("swaymsg", {"-r", "-t", "get_tree"});
    swaymsg.waitForFinished(5000);
    std::vector<QJsonObject> views;
    std::function<void(const QJsonObject&)> walk = [&](const QJsonObject& node) {
        if (node.contains("pid") && node.value("type").toString().endsWith("con"))
            views.push_back(node);
        for (const char* children : {"nodes", "floating_nodes"})
            for (const QJsonValue child : node.value(children).toArray())
                walk(child.toObject());
    };
    walk(QJsonDocument::fromJson(swaymsg.readAllStandardOutput()).object());
    return views;
}

class WaylandSession : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Missing().isEmpty())
            GTEST_SKIP() << Missing().toStdString();
        ASSERT_TRUE(Failed().isEmpty()) << Failed().toStdString();
        ASSERT_EQ(QGuiApplication::platformName(), "wayland");
    }
};

TEST_F(WaylandSession, MainWindowFloatsAloneAtItsDesignedSizeWithRoundedCorners) {
    TForm1 main;
    main.show();
    std::vector<QJsonObject> views;
    QElapsedTimer waited;
    waited.start();
    while (views.empty() && waited.elapsed() < 10000) {
        QApplication::processEvents();
        views = Views();
    }
    ASSERT_EQ(views.size(), 1u);
    EXPECT_EQ(views[0].value("type").toString(), "floating_con");
    const QJsonObject rect = views[0].value("rect").toObject();
    EXPECT_EQ(rect.value("width").toInt(), 595);
    EXPECT_EQ(rect.value("height").toInt(), 442);
    // The desktop shows at the corners outside the rounded shape, the skin inside it.
    const QPoint at(rect.value("x").toInt(), rect.value("y").toInt());
    QImage shot;
    waited.restart();
    do {
        QApplication::processEvents();
        shot = Screen();
    } while (!shot.isNull() && shot.pixel(at + QPoint(297, 221)) == kDesktop &&
             waited.elapsed() < 5000);
    ASSERT_FALSE(shot.isNull());
    for (const QPoint corner : {QPoint(1, 1), QPoint(593, 1), QPoint(1, 440), QPoint(593, 440)})
        EXPECT_EQ(shot.pixel(at + corner), kDesktop) << corner.x() << "," << corner.y();
    EXPECT_NE(shot.pixel(at + QPoint(297, 221)), kDesktop);
    main.hide();
}

TEST_F(WaylandSession, EachGraphicsTestShowsItsPictureFullScreenAndItChanges) {
    struct Case {
        const char* test;
        int frameA, frameB; // the frames during which the screen is shot
    } cases[] = {{"gdi", 10, 40}, {"ddraw", 10, 40}, {"d3d", 10, 40}};
    // The scene's archive in the current folder, the engine's log beside it.
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::copy(QString(ZELKA_APP_DIR) + "/Zelka.dat", dir.filePath("Zelka.dat")));
    ScopedCurrentDir cwd(dir.path());
    SetDebugLogFolderForTests(dir.path().toStdString());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.test);
        TForm1 main;
        TForm2 gdi(main);
        TForm3 scene(main);
        gdi.Timer->setInterval(0);
        scene.Timer->setInterval(0);
        for (QCheckBox* box : {main.cb1, main.cb2, main.cb3, main.cb4, main.cb5})
            box->setChecked(false);
        const std::string test = c.test;
        (test == "gdi" ? main.cb2 : test == "ddraw" ? main.cb3 : main.cb4)->setChecked(true);
        QWidget& window = test == "gdi" ? static_cast<QWidget&>(gdi) : scene;
        main.show();

        DWORD now = 1000;
        ScriptedClock clock([&now](std::uint64_t) { return ++now; });
        int frames = 0;
        QImage shots[2];
        double differences[2] = {255, 255};
        bool fullScreen = false;
        QSize size;
        const auto frame = [&] {
            ++frames;
            if (frames == c.frameA || frames == c.frameB) {
                const int shot = frames == c.frameA ? 0 : 1;
                // Full screen as the compositor shows it (the window's own state is told to it
                // by events this busy thread has not read yet).
                for (const QJsonObject& view : Views())
                    if (view.value("fullscreen_mode").toInt() == 1) {
                        const QJsonObject rect = view.value("rect").toObject();
                        fullScreen = true;
                        size = QSize(rect.value("width").toInt(), rect.value("height").toInt());
                    }
                shots[shot] = ScreenShowing(window, differences[shot]);
                now += 50; // the picture moves on
            }
            if (frames > c.frameB)
                now += 1000000; // the rest of the test runs out
        };
        // The GDI test's sprite frames; the scene's frames of its first phase.
        gdi.StageHook = [&](TGdiStage stage) {
            if (stage == TGdiStage::FrameShown)
                frame();
        };
        scene.FrameHook = [&](int) { frame(); };
        main.Button5Click();

        EXPECT_TRUE(fullScreen);
        EXPECT_EQ(size, kOutput);
        for (int shot : {0, 1}) {
            EXPECT_EQ(shots[shot].size(), kOutput) << shot;
            EXPECT_LE(differences[shot], kSameMean)
                << shot; // the screen shows the window's picture
        }
        EXPECT_GT(MeanDifference(shots[0], shots[1]), 0.1); // and it moved
        main.hide();
    }
    SetDebugLogFolderForTests("");
}

// A full-screen flipping chain drawn on the GPU (llvmpipe taken as hardware) with pictures shown:
// the drawing context is on the compositor's EGL display, the presenter draws the frames into a
// sub-surface of its own through EGL, and the screen shows exactly what it read back, which is
// the frame scaled to the output (each pixel the nearest source pixel or one next to it).
class WaylandGl : public FlipChainOnScreen {
protected:
    void SetUp() override {
        if (!Missing().isEmpty())
            GTEST_SKIP() << Missing().toStdString();
        shown.emplace(/*headless=*/false); // pictures are shown: the compositor's display
        Start("wayland", kOutput);
    }
    void TearDown() override {
        FlipChainOnScreen::TearDown();
        shown.reset();
    }
    std::optional<TApplication> shown;
};

TEST_F(WaylandGl, AGpuFlippingChainShowsThroughTheGlRoad) {
    EnterMode(640, 480, 16);
    for (int seed : {1, 2}) {
        DrawFrame(seed);
        const QImage picture = PresentedPicture(window);
        EXPECT_STREQ(presenting::Presenter::Instance().RoadName(&*screen), "gl");
        EXPECT_EQ(Mismatches(picture, Source(), Dest(Source().size()), 1), 0) << seed;
        QImage shot;
        QElapsedTimer waited;
        waited.start();
        do {
            QApplication::processEvents(); // the window itself is mapped once Qt paints it
            shot = Screen();
        } while (Mismatches(shot, picture) != 0 && waited.elapsed() < 5000);
        EXPECT_EQ(Mismatches(shot, picture), 0) << seed;
    }
}

// The Direct3D test started from the main window with the hardware device on the GPU: its back
// buffer stretched over its full-screen window by the GL road, exactly as the compositor shows it.
class WaylandGlScene : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Missing().isEmpty())
            GTEST_SKIP() << Missing().toStdString();
        shown.emplace(/*headless=*/false); // pictures are shown: the compositor's display
    }
    std::optional<TApplication> shown;
};

TEST_F(WaylandGlScene, ADirect3DRunShowsItsStretchedPictureThroughTheGlRoad) {
    GpuRoad road;
    ASSERT_EQ(road.Failure(), "");
    std::vector<int> offScreen; // pixels the compositor shows otherwise, at each look
    const auto onScreen = [&](const QImage& shown) {
        QImage shot;
        QElapsedTimer waited;
        waited.start();
        do
            shot = Screen();
        while (Mismatches(shot, shown) != 0 && waited.elapsed() < 5000);
        offScreen.push_back(Mismatches(shot, shown));
    };
    ExpectDirect3DShown(RunDirect3DShown(QString(ZELKA_APP_DIR) + "/Zelka.dat", onScreen), "gl");
    EXPECT_EQ(offScreen, std::vector<int>(4, 0)); // full screen, 1:1
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    InstallFontAliases();
    QTemporaryDir data;
    qputenv("ZELKA_TEST_DATA_HOME", QFile::encodeName(data.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    CreateProgramDataFolder();
    std::optional<Compositor> compositor(std::in_place);
    if (compositor->Start(Missing(), Failed())) {
        qputenv("QT_QPA_PLATFORM", "wayland");
    } else {
        if (Missing().isEmpty() && Failed().isEmpty())
            Failed() = "the compositor could not be started";
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int result = 0;
    {
        QApplication qapp(argc, argv);
        TApplication application(/*headless=*/true);
        result = RUN_ALL_TESTS();
    }
    compositor.reset();
    // ctest counts a run without its compositor as skipped.
    constexpr int kSkipped = 77;
    return result == 0 && !Missing().isEmpty() ? kSkipped : result;
}
