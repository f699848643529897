#pragma once
// The comparison report in the terminal: the report window's grid as text, one column per
// stored result file beside the current values, aligned by display width.
#include <QString>
#include <cstdio>

class TForm1;
class TForm4;

// Terminal columns a text takes: two for a wide (CJK, full-width) character, one otherwise.
int DisplayWidth(const QString& text);

// The grid's rows as lines: each column padded to its widest cell, two blanks between
// columns, trailing blanks dropped; rows with no text at all are left out.
QString ReportText(const TForm4& report);

// Fills the report from the stored result files in the program's Report folder, as the
// report command does, and prints it. Returns the exit code: 0, or 1 when reading a file
// failed (the error is printed on standard error).
int PrintReport(TForm1& form, TForm4& report, std::FILE* out);
