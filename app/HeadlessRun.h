#pragma once
// The run without a window: the start command with the chosen tests, then the results as
// "label:value" lines.
#include <QStringList>
#include <cstdio>

class TForm1;

// System information, then the score panels, in the order of the result file.
QStringList ResultLines(const TForm1& form);

// Ticks the boxes of the named tests (all of them when none are named) and clears the others,
// runs the start command inside the application's exception boundary, and prints the result
// lines. Returns the exit code: 0, or 1 when the command ended with an error.
int HeadlessRun(TForm1& form, const QStringList& tests, std::FILE* out);
