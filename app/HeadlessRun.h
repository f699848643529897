#pragma once
// The run without a window: the start command with the chosen tests, then the result file,
// written as "result.txt" and printed.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>

class TForm1;

struct HeadlessOptions {
    QStringList tests;     // the boxes left ticked; empty means all
    QString drive;         // typed into the drive box before the run; empty leaves it alone
    bool rankPage = false; // run the ranking command after the run
    QString jsonFile;      // non-empty: the scores, system and durations also go here as JSON
};

// The results of a run for machines: the six scores (null where a panel holds no integer),
// the system information as shown, and the wall-clock time each test that ran took, in ms.
struct RunDurations {
    qint64 ms[5] = {-1, -1, -1, -1, -1}; // by test in run order; -1: not run
};
// What halted the engine: the test under way (-1: the program's start) and the reason.
struct RunHalt {
    int test = -1;
    QString reason;
};
// With a halt, "halted" holds {"test": name or null, "reason": text}.
QByteArray ResultJson(TForm1& form, const RunDurations& durations, const RunHalt* halt = nullptr);

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

    HeadlessOptions options_;
    std::FILE* out_;
    RunDurations durations_;
    int current_ = -1; // the test started and not yet ended
    std::function<void()> previousHalt_;
};

// Ticks the boxes of the chosen tests and clears the others, types the drive letter, runs the
// start command inside the application's exception boundary, writes "result.txt" and prints
// its text, then runs the ranking command when asked. Nothing is opened with the shell. Each
// test's start and end are told on standard error as they happen. Returns the exit code: 0, or
// 1 when a command ended with an error, a ticked test produced no score (told on standard
// error) or an output file could not be written.
int HeadlessRun(TForm1& form, const HeadlessOptions& options, std::FILE* out);
