#include "app/CommandLine.h"

#include "app/HeadlessRun.h"
#include "app/Unit1.h"
#include "forms/Dialogs.h"
#include "gpu/Renderer.h"
#include "platform/CP932.h"
#include "platform/MMSystem.h"
#include "platform/Shell.h"
#include "tests/QtPrinters.h"
#include "tests/ScopedEnv.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <gtest/gtest.h>

TEST(CommandLine, ParsesModesAndTestSelections) {
    using Mode = CommandLine::Mode;
    struct Case {
        QStringList args;
        Mode mode;
        bool headless;
        QStringList tests;
    } cases[] = {
        {{}, Mode::Window, false, {}},
        {{"--run"}, Mode::Run, false, {}},
        {{"--run", "--headless"}, Mode::Run, true, {}},
        {{"--headless", "--run", "--tests", "disk,cpu"}, Mode::Run, true, {"disk", "cpu"}},
        {{"--run", "--tests", "gdi,gdi,ddraw"}, Mode::Run, false, {"gdi", "ddraw"}},
        {{"--screenshots", "out"}, Mode::Screenshots, false, {}},
        {{"--run", "--drive", "d", "--rank-page"}, Mode::Run, false, {}},
        {{"--help"}, Mode::Help, false, {}},
        {{"--version"}, Mode::Version, false, {}},
        {{"--run", "--repeat", "5", "--tests", "cpu"}, Mode::Run, false, {"cpu"}},
    };
    for (const Case& c : cases) {
        const CommandLine line = ParseCommandLine(c.args);
        EXPECT_TRUE(line.error.isEmpty()) << c.args.join(' ').toStdString();
        EXPECT_EQ(line.mode, c.mode) << c.args.join(' ').toStdString();
        EXPECT_EQ(line.headless, c.headless);
        EXPECT_EQ(line.tests, c.tests);
    }
}

TEST(CommandLine, RejectsBadOptionsWithOneUsageLine) {
    const QStringList bad[] = {
        {"--bogus"},
        {"run"},
        {"--tests"},
        {"--run", "--tests", "cpu,gpu"},
        {"--run", "--tests", ","},
        {"--tests", "cpu"},
        {"--screenshots"},
        {"--run", "--drive"},
        {"--drive", "D"},
        {"--rank-page"},
        {"--run", "--drive", ""},
        {"--run", "--repeat"},
        {"--run", "--repeat", "0"},
        {"--run", "--repeat", "101"},
        {"--run", "--repeat", "x"},
        {"--repeat", "1"},
        {"--renderer"},
        {"--renderer", "vulkan"},
    };
    for (const QStringList& args : bad) {
        const CommandLine line = ParseCommandLine(args);
        EXPECT_FALSE(line.error.isEmpty()) << args.join(' ').toStdString();
        EXPECT_FALSE(line.error.contains('\n'));
        EXPECT_TRUE(line.error.contains("usage: zelka"));
    }
}

// Every option --help lists is one the parser knows, with its value where the line names one
// (in capitals), given beside --run where it goes with --run.
TEST(CommandLine, EveryOptionTheHelpListsIsAccepted) {
    int listed = 0;
    for (const QString& text : QString(kHelp).split('\n')) {
        static const QRegularExpression option(R"(^  (?:-\w, )?(--[a-z-]+)(?: ([A-Z]+))?)");
        const QRegularExpressionMatch match = option.match(text);
        if (!match.hasMatch())
            continue;
        ++listed;
        QStringList args = {match.captured(1)};
        if (match.captured(1) == "--renderer")
            args << "software";
        else if (!match.captured(2).isEmpty())
            args << (match.captured(1) == "--tests" ? "cpu" : match.captured(2) == "N" ? "2" : "x");
        if (text.contains("with --run"))
            args << "--run";
        const CommandLine line = ParseCommandLine(args);
        EXPECT_TRUE(line.error.isEmpty())
            << args.join(' ').toStdString() << ": " << line.error.toStdString();
    }
    EXPECT_GE(listed, 9);
}

TEST(CommandLine, TheProgramExitsTwoOnABadOption) {
    QProcess zelka;
    zelka.start(ZELKA_BINARY, {"--frobnicate"});
    ASSERT_TRUE(zelka.waitForFinished(20000));
    EXPECT_EQ(zelka.exitCode(), 2);
    const QString err = QString::fromUtf8(zelka.readAllStandardError()).trimmed();
    EXPECT_TRUE(err.startsWith("zelka: unknown option '--frobnicate'")) << err.toStdString();
    EXPECT_EQ(err.count('\n'), 0);
}

TEST(CommandLine, KeepsTheDriveLetterAndTheRankPageChoice) {
    const CommandLine line = ParseCommandLine({"--run", "--drive", "d", "--rank-page"});
    EXPECT_EQ(line.drive, "d");
    EXPECT_TRUE(line.rankPage);
    EXPECT_FALSE(ParseCommandLine({"--run"}).rankPage);
    EXPECT_EQ(ParseCommandLine({"--run"}).repeat, 1);
    EXPECT_FALSE(ParseCommandLine({"--run"}).noHal);
    EXPECT_TRUE(ParseCommandLine({"--no-hal"}).noHal); // the window's box starts unticked too
    EXPECT_EQ(ParseCommandLine({"--run", "--repeat", "100"}).repeat, 100);
    EXPECT_EQ(ParseCommandLine({}).renderer, "auto");
    EXPECT_EQ(ParseCommandLine({"--renderer", "gpu"}).renderer, "gpu");
}

// The road each --renderer takes on this machine, as the run's JSON records it, and `gpu`
// refused where there is no hardware renderer (Mesa's llvmpipe is one only by the tests' switch).
TEST(HeadlessRun, TheRendererChoiceIsTakenAndRecorded) {
    gpu::ResetRendererForTests();
    const bool hardware = gpu::ChosenRoad().probed.hardware;
    gpu::ResetRendererForTests();
    gpu::SetRendererChoice(gpu::RendererChoice::Software);
    struct Case {
        const char* renderer;
        bool allowSoftware;
        int exitCode; // the disk test on a missing drive gives no score: 1
        const char* road;
        const char* videoMemory;
        const char* said; // in why_not_gpu, or on standard error when refused
    };
    std::vector<Case> cases = {
        {"software", false, 1, "software", "host memory, emulated", "--renderer software"},
        {"gpu", true, 1, "gpu", "GPU", ""},
    };
    if (!hardware) {
        cases.push_back(
            {"auto", false, 1, "software", "host memory, emulated", "software rasteriser"});
        cases.push_back({"gpu", false, 2, "", "", "zelka: no hardware OpenGL renderer: "});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.renderer) + (c.allowSoftware ? " with llvmpipe" : ""));
        QTemporaryDir dir;
        QProcess zelka;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("ZELKA_DRIVE_Q");
        env.remove("ZELKA_GL_ALLOW_SOFTWARE");
        if (c.allowSoftware)
            env.insert("ZELKA_GL_ALLOW_SOFTWARE", "1");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        zelka.setProcessEnvironment(env);
        zelka.setWorkingDirectory(dir.path());
        zelka.start(ZELKA_BINARY, {"--run", "--headless", "--tests", "disk", "--drive", "Q",
                                   "--renderer", c.renderer, "--json", "run.json"});
        ASSERT_TRUE(zelka.waitForFinished(30000));
        EXPECT_EQ(zelka.exitCode(), c.exitCode);
        const QString err = QString::fromUtf8(zelka.readAllStandardError());
        if (c.exitCode == 2) {
            EXPECT_TRUE(err.startsWith(c.said)) << err.toStdString();
            EXPECT_FALSE(QFile::exists(dir.filePath("run.json")));
            continue;
        }
        QFile json(dir.filePath("run.json"));
        ASSERT_TRUE(json.open(QIODevice::ReadOnly));
        const QJsonObject renderer = QJsonDocument::fromJson(json.readAll())
                                         .object()["conditions"]
                                         .toObject()["start"]
                                         .toObject()["renderer"]
                                         .toObject();
        EXPECT_EQ(renderer["road"].toString(), c.road);
        EXPECT_EQ(renderer["video_memory"].toString(), c.videoMemory);
        EXPECT_TRUE(renderer["why_not_gpu"].toString().contains(c.said))
            << renderer["why_not_gpu"].toString().toStdString();
        if (QString(c.road) == "gpu") {
            EXPECT_FALSE(renderer["gl_renderer"].toString().isEmpty());
            EXPECT_TRUE(renderer["why_not_gpu"].isNull());
        }
    }
}

namespace {

// Runs HeadlessRun and returns what it printed.
QString RunAndCapture(TForm1& form, const HeadlessOptions& options, int* exitCode) {
    QTemporaryFile out;
    EXPECT_TRUE(out.open());
    FILE* file = fdopen(dup(out.handle()), "w");
    *exitCode = HeadlessRun(form, options, file);
    std::fclose(file);
    out.seek(0);
    return QString::fromUtf8(out.readAll());
}

// The result file's text at the start of what a run printed: up to the overall rating's line.
QString ResultPart(const QString& printed) {
    return printed.left(printed.indexOf('\n', printed.indexOf("総合評価")) + 1);
}

QString DecodedFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return FromCP932(file.readAll().toStdString()).replace("\r\n", "\n");
}

} // namespace

TEST(HeadlessRun, PrintsExactlyTheResultFileItWrites) {
    QTemporaryDir dir;
    ScopedCurrentDir cwd(dir.path());
    struct Case {
        QStringList tests;
        const char* presetPanel4;
        int exitCode;
        const char* cpuLine;
        const char* d3dLine;
        const char* totalLine;
    } cases[] = {
        {{"cpu"},
         "0",
         0,
         "CPU性能（演算）            :3",
         "Direct3D性能               :0",
         "総合評価                   :4"}, // (3 + 20) div 5
        // A caption left by an interrupted test fails the rating; the file is still written.
        {{"cpu"},
         "測定中",
         1,
         "CPU性能（演算）            :3",
         "Direct3D性能               :測定中",
         "総合評価                   :0"},
    };
    for (const Case& c : cases) {
        TForm1 form;
        form.Panel2->setText("20");
        form.Panel4->setText(c.presetPanel4);
        ScriptedClock clock([](std::uint64_t read) -> DWORD { return read <= 30 ? 0 : 10000; });
        ShellCallLog shell;
        BoxRecorder boxes;
        int exitCode = -1;
        const QString printed = RunAndCapture(form, {c.tests, "", false, ""}, &exitCode);
        EXPECT_EQ(exitCode, c.exitCode);
        EXPECT_TRUE(form.cb1->isChecked());
        for (QCheckBox* box : {form.cb2, form.cb3, form.cb4, form.cb5})
            EXPECT_FALSE(box->isChecked());
        EXPECT_EQ(ResultPart(printed), DecodedFile("result.txt"));
        EXPECT_TRUE(printed.mid(ResultPart(printed).size()).startsWith("\nConditions ("));
        const QStringList lines = ResultPart(printed).split('\n');
        ASSERT_EQ(lines.size(), 20); // 19 lines, each ended
        EXPECT_EQ(lines[12], c.cpuLine);
        EXPECT_EQ(lines[15], c.d3dLine);
        EXPECT_EQ(lines[18], c.totalLine);
        EXPECT_TRUE(shell.calls.empty()); // nothing is opened
    }
}

TEST(HeadlessRun, TypesTheDriveLetterAndWritesTheRankPage) {
    QTemporaryDir home, d, start;
    ScopedEnv h("HOME", home.path().toUtf8());
    ScopedEnv dd("ZELKA_DRIVE_D", d.path().toUtf8());
    ScopedCurrentDir cwd(start.path());
    TForm1 form;
    form.Panel1->setText("300"); // an overall rating of (300 + 2) div 5 = 60 allows the page
    // The disk test writes 100 lines; the test file shows up in drive D's directory.
    bool sawTestFileOnD = false;
    ScriptedClock clock([&](std::uint64_t read) -> DWORD {
        if (read == 50)
            sawTestFileOnD = !QDir(d.path()).entryList({"test*"}, QDir::Files).isEmpty();
        return read <= 100 ? 0 : 10000;
    });
    ShellCallLog shell;
    BoxRecorder boxes;
    int exitCode = -1;
    const QString printed = RunAndCapture(form, {{"disk"}, "d", true, ""}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(sawTestFileOnD);
    EXPECT_EQ(form.Edit2->text(), "d");
    EXPECT_EQ(form.Panel5->text(), "2"); // 100 lines div 50
    EXPECT_TRUE(printed.contains("HDDアクセス性能            :2\n"));
    // After the disk test the program directory is current: both files land there.
    const QString programDir = QDir(ProgramDirectory()).absolutePath();
    EXPECT_EQ(QDir::currentPath(), programDir);
    EXPECT_EQ(ResultPart(printed), DecodedFile(programDir + "/result.txt"));
    EXPECT_TRUE(DecodedFile(programDir + "/intsc.htm").contains("NAME=\"sc5\" VALUE=\"2\" >"));
    EXPECT_TRUE(QDir(d.path()).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_TRUE(boxes.boxes.empty());
    QFile::remove(programDir + "/result.txt");
    QFile::remove(programDir + "/intsc.htm");
}

TEST(HeadlessRun, TheProgramPrintsTheResultFileAndWarnsOnAMissingDrive) {
    QTemporaryDir dir;
    QProcess zelka;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("ZELKA_DRIVE_Q");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    zelka.setProcessEnvironment(env);
    zelka.setWorkingDirectory(dir.path());
    zelka.start(ZELKA_BINARY,
                {"--run", "--headless", "--tests", "disk", "--drive", "Q", "--rank-page"});
    ASSERT_TRUE(zelka.waitForFinished(30000));
    EXPECT_EQ(zelka.exitCode(), 1); // the one test chosen produced no score
    const QString out = QString::fromUtf8(zelka.readAllStandardOutput());
    EXPECT_EQ(ResultPart(out), DecodedFile(dir.filePath("result.txt")));
    EXPECT_TRUE(out.startsWith(" _ _ _ _　"));
    EXPECT_TRUE(ResultPart(out).endsWith("総合評価                   :0\n"));
    const QString err = QString::fromUtf8(zelka.readAllStandardError());
    EXPECT_TRUE(err.contains("指定されたドライブが存在しません")) << err.toStdString();
    EXPECT_TRUE(err.contains("測定してから申請して下さい")) << err.toStdString();
    EXPECT_TRUE(err.contains("zelka: the disk test produced no score\n")) << err.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("intsc.htm")));
}
