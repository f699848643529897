// The start command's DirectDraw and Direct3D steps, the HAL option, the machine-readable
// results, and one whole run of the program's windows on a fast clock.
#include "app/CommandLine.h"
#include "app/HeadlessRun.h"
#include "app/Program.h"
#include "app/Unit1.h"
#include "directx/DisplayAdapter.h"
#include "engine/dddd_log.h"
#include "forms/Application.h"
#include "forms/Dialogs.h"
#include "forms/Halt.h"
#include "gfxbench/Unit2.h"
#include "gfxbench/Unit3.h"
#include "platform/MMSystem.h"
#include "platform/Shell.h"
#include "platform/SysUtils.h"
#include "tests/QtPrinters.h"
#include "tests/ScopedEnv.h"
#include "tests/app/AppTestSupport.h"
#include "tests/gfxbench/SceneFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using SceneWindowTest = SceneFolderTest;

QString Printed(const std::function<int(std::FILE*)>& run, int* exitCode) {
    QTemporaryFile out;
    EXPECT_TRUE(out.open());
    std::FILE* file = fdopen(dup(out.handle()), "w");
    *exitCode = run(file);
    std::fclose(file);
    out.seek(0);
    return QString::fromUtf8(out.readAll());
}

} // namespace

TEST_F(SceneWindowTest, StartCommandRunsDirectDrawThenDirect3DOnTheSceneWindow) {
    const struct {
        bool directDraw, direct3D;
        const char* panel3;
        const char* panel4;
        std::int32_t testMode; // after the command
        const char* panel20;
    } cases[] = {
        {true, false, "25", "7", 1, "6"}, // (25 + 7) div 5
        {false, true, "3", "40", 2, "8"},
        {true, true, "25", "40", 2, "13"},
    };
    for (const auto& c : cases) {
        TForm1 main;
        TForm3 scene(main);
        scene.Timer->setInterval(0);
        for (QCheckBox* box : {main.cb1, main.cb2, main.cb5})
            box->setChecked(false);
        main.cb3->setChecked(c.directDraw);
        main.cb4->setChecked(c.direct3D);
        main.Panel3->setText("3");
        main.Panel4->setText("7");
        const QRect before = scene.geometry();
        QRect duringDirectDraw, duringDirect3D;
        bool fullScreenDuring[2] = {false, false};
        Qt::CursorShape pointerDuring[2] = {Qt::ArrowCursor, Qt::ArrowCursor};
        bool use3DDuringDirect3D = false, autoModeDuringDirectDraw = false;
        int modeWidthDuringDirectDraw = 0;
        // A millisecond a reading (the set-up's windowed present waits for a vertical blank).
        DWORD now = 1000;
        ScriptedClock clock([&now](std::uint64_t) { return ++now; });
        // One DirectDraw frame, one Direct3D frame per phase.
        scene.FrameHook = [&](int phase) {
            fullScreenDuring[phase == 0 ? 0 : 1] = scene.isFullScreen();
            pointerDuring[phase == 0 ? 0 : 1] = scene.cursor().shape();
            if (phase == 0) {
                duringDirectDraw = scene.geometry();
                autoModeDuringDirectDraw = scene.DDDD1->AutoDisplayModeInitialize;
                modeWidthDuringDirectDraw = scene.DDDD1->FullScreen ? scene.DDDD1->ScreenWidth : 0;
                now += 15000;
            } else {
                duringDirect3D = scene.geometry();
                use3DDuringDirect3D = scene.DDDD1->Use3D;
                now += 5000;
            }
        };
        std::vector<std::pair<TBenchTest, bool>> progress;
        main.TestProgress = [&](TBenchTest test, bool ended) {
            progress.emplace_back(test, ended);
        };
        main.Button5Click();

        EXPECT_EQ(main.Panel3->text(), c.panel3);
        EXPECT_EQ(main.Panel4->text(), c.panel4);
        EXPECT_EQ(main.Panel20->text(), c.panel20);
        EXPECT_EQ(main.TestMode, c.testMode);
        EXPECT_FALSE(scene.isVisible());
        EXPECT_FALSE(scene.isFullScreen());
        EXPECT_EQ(scene.cursor().shape(), Qt::ArrowCursor);
        // Each test full screen as the window system gives it, no pointer over the picture.
        for (int test : {0, 1})
            if (test == 0 ? c.directDraw : c.direct3D) {
                EXPECT_TRUE(fullScreenDuring[test]) << test;
                EXPECT_EQ(pointerDuring[test], Qt::BlankCursor) << test;
            }
        std::vector<std::pair<TBenchTest, bool>> expected;
        if (c.directDraw) {
            // Full screen at 640 x 480 while it runs, the picture shown over the whole screen.
            EXPECT_EQ(duringDirectDraw, QRect(0, 0, ScreenWidth(), ScreenHeight()));
            EXPECT_EQ(modeWidthDuringDirectDraw, 640);
            EXPECT_TRUE(autoModeDuringDirectDraw);
            expected.insert(expected.end(),
                            {{TBenchTest::DirectDraw, false}, {TBenchTest::DirectDraw, true}});
        }
        if (c.direct3D) {
            EXPECT_EQ(duringDirect3D, QRect(0, 0, ScreenWidth(), ScreenHeight()));
            EXPECT_TRUE(use3DDuringDirect3D);
            EXPECT_EQ(scene.DDDD1->ScreenWidth, 400);
            expected.insert(expected.end(),
                            {{TBenchTest::Direct3D, false}, {TBenchTest::Direct3D, true}});
        } else {
            EXPECT_EQ(scene.geometry().size(), before.size());
            EXPECT_EQ(scene.DDDD1->ScreenWidth, 800);
        }
        EXPECT_EQ(progress, expected);
        scene.FrameHook = nullptr;
    }
}

TEST_F(SceneWindowTest, HalOptionSetsTheEngineDeviceChoice) {
    TForm1 main;
    TForm3 scene(main);
    EXPECT_EQ(scene.DDDD1->D3DOptions, TD3DOptions{DontUseMMX}); // matches the ticked box
    const struct {
        bool checked;
        TD3DOptions options;
    } cases[] = {
        {false, DontUseHAL | DontUseMMX},
        {true, DontUseMMX},
        {false, DontUseHAL | DontUseMMX},
    };
    for (const auto& c : cases) {
        main.set_cb1->click();
        ASSERT_EQ(main.set_cb1->isChecked(), c.checked);
        EXPECT_EQ(scene.DDDD1->D3DOptions, c.options) << c.checked;
    }
}

TEST(HeadlessRunJson, HoldsScoresSystemAndDurations) {
    TForm1 form;
    const char* scores[] = {"120", "測定中", "300", "400", "500"};
    QLabel* const panels[] = {form.Panel1, form.Panel2, form.Panel3, form.Panel4, form.Panel5};
    for (int i = 0; i < 5; ++i)
        panels[i]->setText(QString::fromUtf8(scores[i]));
    form.Panel20->setText("264");
    RunDurations durations;
    durations.tests[0].ms = 10001;
    durations.tests[4].ms = 10003;
    const QJsonObject root = QJsonDocument::fromJson(ResultJson(form, durations)).object();
    const QJsonObject s = root["scores"].toObject();
    EXPECT_EQ(s["cpu"].toInt(), 120);
    EXPECT_TRUE(s["gdi"].isNull()); // a caption that is no integer
    EXPECT_EQ(s["ddraw"].toInt(), 300);
    EXPECT_EQ(s["d3d"].toInt(), 400);
    EXPECT_EQ(s["disk"].toInt(), 500);
    EXPECT_EQ(s["overall"].toInt(), 264);
    const QJsonObject d = root["durations_ms"].toObject();
    EXPECT_EQ(d.keys(), QStringList({"cpu", "disk"}));
    EXPECT_EQ(d["cpu"].toInt(), 10001);
    const QJsonObject system = root["system"].toObject();
    EXPECT_EQ(system["cpu"].toString(), form.Panel22->text());
    EXPECT_EQ(system["clock"].toString(), form.EditHex2->text());
    EXPECT_EQ(system["memory"].toString(), form.Panel12->text());
    EXPECT_EQ(system["windows"].toString(), form.Panel21->text());
    EXPECT_EQ(system.keys().size(), 6);
}

TEST(HeadlessRunJson, CommandLineTakesTheFileOnlyWithARun) {
    const CommandLine good = ParseCommandLine({"--run", "--json", "out.json"});
    EXPECT_TRUE(good.error.isEmpty());
    EXPECT_EQ(good.jsonFile, "out.json");
    for (const QStringList& bad :
         {QStringList{"--json", "out.json"}, QStringList{"--run", "--json"},
          QStringList{"--run", "--json", ""}})
        EXPECT_FALSE(ParseCommandLine(bad).error.isEmpty()) << bad.join(' ').toStdString();
}

// The whole program on a clock a hundred times faster than real time: the five tests run for
// real, each for a hundredth of its nominal time.
TEST_F(SceneWindowTest, WholeRunOnAFastClockFillsEveryPanel) {
    QTemporaryDir home;
    ScopedEnv h("HOME", home.path().toUtf8());
    const QString programDir = QDir(ProgramDirectory()).absolutePath();
    const QString json = dir.filePath("result.json");
    BoxRecorder boxes;
    int exitCode = -1;
    QString printed;
    QStringList panels;
    {
        TApplication application(/*headless=*/true);
        CreateProgramForms(application);
        ASSERT_NE(Form3, nullptr);
        ASSERT_EQ(Form3->DDDD1->State(), TDDDDState::Initialized);
        ASSERT_TRUE(Form3->Sprites); // the DirectDraw scene of the first activation
        TimeScaledClock clock(100);
        printed = Printed(
            [&](std::FILE* out) {
                return HeadlessRun(*Form1, {{}, "", false, json}, out);
            },
            &exitCode);
        for (QLabel* panel : {Form1->Panel1, Form1->Panel2, Form1->Panel3, Form1->Panel4,
                              Form1->Panel5, Form1->Panel20})
            panels << panel->text();
    }
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(boxes.boxes.empty());
    ASSERT_EQ(panels.size(), 6);
    std::int64_t sum = 0;
    for (int i = 0; i < 5; ++i) {
        const std::int32_t score = StrToInt(panels[i].toStdString());
        EXPECT_GT(score, 0) << i;
        sum += score;
    }
    EXPECT_EQ(StrToInt(panels[5].toStdString()), sum / 5);
    EXPECT_TRUE(printed.contains("DirectDraw性能             :" + panels[2] + "\n"))
        << printed.toStdString();
    QFile file(json);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    EXPECT_EQ(root["scores"].toObject()["d3d"].toInt(), panels[3].toInt());
    const QJsonObject durations = root["durations_ms"].toObject();
    EXPECT_EQ(durations.keys().size(), 5);
    // Each test's wall-clock time: at least its nominal length on the clock a hundred times
    // faster.
    const struct {
        const char* test;
        int ms;
    } nominal[] = {
        {"cpu", 10000}, {"gdi", 22000}, {"ddraw", 15000}, {"d3d", 20000}, {"disk", 10000}};
    for (const auto& n : nominal)
        EXPECT_GE(durations[n.test].toInt(), n.ms / 100) << n.test;
    EXPECT_EQ(Form3, nullptr);
    QFile::remove(programDir + "/result.txt");
}

// A scene that would not load whole is told before the run: on standard error when a ticked
// test draws what is lacking, in the window's warning box likewise, and in the conditions at
// the run's start and end whatever the tests.
TEST_F(SceneWindowTest, AnIncompleteSceneIsToldBeforeTheRunAndRecorded) {
    const QString path = dir.filePath("Zelka.dat");
    const auto cut = [](const QString& p) { QFile(p).resize(QFileInfo(p).size() - 40); };
    const QString prefix = "zelka: warning: the test scene is incomplete (Zelka.dat: ";
    const QString tail = " test runs with empty pictures and its score is not comparable";
    const QString noArchive = "描画テストのデータ（Zelka.dat）が読み込めません";
    const struct Case {
        std::function<void(const QString&)> make;
        QStringList tests;
        QString warning, boxLine, faults; // empty: none
    } cases[] = {
        {[](const QString& p) { QFile::remove(p); },
         {"ddraw", "d3d"},
         "not found); the DirectDraw and Direct3D tests run with empty pictures and their scores "
         "are not comparable",
         noArchive,
         "-:archive_missing"},
        {[](const QString& p) { QFile::remove(p), QDir().mkdir(p); },
         {"ddraw"},
         "cannot be read); the DirectDraw" + tail,
         noArchive,
         "-:archive_unreadable"},
        // Cut into the data of samp5.bmp, the last picture.
        {cut,
         {"ddraw"},
         "samp5.bmp damaged); the DirectDraw" + tail,
         "描画テストの画像が読み込めません（samp5.bmp）",
         "samp5.bmp:damaged"},
        {cut, {"d3d"}, "", "", "samp5.bmp:damaged"},
        {[](const QString& p) { // samp5.bmp's name in the directory, the fourth entry
             QFile file(p);
             file.open(QIODevice::ReadWrite) && file.seek(256 + 268 * 3 + 12) && file.write("x");
         },
         {"ddraw"},
         "samp5.bmp missing); the DirectDraw" + tail,
         "描画テストの画像が読み込めません（samp5.bmp）",
         "samp5.bmp:missing"},
        {[](const QString&) {}, {"ddraw", "d3d"}, "", "", ""},
    };
    for (const Case& c : cases) {
        QDir(path).removeRecursively();
        QFile::remove(path);
        ASSERT_TRUE(QFile::copy(ZELKA_DAT_PATH, path));
        c.make(path);
        // The scene's loads at the window's creation fail for just what the check finds.
        const auto logLines = [this] {
            return std::ranges::count(FileBytes(dir.filePath("dddd.debug")), '\n');
        };
        const auto logged = logLines();
        TForm1 main;
        TForm3 scene(main);
        scene.Timer->setInterval(0);
        EXPECT_EQ(logLines() - logged, c.faults.startsWith("-") ? 4 : long(c.faults.count(':')));
        for (QCheckBox* box : {main.cb1, main.cb2, main.cb5})
            box->setChecked(false);
        main.cb3->setChecked(c.tests.contains("ddraw"));
        main.cb4->setChecked(c.tests.contains("d3d"));
        BoxRecorder boxes;
        boxes.answerOk = false;
        EXPECT_EQ(main.ConfirmRunConditions(), c.boxLine.isEmpty());
        EXPECT_EQ(boxes.boxes.empty() ? "" : boxes.boxes[0].text.section('\n', 2, 2),
                  c.boxLine.isEmpty() ? "" : "・" + c.boxLine);

        DWORD now = 1000;
        ScriptedClock clock([&now](std::uint64_t) { return ++now; });
        scene.FrameHook = [&now](int phase) { now += phase == 0 ? 15000 : 5000; };
        int exitCode = -1;
        testing::internal::CaptureStderr();
        Printed(
            [&](std::FILE* out) {
                return HeadlessRun(main, {c.tests, "", false, "r.json"}, out);
            },
            &exitCode);
        const QString err = QString::fromStdString(testing::internal::GetCapturedStderr());
        EXPECT_EQ(exitCode, 0);
        // Told first, before any test starts.
        EXPECT_EQ(err.section('\n', 0, 0), c.warning.isEmpty()
                                               ? "zelka: " + c.tests[0] + " test started"
                                               : prefix + c.warning);
        QFile json(dir.filePath("r.json"));
        ASSERT_TRUE(json.open(QIODevice::ReadOnly));
        const QJsonDocument document = QJsonDocument::fromJson(json.readAll());
        for (const char* when : {"start", "end"}) {
            const QJsonObject s = document["conditions"][when]["scene"].toObject();
            QStringList faults;
            for (const QJsonValue f : s["faults"].toArray())
                faults << (f["picture"].isNull() ? "-" : f["picture"].toString()) + ":" +
                              f["fault"].toString();
            EXPECT_EQ(faults.join(','), c.faults) << when;
            EXPECT_EQ(s["complete"].toBool(), c.faults.isEmpty());
            EXPECT_EQ(s["archive"].toString(), "Zelka.dat");
        }
    }
    QDir(path).removeRecursively();
}
