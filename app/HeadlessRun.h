#pragma once
// The run without a window: the start command with the chosen tests, then the result file,
// written as "result.txt" and printed.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdio>

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
QByteArray ResultJson(TForm1& form, const RunDurations& durations);

// Ticks the boxes of the chosen tests and clears the others, types the drive letter, runs the
// start command inside the application's exception boundary, writes "result.txt" and prints
// its text, then runs the ranking command when asked. Nothing is opened with the shell. Each
// test's start and end are told on standard error as they happen. Returns the exit code: 0, or
// 1 when a command ended with an error or the JSON file could not be written.
int HeadlessRun(TForm1& form, const HeadlessOptions& options, std::FILE* out);
