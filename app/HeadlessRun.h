#pragma once
// The run without a window: the start command with the chosen tests, then the result file,
// written as "result.txt" and printed.
#include "RunConditions.h"
#include "Unit1.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

struct HeadlessOptions {
    QStringList tests;     // the boxes left ticked; empty means all
    QString drive;         // typed into the drive box before the run; empty leaves it alone
    bool rankPage = false; // run the ranking command after the run
    QString jsonFile;      // non-empty: the scores, system and durations also go here as JSON
    int repeat = 1;        // the start command this many times; the panels end on the medians
};

// What one test took in one start command: its wall-clock time in ms (-1: not run), what the
// scheduler did with the thread that ran it, and the processor time the program's other
// threads (the presenter's, Qt's) took meanwhile.
struct TestTaken {
    qint64 ms = -1;
    std::optional<ThreadAccount> thread;
    std::optional<double> othersMs;
};
// The five tests of one start command, in run order.
struct RunDurations {
    std::array<TestTaken, kBenchTestCount> tests;
};
// What halted the engine: the test under way (-1: the program's start) and the reason.
struct RunHalt {
    int test = -1;
    QString reason;
};
// The results of a run for machines: the six scores (null where a panel holds no integer),
// the system information as shown, and the wall-clock time each test that ran took, in ms.
// With a halt, "halted" holds {"test": name or null, "reason": text}. The members of `more`
// (the conditions, the repeated runs) are added to the document as they are.
QByteArray ResultJson(TForm1& form, const RunDurations& durations, const RunHalt* halt = nullptr,
                      const QJsonObject& more = {});

// The scores of one test over repeated runs: the median (of an even count, the mean of the
// middle two, truncated), the lowest, the highest and the spread (highest - lowest) / median,
// which is missing where the median is 0.
struct ScoreStatistics {
    qint64 median = 0;
    qint64 min = 0;
    qint64 max = 0;
    std::optional<double> spread;
};
ScoreStatistics Statistics(std::vector<qint64> scores); // at least one score

// The tests chosen for a run, in run order.
using TickedTests = std::array<bool, kBenchTestCount>;

// One start command of a repeated run: each score as its panel ended (none where it holds no
// integer or the test was not ticked), the 1-minute load average just before it, and what
// each test took.
struct RepeatedRun {
    std::optional<qint64> scores[kBenchTestCount + 1]; // by test in run order, then the overall
    std::optional<double> loadBefore;
    RunDurations durations;
};
// {"count", "runs": [{"load_before", "scores", "durations_ms", "thread": {name: {"on_cpu"
// (its share of the test's wall-clock time), "waits", "preempted", "migrations",
// "others_on_cpu" (the share the program's other threads took)}}}],
// "tests": {name: {"median",
// "min", "max", "spread"}}} for the tests ticked and the overall rating.
QJsonObject RepeatJson(const std::vector<RepeatedRun>& runs, const TickedTests& ticked);
// The table printed after the results: a line per test, with every run's score.
QStringList RepeatLines(const std::vector<RepeatedRun>& runs, const TickedTests& ticked);

// Writes the bytes and makes sure they reached the file: written, flushed and closed without
// an error. Otherwise tells "zelka: cannot write FILE: reason" on standard error and returns
// false.
bool WriteOutputFile(const QString& fileName, const QByteArray& bytes);

// A headless run from before the program's windows exist to its end. While it lives, a halt
// of the display engine (at start or in a test) still prints the results measured so far,
// writes "result.txt" and the JSON file with the halted test marked, and ends the program
// with kHaltExitCode.
class HeadlessSession {
public:
    HeadlessSession(HeadlessOptions options, std::FILE* out);
    ~HeadlessSession();
    HeadlessSession(const HeadlessSession&) = delete;
    HeadlessSession& operator=(const HeadlessSession&) = delete;

    // The run itself, as HeadlessRun below.
    int Run(TForm1& form);

private:
    void ReportHalt();
    void PrintResults(TForm1& form);
    // The conditions at the start and now, and the runs so far where the run repeats.
    QJsonObject MoreJson(const RunConditions& end) const;
    void PrintConditions(const RunConditions& end);
    bool RepeatRuns(TForm1& form);
    TickedTests Ticked() const;
    // Ticks the chosen tests' boxes, clears the others and types the drive letter.
    void ChooseTests(TForm1& form);
    // Told by the start command around each test: the test's time, its thread's account and
    // whether its panel ended with a score.
    void TestStarted(std::size_t index, QLabel& panel);
    void TestEnded(std::size_t index, QLabel& panel);
    // Tells on standard error each ticked test that produced no score in some run.
    bool EveryTickedTestScored() const;

    HeadlessOptions options_;
    std::FILE* out_;
    RunDurations durations_;
    int current_ = -1;     // the test started and not yet ended
    bool started_ = false; // the run began: the start's conditions are known
    RunConditions start_;
    std::vector<RepeatedRun> runs_;
    // Each test's part in the whole run: chosen, and whether it ended with a score in some
    // run and without one in some run.
    struct TestOutcome {
        bool ticked = false;
        bool scored = false;
        bool missing = false;
    };
    std::array<TestOutcome, kBenchTestCount> outcomes_{};
    // The test under way: when it started (a wall-clock time, read apart from the tests' own
    // clock so that it takes none of its readings), its panel's caption before it, and the
    // thread's and the process's accounts then.
    struct TestWatch {
        std::uint64_t startedAt = 0;
        QString captionBefore;
        std::optional<ThreadAccount> account;
        std::optional<double> processMs;
    };
    TestWatch watch_;
    std::function<void()> previousHalt_;
};

// Tells on standard error what may make scores low (battery, a powersave governor, load) and
// a test scene whose pictures do not all load for the chosen tests, ticks the boxes of the
// chosen tests and clears the others, types the drive letter, runs the start command inside the
// application's exception boundary (repeated: as many times, the panels then set to each test's
// median and the rating computed from them), writes "result.txt" and prints its text, the repeated
// runs' table and the run's conditions at its start and end, then runs the ranking command when
// asked. Nothing is opened with the shell. Each test's start and end are told on standard error as
// they happen. Returns the exit code: 0, or 1 when a command ended with an error, a ticked test
// produced no score (told on standard error) or an output file could not be written.
int HeadlessRun(TForm1& form, const HeadlessOptions& options, std::FILE* out);
