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
    for (qsizetype i = 0; i < kTestNames.size(); ++i)
        if (durations.ms[i] >= 0)
            taken.insert(kTestNames[i], durations.ms[i]);
    return taken;
}

// The five tests and the overall rating, by their JSON names, in run order.
const QStringList& ScoreNames() {
    static const QStringList names = kTestNames + QStringList{"overall"};
    return names;
}

// The scores of row `i` over the runs, where they were taken.
std::vector<qint64> ScoresOf(const std::vector<RepeatedRun>& runs, qsizetype i) {
    std::vector<qint64> scores;
    for (const RepeatedRun& run : runs)
        if (run.scores[i])
            scores.push_back(*run.scores[i]);
    return scores;
}

// The panel of ScoreNames()'s row i: a test's, or after them the overall rating's.
QLabel* ScorePanel(const TForm1& form, qsizetype i) {
    return i < kTestNames.size() ? form.Tests()[static_cast<std::size_t>(i)].panel : form.Panel20;
}

bool Shown(const bool ticked[5], qsizetype i) {
    return i == 5 || ticked[i];
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

QJsonObject RepeatJson(const std::vector<RepeatedRun>& runs, const bool ticked[5]) {
    QJsonArray each;
    for (const RepeatedRun& run : runs) {
        QJsonObject scores;
        for (qsizetype i = 0; i < ScoreNames().size(); ++i)
            if (Shown(ticked, i))
                scores.insert(ScoreNames()[i], run.scores[i] ? QJsonValue(*run.scores[i])
                                                             : QJsonValue(QJsonValue::Null));
        QJsonObject threads;
        for (qsizetype i = 0; i < kTestNames.size(); ++i) {
            const std::optional<ThreadAccount>& t = run.threads[i];
            if (!t || run.durations.ms[i] <= 0)
                continue;
            const double ms = double(run.durations.ms[i]);
            QJsonObject thread{{"on_cpu", t->runMs / ms},
                               {"waits", qint64(t->waits)},
                               {"preempted", qint64(t->preempted)},
                               {"migrations", qint64(t->migrations)}};
            if (run.othersMs[i])
                thread.insert("others_on_cpu", std::max(0.0, *run.othersMs[i]) / ms);
            threads.insert(kTestNames[i], thread);
        }
        each.append(QJsonObject{
            {"load_before", run.loadBefore ? QJsonValue(*run.loadBefore) : QJsonValue()},
            {"scores", scores},
            {"durations_ms", DurationsJson(run.durations)},
            {"thread", threads}});
    }
    QJsonObject tests;
    for (qsizetype i = 0; i < ScoreNames().size(); ++i) {
        const std::vector<qint64> scores = ScoresOf(runs, i);
        if (!Shown(ticked, i) || scores.empty())
            continue;
        const ScoreStatistics s = Statistics(scores);
        tests.insert(ScoreNames()[i],
                     QJsonObject{{"median", s.median},
                                 {"min", s.min},
                                 {"max", s.max},
                                 {"spread", s.spread ? QJsonValue(*s.spread) : QJsonValue()}});
    }
    return QJsonObject{
        {"count", static_cast<qint64>(runs.size())}, {"runs", each}, {"tests", tests}};
}

QStringList RepeatLines(const std::vector<RepeatedRun>& runs, const bool ticked[5]) {
    QStringList lines{QString("Runs: %1; spread = (max - min) / median").arg(runs.size()),
                      QString("  %1 %2 %3 %4 %5  %6")
                          .arg("test", -8)
                          .arg("median", 10)
                          .arg("min", 10)
                          .arg("max", 10)
                          .arg("spread", 7)
                          .arg("each run")};
    for (qsizetype i = 0; i < ScoreNames().size(); ++i) {
        const std::vector<qint64> scores = ScoresOf(runs, i);
        if (!Shown(ticked, i) || scores.empty())
            continue;
        const ScoreStatistics s = Statistics(scores);
        QStringList each;
        for (const RepeatedRun& run : runs)
            each << (run.scores[i] ? QString::number(*run.scores[i]) : QString("-"));
        lines << QString("  %1 %2 %3 %4 %5  %6")
                     .arg(ScoreNames()[i], -8)
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
        more.insert("repeat", RepeatJson(runs_, ticked_));
    return more;
}

void HeadlessSession::PrintConditions(const RunConditions& end) {
    std::fprintf(out_, "\n");
    if (options_.repeat > 1) {
        for (const QString& line : RepeatLines(runs_, ticked_))
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
        for (auto& t : threads_)
            t.reset();
        for (auto& o : othersMs_)
            o.reset();
        ok = Application->RunCommand([&form] { form.Button5Click(); });
        if (!ok || options_.repeat == 1)
            break;
        for (qsizetype i = 0; i < ScoreNames().size(); ++i)
            if (Shown(ticked_, i))
                record.scores[i] = PanelScore(*ScorePanel(form, i));
        record.durations = durations_;
        std::copy(std::begin(threads_), std::end(threads_), std::begin(record.threads));
        std::copy(std::begin(othersMs_), std::end(othersMs_), std::begin(record.othersMs));
        runs_.push_back(record);
        std::fprintf(stderr, "zelka: run %d of %d ended\n", run + 1, options_.repeat);
        std::fflush(stderr);
    }
    if (runs_.empty())
        return ok;
    // The medians stand for the run; the rating is computed from them as from any scores.
    for (qsizetype i = 0; i < kTestNames.size(); ++i) {
        const std::vector<qint64> scores = ScoresOf(runs_, i);
        if (ticked_[i] && !scores.empty())
            ScorePanel(form, i)->setText(QString::number(Statistics(scores).median));
    }
    return Application->RunCommand([&form] { form.ComputeOverallRating(); }) && ok;
}

int HeadlessSession::Run(TForm1& form) {
    ShellCallLog noDesktop;
    start_ = ProbeRunConditions();
    started_ = true;
    for (RunWarning warning : RunWarnings(start_.machine))
        std::fprintf(stderr, "%s\n", WarningLine(warning, start_.machine).toUtf8().constData());
    // Wall-clock time, read apart from the tests' own clock so that it takes none of its readings.
    std::uint64_t startedAt = 0;
    const std::array<TForm1::TestRow, kBenchTestCount> tests = form.Tests();
    // A test that writes no score (the chosen drive is missing) leaves its panel as it found
    // it; the panel is emptied at the start to see that, and given its caption back.
    QString captionBefore;
    std::optional<ThreadAccount> accountBefore;
    std::optional<double> processBefore;
    form.TestProgress = [&](TBenchTest test, bool ended) {
        const auto index = static_cast<qsizetype>(test);
        const QByteArray name = kTestNames[index].toUtf8();
        if (!ended) {
            startedAt = GetTickCount64();
            current_ = static_cast<int>(index);
            captionBefore = tests[index].panel->text();
            tests[index].panel->clear();
            std::fprintf(stderr, "zelka: %s test started\n", name.constData());
            accountBefore = ReadThreadAccount();
            processBefore = ReadProcessCpuMs();
        } else {
            const std::optional<ThreadAccount> accountAfter = ReadThreadAccount();
            const std::optional<double> processAfter = ReadProcessCpuMs();
            if (accountBefore && accountAfter) {
                threads_[index] = *accountAfter - *accountBefore;
                if (processBefore && processAfter)
                    othersMs_[index] = *processAfter - *processBefore - threads_[index]->runMs;
            }
            current_ = -1;
            (PanelScore(*tests[index].panel) ? scored_ : missing_)[index] = true;
            if (tests[index].panel->text().isEmpty())
                tests[index].panel->setText(captionBefore);
            durations_.ms[index] = static_cast<qint64>(GetTickCount64() - startedAt);
            std::fprintf(stderr, "zelka: %s test ended after %lld ms\n", name.constData(),
                         static_cast<long long>(durations_.ms[index]));
        }
        std::fflush(stderr);
    };
    for (const TForm1::TestRow& row : tests) {
        const auto i = static_cast<qsizetype>(row.test);
        ticked_[i] = options_.tests.isEmpty() || options_.tests.contains(kTestNames[i]);
        row.box->setChecked(ticked_[i]);
    }
    if (!options_.drive.isEmpty()) {
        // As a user does: click into the box, which empties it, and type the letter.
        form.Edit2Click();
        form.Edit2->insert(options_.drive);
    }
    bool ok = RepeatRuns(form);
    const bool written = Application->RunCommand([&form] { form.makeRes(); });
    // Printed from the panels, so the results are there even where the file could not be.
    PrintResults(form);
    form.TestProgress = nullptr;
    const RunConditions end = ProbeRunConditions();
    PrintConditions(end);
    ok = ok && written;
    for (qsizetype i = 0; i < kTestNames.size(); ++i) {
        if (ticked_[i] && (missing_[i] || !scored_[i])) {
            std::fprintf(stderr, "zelka: the %s test produced no score\n",
                         kTestNames[i].toUtf8().constData());
            ok = false;
        }
    }
    std::fflush(stderr);
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
