#include "HeadlessRun.h"

#include "CommandLine.h"
#include "Unit1.h"
#include "forms/Application.h"
#include "forms/Halt.h"
#include "platform/MMSystem.h"
#include "platform/Shell.h"
#include "platform/SysUtils.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <array>

namespace {

std::optional<qint64> PanelScore(const QLabel& panel) {
    try {
        return StrToInt(panel.text().toStdString());
    } catch (const EConvertError&) {
        return std::nullopt;
    }
}

QJsonValue ScoreValue(const QLabel& panel) {
    const std::optional<qint64> score = PanelScore(panel);
    return score ? QJsonValue(*score) : QJsonValue(QJsonValue::Null);
}

QJsonObject DurationsJson(const RunDurations& durations) {
    QJsonObject taken;
    for (std::size_t i = 0; i < kBenchTestCount; ++i)
        if (durations.tests[i].ms >= 0)
            taken.insert(kTestNames[qsizetype(i)], durations.tests[i].ms);
    return taken;
}

// A row of the repeat table and JSON: its place in RepeatedRun::scores and its JSON name.
struct ScoreRow {
    std::size_t index;
    QString name;
};

// The ticked tests in run order, then the overall rating.
std::vector<ScoreRow> ShownRows(const TickedTests& ticked) {
    std::vector<ScoreRow> rows;
    for (std::size_t i = 0; i < kBenchTestCount; ++i)
        if (ticked[i])
            rows.push_back({i, kTestNames[qsizetype(i)]});
    rows.push_back({kBenchTestCount, "overall"});
    return rows;
}

// The scores of a row over the runs, where they were taken.
std::vector<qint64> ScoresOf(const std::vector<RepeatedRun>& runs, std::size_t row) {
    std::vector<qint64> scores;
    for (const RepeatedRun& run : runs)
        if (run.scores[row])
            scores.push_back(*run.scores[row]);
    return scores;
}

// The panel of a row: a test's, or after them the overall rating's.
QLabel* ScorePanel(const TForm1& form, std::size_t row) {
    return row < kBenchTestCount ? form.Tests()[row].panel : form.Panel20;
}

// {name: {"on_cpu", "waits", "preempted", "migrations", "others_on_cpu"}} for the tests whose
// thread was accounted.
QJsonObject ThreadsJson(const RunDurations& durations) {
    QJsonObject threads;
    for (std::size_t i = 0; i < kBenchTestCount; ++i) {
        const TestTaken& taken = durations.tests[i];
        if (!taken.thread || taken.ms <= 0)
            continue;
        const double ms = double(taken.ms);
        const ThreadAccount& t = *taken.thread;
        QJsonObject thread{{"on_cpu", t.runMs / ms},
                           {"waits", qint64(t.waits)},
                           {"preempted", qint64(t.preempted)},
                           {"migrations", qint64(t.migrations)}};
        if (taken.othersMs)
            thread.insert("others_on_cpu", std::max(0.0, *taken.othersMs) / ms);
        threads.insert(kTestNames[qsizetype(i)], thread);
    }
    return threads;
}

} // namespace

ScoreStatistics Statistics(std::vector<qint64> scores) {
    std::sort(scores.begin(), scores.end());
    ScoreStatistics s;
    const std::size_t n = scores.size();
    s.min = scores.front();
    s.max = scores.back();
    s.median = n % 2 ? scores[n / 2] : (scores[n / 2 - 1] + scores[n / 2]) / 2;
    if (s.median != 0)
        s.spread = static_cast<double>(s.max - s.min) / static_cast<double>(s.median);
    return s;
}

QJsonObject RepeatJson(const std::vector<RepeatedRun>& runs, const TickedTests& ticked) {
    QJsonArray each;
    for (const RepeatedRun& run : runs) {
        QJsonObject scores;
        for (const ScoreRow& row : ShownRows(ticked))
            scores.insert(row.name, run.scores[row.index] ? QJsonValue(*run.scores[row.index])
                                                          : QJsonValue(QJsonValue::Null));
        each.append(QJsonObject{
            {"load_before", run.loadBefore ? QJsonValue(*run.loadBefore) : QJsonValue()},
            {"scores", scores},
            {"durations_ms", DurationsJson(run.durations)},
            {"thread", ThreadsJson(run.durations)}});
    }
    QJsonObject tests;
    for (const ScoreRow& row : ShownRows(ticked)) {
        const std::vector<qint64> scores = ScoresOf(runs, row.index);
        if (scores.empty())
            continue;
        const ScoreStatistics s = Statistics(scores);
        tests.insert(row.name,
                     QJsonObject{{"median", s.median},
                                 {"min", s.min},
                                 {"max", s.max},
                                 {"spread", s.spread ? QJsonValue(*s.spread) : QJsonValue()}});
    }
    return QJsonObject{
        {"count", static_cast<qint64>(runs.size())}, {"runs", each}, {"tests", tests}};
}

QStringList RepeatLines(const std::vector<RepeatedRun>& runs, const TickedTests& ticked) {
    QStringList lines{QString("Runs: %1; spread = (max - min) / median").arg(runs.size()),
                      QString("  %1 %2 %3 %4 %5  %6")
                          .arg("test", -8)
                          .arg("median", 10)
                          .arg("min", 10)
                          .arg("max", 10)
                          .arg("spread", 7)
                          .arg("each run")};
    for (const ScoreRow& row : ShownRows(ticked)) {
        const std::vector<qint64> scores = ScoresOf(runs, row.index);
        if (scores.empty())
            continue;
        const ScoreStatistics s = Statistics(scores);
        QStringList each;
        for (const RepeatedRun& run : runs)
            each << (run.scores[row.index] ? QString::number(*run.scores[row.index])
                                           : QString("-"));
        lines << QString("  %1 %2 %3 %4 %5  %6")
                     .arg(row.name, -8)
                     .arg(s.median, 10)
                     .arg(s.min, 10)
                     .arg(s.max, 10)
                     .arg(s.spread ? QString::asprintf("%.1f %%", *s.spread * 100) : "-", 7)
                     .arg(each.join(' '));
    }
    QStringList loads;
    for (const RepeatedRun& run : runs)
        loads << (run.loadBefore ? QString::asprintf("%.2f", *run.loadBefore) : QString("-"));
    lines << QString("  %1 %2").arg("load before each run:", -45).arg(loads.join(' '));
    return lines;
}

QByteArray ResultJson(TForm1& form, const RunDurations& durations, const RunHalt* halt,
                      const QJsonObject& more) {
    QJsonObject scores;
    for (const TForm1::TestRow& row : form.Tests())
        scores.insert(kTestNames[qsizetype(row.test)], ScoreValue(*row.panel));
    scores.insert("overall", ScoreValue(*form.Panel20));
    const QJsonObject system{
        {"cpu", form.Panel22->text()},     {"clock", form.EditHex2->text()},
        {"video", form.Panel14->text()},   {"memory", form.Panel12->text()},
        {"display", form.Panel18->text()}, {"windows", form.Panel21->text()},
    };
    QJsonObject root{
        {"scores", scores}, {"system", system}, {"durations_ms", DurationsJson(durations)}};
    for (auto it = more.begin(); it != more.end(); ++it)
        root.insert(it.key(), it.value());
    if (halt) {
        const QJsonValue test = halt->test >= 0 && halt->test < kTestNames.size()
                                    ? QJsonValue(kTestNames[halt->test])
                                    : QJsonValue(QJsonValue::Null);
        root.insert("halted", QJsonObject{{"test", test}, {"reason", halt->reason}});
    }
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool WriteOutputFile(const QString& fileName, const QByteArray& bytes) {
    QFile file(fileName);
    // Every step is checked: a full disk shows up at the write, the flush or the close.
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
              file.write(bytes) == bytes.size() && file.flush();
    if (file.isOpen())
        file.close();
    ok = ok && file.error() == QFileDevice::NoError;
    if (!ok) {
        std::fprintf(stderr, "zelka: cannot write %s: %s\n", qPrintable(fileName),
                     qPrintable(file.errorString()));
        std::fflush(stderr);
    }
    return ok;
}

HeadlessSession::HeadlessSession(HeadlessOptions options, std::FILE* out)
    : options_(std::move(options)), out_(out) {
    previousHalt_ = SetHaltAction([this] { ReportHalt(); });
}

HeadlessSession::~HeadlessSession() {
    SetHaltAction(std::move(previousHalt_));
}

void HeadlessSession::PrintResults(TForm1& form) {
    for (const QString& line : form.ResultLines())
        std::fprintf(out_, "%s\n", line.toUtf8().constData());
    std::fflush(out_);
}

QJsonObject HeadlessSession::MoreJson(const RunConditions& end) const {
    QJsonObject more{{"conditions", QJsonObject{{"start", ConditionsJson(start_)},
                                                {"end", ConditionsJson(end)}}}};
    if (options_.repeat > 1)
        more.insert("repeat", RepeatJson(runs_, Ticked()));
    return more;
}

void HeadlessSession::PrintConditions(const RunConditions& end) {
    std::fprintf(out_, "\n");
    if (options_.repeat > 1) {
        for (const QString& line : RepeatLines(runs_, Ticked()))
            std::fprintf(out_, "%s\n", line.toUtf8().constData());
        std::fprintf(out_, "\n");
    }
    for (const QString& line : ConditionLines(start_, end))
        std::fprintf(out_, "%s\n", line.toUtf8().constData());
    std::fflush(out_);
}

void HeadlessSession::ReportHalt() {
    // The engine cannot go on; what it measured before must not be lost with it.
    try {
        if (Form1) {
            TForm1& form = *Form1;
            form.TestProgress = nullptr;
            const RunHalt halt{current_, QString::fromStdString(HaltReason())};
            if (current_ >= 0)
                std::fprintf(stderr, "zelka: %s test halted; the results so far follow\n",
                             kTestNames[current_].toUtf8().constData());
            PrintResults(form);
            const RunConditions end = ProbeRunConditions();
            if (started_)
                PrintConditions(end);
            if (Application)
                Application->RunCommand([&form] { form.makeRes(); });
            if (!options_.jsonFile.isEmpty())
                WriteOutputFile(
                    options_.jsonFile,
                    ResultJson(form, durations_, &halt, started_ ? MoreJson(end) : QJsonObject{}));
        }
    } catch (...) {
        // Nothing more can be saved; the halt goes on.
    }
    ExitCode = kHaltExitCode;
    if (previousHalt_)
        previousHalt_();
}

bool HeadlessSession::RepeatRuns(TForm1& form) {
    bool ok = true;
    for (int run = 0; run < options_.repeat && ok; ++run) {
        RepeatedRun record;
        if (options_.repeat > 1) {
            if (const auto load = ReadMachineState().load)
                record.loadBefore = (*load)[0];
        }
        durations_ = RunDurations{};
        ok = Application->RunCommand([&form] { form.Button5Click(); });
        if (!ok || options_.repeat == 1)
            break;
        for (const ScoreRow& row : ShownRows(Ticked()))
            record.scores[row.index] = PanelScore(*ScorePanel(form, row.index));
        record.durations = durations_;
        runs_.push_back(record);
        std::fprintf(stderr, "zelka: run %d of %d ended\n", run + 1, options_.repeat);
        std::fflush(stderr);
    }
    if (runs_.empty())
        return ok;
    // The medians stand for the run; the rating is computed from them as from any scores.
    for (std::size_t i = 0; i < kBenchTestCount; ++i) {
        const std::vector<qint64> scores = ScoresOf(runs_, i);
        if (outcomes_[i].ticked && !scores.empty())
            ScorePanel(form, i)->setText(QString::number(Statistics(scores).median));
    }
    return Application->RunCommand([&form] { form.ComputeOverallRating(); }) && ok;
}

TickedTests HeadlessSession::Ticked() const {
    TickedTests ticked{};
    for (std::size_t i = 0; i < kBenchTestCount; ++i)
        ticked[i] = outcomes_[i].ticked;
    return ticked;
}

void HeadlessSession::TestStarted(std::size_t index, QLabel& panel) {
    watch_.startedAt = GetTickCount64();
    current_ = static_cast<int>(index);
    // A test that writes no score (the chosen drive is missing) leaves its panel as it found
    // it; the panel is emptied at the start to see that, and given its caption back.
    watch_.captionBefore = panel.text();
    panel.clear();
    std::fprintf(stderr, "zelka: %s test started\n",
                 kTestNames[qsizetype(index)].toUtf8().constData());
    watch_.account = ReadThreadAccount();
    watch_.processMs = ReadProcessCpuMs();
}

void HeadlessSession::TestEnded(std::size_t index, QLabel& panel) {
    TestTaken& taken = durations_.tests[index];
    const std::optional<ThreadAccount> accountAfter = ReadThreadAccount();
    const std::optional<double> processAfter = ReadProcessCpuMs();
    if (watch_.account && accountAfter) {
        taken.thread = *accountAfter - *watch_.account;
        if (watch_.processMs && processAfter)
            taken.othersMs = *processAfter - *watch_.processMs - taken.thread->runMs;
    }
    current_ = -1;
    TestOutcome& outcome = outcomes_[index];
    (PanelScore(panel) ? outcome.scored : outcome.missing) = true;
    if (panel.text().isEmpty())
        panel.setText(watch_.captionBefore);
    taken.ms = static_cast<qint64>(GetTickCount64() - watch_.startedAt);
    std::fprintf(stderr, "zelka: %s test ended after %lld ms\n",
                 kTestNames[qsizetype(index)].toUtf8().constData(),
                 static_cast<long long>(taken.ms));
}

void HeadlessSession::ChooseTests(TForm1& form) {
    for (const TForm1::TestRow& row : form.Tests()) {
        const auto i = static_cast<std::size_t>(row.test);
        outcomes_[i].ticked =
            options_.tests.isEmpty() || options_.tests.contains(kTestNames[qsizetype(i)]);
        row.box->setChecked(outcomes_[i].ticked);
    }
    if (!options_.drive.isEmpty()) {
        // As a user does: click into the box, which empties it, and type the letter.
        form.Edit2Click();
        form.Edit2->insert(options_.drive);
    }
}

bool HeadlessSession::EveryTickedTestScored() const {
    bool ok = true;
    for (std::size_t i = 0; i < kBenchTestCount; ++i) {
        const TestOutcome& o = outcomes_[i];
        if (o.ticked && (o.missing || !o.scored)) {
            std::fprintf(stderr, "zelka: the %s test produced no score\n",
                         kTestNames[qsizetype(i)].toUtf8().constData());
            ok = false;
        }
    }
    std::fflush(stderr);
    return ok;
}

int HeadlessSession::Run(TForm1& form) {
    ShellCallLog noDesktop;
    start_ = ProbeRunConditions();
    started_ = true;
    for (RunWarning warning : RunWarnings(start_.machine))
        std::fprintf(stderr, "%s\n", WarningLine(warning, start_.machine).toUtf8().constData());
    form.TestProgress = [this, &form](TBenchTest test, bool ended) {
        const auto index = static_cast<std::size_t>(test);
        QLabel& panel = *form.Tests()[index].panel;
        if (ended)
            TestEnded(index, panel);
        else
            TestStarted(index, panel);
        std::fflush(stderr);
    };
    ChooseTests(form);
    const TickedTests ticked = Ticked();
    const QString scene =
        SceneWarningLine(start_.scene, ticked[std::size_t(TBenchTest::DirectDraw)],
                         ticked[std::size_t(TBenchTest::Direct3D)]);
    if (!scene.isEmpty())
        std::fprintf(stderr, "%s\n", scene.toUtf8().constData());
    bool ok = RepeatRuns(form);
    const bool written = Application->RunCommand([&form] { form.makeRes(); });
    // Printed from the panels, so the results are there even where the file could not be.
    PrintResults(form);
    form.TestProgress = nullptr;
    const RunConditions end = ProbeRunConditions();
    PrintConditions(end);
    ok = EveryTickedTestScored() && ok && written;
    if (!options_.jsonFile.isEmpty())
        ok = WriteOutputFile(options_.jsonFile,
                             ResultJson(form, durations_, nullptr, MoreJson(end))) &&
             ok;
    if (options_.rankPage)
        ok = Application->RunCommand([&form] { form.Button3Click(); }) && ok;
    return ok ? 0 : 1;
}

int HeadlessRun(TForm1& form, const HeadlessOptions& options, std::FILE* out) {
    HeadlessSession session(options, out);
    return session.Run(form);
}
