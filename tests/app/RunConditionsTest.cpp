// The run's conditions read from a scripted /proc and /sys tree, the warnings before a run,
// and repeated runs on a scripted clock.
#include "app/RunConditions.h"

#include "app/CommandLine.h"
#include "app/HeadlessRun.h"
#include "app/Unit1.h"
#include "app/Version.h"
#include "directx/DisplayAdapter.h"
#include "engine/dddd.h"
#include "forms/Dialogs.h"
#include "forms/Forms.h"
#include "platform/CP932.h"
#include "platform/MMSystem.h"
#include "tests/CardWith3D.h"
#include "tests/QtPrinters.h"
#include "tests/ScopedEnv.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

namespace {

using Tree = std::map<QString, QString>;

// Writes each file (a path under the root) with its text.
void WriteTree(const QString& root, const Tree& files) {
    for (const auto& [path, text] : files) {
        const QString full = root + "/" + path;
        QDir().mkpath(QFileInfo(full).path());
        QFile file(full);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << full.toStdString();
        file.write(text.toUtf8());
    }
}

const QString kCpu = "sys/devices/system/cpu/";
const QString kSupply = "sys/class/power_supply/";

} // namespace

TEST(RunConditions, TheMachineAndItsWarningsComeFromTheScriptedTree) {
    const Tree base = {
        {"proc/sys/kernel/ostype", "Linux\n"},
        {"proc/sys/kernel/osrelease", "6.1.0-18-amd64\n"},
        {"proc/cpuinfo", "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Example CPU "
                         "@ 3.00GHz\n\nprocessor\t: 1\nmodel name\t: Example CPU @ 3.00GHz\n"},
        {kCpu + "online", "0-3,6\n"},
        {"proc/loadavg", "0.20 0.31 0.40 1/200 1234\n"},
        {"sys/class/dmi/id/product_name", "Standard PC (Q35 + ICH9, 2009)\n"},
    };
    using W = RunWarning;
    struct Case {
        const char* what;
        Tree files;
        QStringList governors;
        std::optional<bool> boost;
        QString power;
        QList<RunWarning> warnings;
    } cases[] = {
        {"idle desktop", {}, {}, {}, "", {}},
        {"schedutil on all cores, boost on, on AC with a charging battery",
         {{kCpu + "cpu0/cpufreq/scaling_governor", "schedutil\n"},
          {kCpu + "cpu1/cpufreq/scaling_governor", "schedutil\n"},
          {kCpu + "cpufreq/boost", "1\n"},
          {kSupply + "AC/type", "Mains\n"},
          {kSupply + "AC/online", "1\n"},
          {kSupply + "BAT0/type", "Battery\n"},
          {kSupply + "BAT0/status", "Charging\n"}},
         {"schedutil"},
         true,
         "ac",
         {}},
        {"cpufreq's powersave on one core, on battery",
         {{kCpu + "cpu0/cpufreq/scaling_governor", "performance\n"},
          {kCpu + "cpu10/cpufreq/scaling_governor", "powersave\n"},
          {kCpu + "cpu0/cpufreq/scaling_driver", "acpi-cpufreq\n"},
          {kCpu + "cpufreq/boost", "0\n"},
          {kSupply + "AC/type", "Mains\n"},
          {kSupply + "AC/online", "0\n"},
          {kSupply + "BAT0/type", "Battery\n"},
          {kSupply + "BAT0/status", "Unknown\n"}},
         {"performance", "powersave"},
         false,
         "battery",
         {W::Battery, W::Powersave}},
        // intel_pstate's powersave scales the frequency itself; no_turbo is boost inverted.
        {"intel_pstate's powersave, turbo off, a discharging battery without a mains supply",
         {{kCpu + "cpu0/cpufreq/scaling_governor", "powersave\n"},
          {kCpu + "cpu0/cpufreq/scaling_driver", "intel_pstate\n"},
          {kCpu + "intel_pstate/no_turbo", "1\n"},
          {kSupply + "BAT1/type", "Battery\n"},
          {kSupply + "BAT1/status", "Discharging\n"}},
         {"powersave"},
         false,
         "battery",
         {W::Battery}},
        {"a mouse's battery is not the machine's; USB power counts as AC",
         {{kSupply + "hid-mouse/type", "Battery\n"},
          {kSupply + "hid-mouse/scope", "Device\n"},
          {kSupply + "hid-mouse/status", "Discharging\n"},
          {kSupply + "ucsi/type", "USB\n"},
          {kSupply + "ucsi/online", "1\n"}},
         {},
         {},
         "ac",
         {}},
        {"a load of exactly half a core",
         {{"proc/loadavg", "0.50 2.00 2.00 1/2 3\n"}},
         {},
         {},
         "",
         {}},
        {"a load above half a core",
         {{"proc/loadavg", "0.51 0.10 0.10 1/2 3\n"}},
         {},
         {},
         "",
         {W::Load}},
    };
    for (const Case& c : cases) {
        QTemporaryDir root;
        Tree files = base;
        for (const auto& [path, text] : c.files)
            files[path] = text;
        WriteTree(root.path(), files);
        const MachineState m = ReadMachineState(root.path());
        EXPECT_EQ(m.kernel, "Linux 6.1.0-18-amd64") << c.what;
        EXPECT_EQ(m.processor, "Example CPU @ 3.00GHz") << c.what;
        EXPECT_EQ(m.logicalCores, 5) << c.what;
        EXPECT_EQ(m.product, "Standard PC (Q35 + ICH9, 2009)") << c.what;
        EXPECT_EQ(m.governors, c.governors) << c.what;
        EXPECT_EQ(m.boost, c.boost) << c.what;
        EXPECT_EQ(m.power, c.power) << c.what;
        EXPECT_EQ(RunWarnings(m), c.warnings) << c.what;
    }
    // An empty tree tells nothing and warns of nothing.
    QTemporaryDir empty;
    const MachineState none = ReadMachineState(empty.path());
    EXPECT_TRUE(none.kernel.isEmpty());
    EXPECT_EQ(none.logicalCores, 0);
    EXPECT_FALSE(none.load.has_value());
    EXPECT_FALSE(none.boost.has_value());
    EXPECT_TRUE(RunWarnings(none).isEmpty());
    EXPECT_TRUE(WarningBoxText({}, none).isEmpty());
}

TEST(RunConditions, TheWarningsTellEachConditionInBothLanguages) {
    MachineState m;
    m.load = std::array<double, 3>{1.25, 0, 0};
    const QList<RunWarning> all = {RunWarning::Battery, RunWarning::Powersave, RunWarning::Load};
    EXPECT_EQ(WarningBoxText(all, m), "正しい測定結果が出ない可能性があります\n"
                                      "\n・バッテリーで動作しています"
                                      "\n・CPUの省電力設定（powersave）が有効です"
                                      "\n・他のプログラムが動作しています（負荷 1.25）"
                                      "\n\nこのまま測定を開始しますか？");
    EXPECT_EQ(WarningLine(RunWarning::Load, m),
              "zelka: warning: load average 1.25, above half a core; scores may come out low");
    EXPECT_EQ(WarningLine(RunWarning::Battery, m),
              "zelka: warning: running on battery; scores may come out low");
}

TEST(RunConditions, TheStartPictureAsksFirstAndCancelRunsNothing) {
    QTemporaryDir root;
    WriteTree(root.path(), {{"proc/loadavg", "1.50 1.00 1.00 1/2 3\n"}});
    ScopedEnv env("ZELKA_SYSTEM_ROOT", root.path().toUtf8());
    for (bool answerOk : {false, true}) {
        TForm1 form;
        for (QCheckBox* box : {form.cb1, form.cb2, form.cb3, form.cb4, form.cb5})
            box->setChecked(false);
        form.Panel1->setText("100"); // a run computes the rating: 20
        BoxRecorder boxes;
        boxes.answerOk = answerOk;
        emit form.Image6->Click();
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].caption, "警告");
        EXPECT_TRUE(boxes.boxes[0].cancelButton);
        EXPECT_TRUE(boxes.boxes[0].text.contains("（負荷 1.50）"));
        EXPECT_EQ(form.Panel20->text(), answerOk ? "20" : "0");
    }
}

TEST(RunConditions, TheStatusBarAndVersionOptionTellTheBuild) {
    TForm1 form;
    const QString version = QString("Ver %1  %2").arg(ProgramVersion(), BuildType());
    EXPECT_TRUE(version.startsWith("Ver 2.10"));
    EXPECT_EQ(form.findChild<QLabel*>("StatusVersion")->text(), version);
    EXPECT_TRUE(QRect(0, 0, 595, 442).contains(form.StatusBar1->geometry()));
    QProcess zelka;
    zelka.start(ZELKA_BINARY, {"--version"});
    ASSERT_TRUE(zelka.waitForFinished(20000));
    EXPECT_EQ(zelka.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(zelka.readAllStandardOutput()),
              QString("zelka %1, %2 build\n").arg(ProgramVersion(), BuildType()));
}

TEST(RepeatedRuns, StatisticsOfTheScores) {
    struct Case {
        std::vector<qint64> scores;
        qint64 median, min, max;
        std::optional<double> spread;
    } cases[] = {
        {{7}, 7, 7, 7, 0.0},
        {{30, 10, 20}, 20, 10, 30, 1.0},
        {{10, 40, 20, 30}, 25, 10, 40, 30.0 / 25}, // the mean of the middle two
        {{10, 11}, 10, 10, 11, 0.1},               // truncated
        {{0, 0, 5}, 0, 0, 5, std::nullopt},        // no spread over a median of 0
    };
    for (const Case& c : cases) {
        const ScoreStatistics s = Statistics(c.scores);
        EXPECT_EQ(s.median, c.median);
        EXPECT_EQ(s.min, c.min);
        EXPECT_EQ(s.max, c.max);
        ASSERT_EQ(s.spread.has_value(), c.spread.has_value());
        if (s.spread) {
            EXPECT_DOUBLE_EQ(*s.spread, *c.spread);
        }
    }
}

// Five runs of the CPU test on a clock that lets run k do iterations[k]: the result file holds
// the median, the printout and the JSON every run, the statistics and the conditions.
TEST(RepeatedRuns, TheResultFileHoldsTheMediansAndTheJsonEveryRun) {
    QTemporaryDir dir, root;
    ScopedCurrentDir cwd(dir.path());
    WriteTree(root.path(), {{"proc/loadavg", "0.25 0.50 0.75 1/2 3\n"},
                            {"proc/sys/kernel/ostype", "Linux\n"},
                            {"proc/sys/kernel/osrelease", "6.1.0\n"}});
    ScopedEnv env("ZELKA_SYSTEM_ROOT", root.path().toUtf8());
    TForm1 form; // its probe reads the clock once
    form.Panel2->setText("100");
    const int iterations[] = {300, 500, 100, 400, 200}; // scores 30, 50, 10, 40, 20
    int run = 0, left = -1;
    DWORD now = 1000;
    ScriptedClock clock([&](std::uint64_t) -> DWORD {
        if (left < 0) {
            left = iterations[run]; // the test's start
            return now;
        }
        if (left-- > 0)
            return now;
        ++run;
        left = -1;
        return now += 10000;
    });
    QTemporaryFile out;
    ASSERT_TRUE(out.open());
    std::FILE* file = fdopen(dup(out.handle()), "w");
    const int exitCode = HeadlessRun(form, {{"cpu"}, "", false, dir.filePath("r.json"), 5}, file);
    std::fclose(file);
    out.seek(0);
    const QString printed = QString::fromUtf8(out.readAll());
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(run, 5);

    QFile result(dir.filePath("result.txt"));
    ASSERT_TRUE(result.open(QIODevice::ReadOnly));
    const QString text = FromCP932(result.readAll().toStdString());
    EXPECT_TRUE(text.contains("CPU性能（演算）            :30\r\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("総合評価                   :26\r\n")); // (30 + 100) div 5
    EXPECT_TRUE(printed.contains("  cpu              30         10         50 133.3 %  "
                                 "30 50 10 40 20\n"))
        << printed.toStdString();
    EXPECT_TRUE(printed.contains("0.25 0.25 0.25 0.25 0.25\n"));
    EXPECT_TRUE(printed.contains("  load average:     0.25 0.50 0.75\n"));

    QFile jsonFile(dir.filePath("r.json"));
    ASSERT_TRUE(jsonFile.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(jsonFile.readAll()).object();
    EXPECT_EQ(json["scores"].toObject()["cpu"].toInt(), 30);
    const QJsonObject repeat = json["repeat"].toObject();
    EXPECT_EQ(repeat["count"].toInt(), 5);
    const QJsonArray runs = repeat["runs"].toArray();
    ASSERT_EQ(runs.size(), 5);
    const int scores[] = {30, 50, 10, 40, 20};
    for (int i = 0; i < 5; ++i) {
        const QJsonObject each = runs[i].toObject();
        EXPECT_EQ(each["scores"].toObject()["cpu"].toInt(), scores[i]);
        EXPECT_EQ(each["scores"].toObject()["overall"].toInt(), (scores[i] + 100) / 5);
        EXPECT_FALSE(each["scores"].toObject().contains("gdi")); // not ticked
        EXPECT_DOUBLE_EQ(each["load_before"].toDouble(), 0.25);
    }
    const QJsonObject cpu = repeat["tests"].toObject()["cpu"].toObject();
    EXPECT_EQ(cpu["median"].toInt(), 30);
    EXPECT_EQ(cpu["min"].toInt(), 10);
    EXPECT_EQ(cpu["max"].toInt(), 50);
    EXPECT_DOUBLE_EQ(cpu["spread"].toDouble(), 40.0 / 30);
    for (const char* when : {"start", "end"}) {
        const QJsonObject c = json["conditions"].toObject()[when].toObject();
        EXPECT_EQ(c["version"].toString(), ProgramVersion());
        EXPECT_EQ(c["kernel"].toString(), "Linux 6.1.0");
        EXPECT_EQ(c["load_average"].toArray(), QJsonArray({0.25, 0.5, 0.75}));
        EXPECT_TRUE(c["governor"].isNull());
        EXPECT_EQ(c["qt_platform"].toString(), "offscreen");
        EXPECT_EQ(c["presenter"].toString(), "cpu");
    }
}

TEST(RepeatedRuns, TheProgramWarnsOnStandardErrorBeforeARun) {
    QTemporaryDir dir, root;
    WriteTree(root.path(), {{"proc/loadavg", "3.00 1.00 1.00 1/2 3\n"},
                            {kCpu + "cpu0/cpufreq/scaling_governor", "powersave\n"},
                            {kSupply + "BAT0/type", "Battery\n"},
                            {kSupply + "BAT0/status", "Discharging\n"}});
    QProcess zelka;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZELKA_SYSTEM_ROOT", root.path());
    env.remove("ZELKA_DRIVE_Q");
    zelka.setProcessEnvironment(env);
    zelka.setWorkingDirectory(dir.path());
    // A missing drive ends the disk test at once.
    zelka.start(ZELKA_BINARY,
                {"--run", "--headless", "--tests", "disk", "--drive", "Q", "--repeat", "2"});
    ASSERT_TRUE(zelka.waitForFinished(30000));
    const QString err = QString::fromUtf8(zelka.readAllStandardError());
    EXPECT_TRUE(err.startsWith("zelka: warning: running on battery; scores may come out low\n"
                               "zelka: warning: the frequency governor is powersave; scores may "
                               "come out low\n"
                               "zelka: warning: load average 3.00, above half a core; scores "
                               "may come out low\n"))
        << err.toStdString();
    EXPECT_EQ(err.count("zelka: disk test started"), 2);
    EXPECT_EQ(zelka.exitCode(), 1); // no score
    EXPECT_TRUE(
        QString::fromUtf8(zelka.readAllStandardOutput()).contains("power:            battery"));
}

TEST(RunConditions, TheThreadsAccountFromTheSchedulersFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("sched");
    const QString full = "zelka (1234, #threads: 3)\n"
                         "-------------------------------------------------------------------\n"
                         "se.exec_start                                :      2017747.812256\n"
                         "se.sum_exec_runtime                          :        10012.500000\n"
                         "se.nr_migrations                             :                  17\n"
                         "nr_switches                                  :                 250\n"
                         "nr_voluntary_switches                        :                 200\n"
                         "nr_involuntary_switches                      :                  50\n";
    WriteTree(dir.path(), {{"sched", full}});
    const std::optional<ThreadAccount> a = ReadThreadAccount(path);
    ASSERT_TRUE(a.has_value());
    EXPECT_DOUBLE_EQ(a->runMs, 10012.5);
    EXPECT_EQ(a->waits, 200);
    EXPECT_EQ(a->preempted, 50);
    EXPECT_EQ(a->migrations, 17);
    const ThreadAccount d = *a - ThreadAccount{12.5, 100, 20, 7};
    EXPECT_EQ(d.runMs, 10000);
    EXPECT_EQ(d.waits, 100);
    EXPECT_EQ(d.preempted, 30);
    EXPECT_EQ(d.migrations, 10);
    // A kernel without the scheduler's statistics keeps no such file, or fewer fields.
    WriteTree(dir.path(),
              {{"sched", QString(full).remove(QRegularExpression("se.nr_mig[^\n]*\n"))}});
    EXPECT_FALSE(ReadThreadAccount(path).has_value());
    EXPECT_FALSE(ReadThreadAccount(dir.filePath("none")).has_value());
}

TEST(RunConditions, TheProcessTimeIsUserAndSystemTicks) {
    QTemporaryDir dir;
    const long hz = sysconf(_SC_CLK_TCK);
    struct Case {
        QString line;
        std::optional<double> ms;
    } cases[] = {
        // A command name with blanks and a parenthesis; utime 250 and stime 50 ticks.
        {"42 (zel ka) x) S 1 42 42 0 -1 4194560 100 0 0 0 250 50 0 0 20 0 3 0 1\n",
         300.0 * 1000 / double(hz)},
        {"42 (zelka) S 1 42 42 0 -1 4194560 100 0 0 0 0 0 0 0 20 0 3 0 1\n", 0.0},
        {"42 (zelka) S 1 42 42\n", std::nullopt},
        {"no name\n", std::nullopt},
    };
    for (const Case& c : cases) {
        WriteTree(dir.path(), {{"stat", c.line}});
        EXPECT_EQ(ReadProcessCpuMs(dir.filePath("stat")), c.ms) << c.line.toStdString();
    }
}

// The Direct3D device a run drew with, and why it was not the hardware's, as the conditions
// tell them: from an engine set up for 3-D on a card with and without 3-D hardware.
TEST(RunConditions, TheDirect3DDeviceAndWhyItIsNotTheHardwareOne) {
    struct Case {
        bool card3D;
        TD3DOptions options;
        bool halRefused;
        const char* device;
        const char* whyNotHal;
    };
    const Case cases[] = {
        {true, DontUseMMX, false, "HAL (GPU: Card 3)", ""},
        {true, DontUseHAL | DontUseMMX, false, "RGB emulation (software)",
         "the box for the hardware device is unticked"},
        {false, DontUseMMX, false, "RGB emulation (software)",
         "no hardware renderer: only a software rasteriser"},
        {true, DontUseMMX, true, "RGB emulation (software)",
         "the hardware device could not be created (80004005)"},
        {true, DontUseHAL, false, "MMX emulation (software)",
         "the box for the hardware device is unticked"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device + std::string(" ") + c.whyNotHal);
        directx::Adapter().Reset();
        directx::Adapter().SetDesktopBitCount(16);
        if (c.card3D)
            OfferHardware3D();
        TForm form;
        form.resize(320, 240);
        auto engine = std::make_unique<TDDDD>(&form);
        engine->Use3D = true;
        engine->D3DOptions = c.options;
        engine->AutoDisplayModeInitialize = false;
        if (c.halRefused)
            directx::Adapter().FailNext("IDirect3D2::CreateDevice(HAL)", 1, DDERR_GENERIC);
        form.CreationEnded();
        const DeviceCondition told = Direct3DDeviceCondition(
            engine.get(), "Card 3", "no hardware renderer: only a software rasteriser");
        EXPECT_EQ(told.device.toStdString(), c.device);
        EXPECT_EQ(told.whyNotHal.toStdString(), c.whyNotHal);
        engine.reset();
    }
    directx::Adapter().Reset();
    EXPECT_EQ(Direct3DDeviceCondition(nullptr, "Card 3", "").device, "none");
}
