#include <gtest/gtest.h>

#include "tests/QtPrinters.h"

#include <QProcess>
#include <QTemporaryFile>

#include "app/CommandLine.h"
#include "app/HeadlessRun.h"
#include "app/Unit1.h"
#include "platform/MMSystem.h"

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
        {{"--help"}, Mode::Help, false, {}},
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
        {"--bogus"}, {"run"}, {"--tests"}, {"--run", "--tests", "cpu,gpu"},
        {"--run", "--tests", ","}, {"--tests", "cpu"}, {"--screenshots"},
    };
    for (const QStringList& args : bad) {
        const CommandLine line = ParseCommandLine(args);
        EXPECT_FALSE(line.error.isEmpty()) << args.join(' ').toStdString();
        EXPECT_FALSE(line.error.contains('\n'));
        EXPECT_TRUE(line.error.contains("usage: zelka"));
    }
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

TEST(HeadlessRun, TicksTheChosenTestsAndPrintsTheResultLines) {
    TForm1 form;
    form.Panel2->setText("20");
    ScriptedClock clock([](std::uint64_t read) -> DWORD { return read <= 30 ? 0 : 10000; });
    QTemporaryFile out;
    ASSERT_TRUE(out.open());
    FILE* file = fdopen(dup(out.handle()), "w");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(HeadlessRun(form, {"cpu"}, file), 0);
    std::fclose(file);
    EXPECT_TRUE(form.cb1->isChecked());
    for (QCheckBox* box : {form.cb2, form.cb3, form.cb4, form.cb5})
        EXPECT_FALSE(box->isChecked());
    out.seek(0);
    const QStringList lines = QString::fromUtf8(out.readAll()).split('\n', Qt::SkipEmptyParts);
    const QStringList labels = {"CPU:", "VIDEO:", "MEMORY:", "DISPLAY:", "WINDOWS:",
                                "CPU性能（演算）:", "通常グラフィック性能:", "DirectDraw性能:",
                                "Direct3D性能:", "HDDアクセス性能:", "総合評価:"};
    ASSERT_EQ(lines.size(), labels.size());
    for (qsizetype i = 0; i < labels.size(); ++i)
        EXPECT_TRUE(lines[i].startsWith(labels[i])) << lines[i].toStdString();
    EXPECT_EQ(lines[5], "CPU性能（演算）:3");
    EXPECT_EQ(lines[6], "通常グラフィック性能:20");
    EXPECT_EQ(lines[10], "総合評価:4"); // (3 + 20) div 5
}

TEST(HeadlessRun, AFailedCommandStillPrintsAndExitsOne) {
    TForm1 form;
    form.Panel4->setText("測定中");
    QTemporaryFile out;
    ASSERT_TRUE(out.open());
    FILE* file = fdopen(dup(out.handle()), "w");
    EXPECT_EQ(HeadlessRun(form, {"disk"}, file), 1);
    std::fclose(file);
    out.seek(0);
    EXPECT_TRUE(QString::fromUtf8(out.readAll()).contains("Direct3D性能:測定中\n"));
}
