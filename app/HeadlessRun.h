#pragma once
// The run without a window: the start command with the chosen tests, then the result file,
// written as "result.txt" and printed.
#include <QString>
#include <QStringList>
#include <cstdio>

class TForm1;

struct HeadlessOptions {
    QStringList tests;     // the boxes left ticked; empty means all
    QString drive;         // typed into the drive box before the run; empty leaves it alone
    bool rankPage = false; // run the ranking command after the run
};

// Ticks the boxes of the chosen tests and clears the others, types the drive letter, runs the
// start command inside the application's exception boundary, writes "result.txt" and prints
// its text, then runs the ranking command when asked. Nothing is opened with the shell.
// Returns the exit code: 0, or 1 when a command ended with an error.
int HeadlessRun(TForm1& form, const HeadlessOptions& options, std::FILE* out);
