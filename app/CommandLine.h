#pragma once
// The program's command line.
#include <QString>
#include <QStringList>

struct CommandLine {
    enum class Mode { Window, Run, Report, Screenshots, Help };
    Mode mode = Mode::Window;
    bool headless = false;    // --headless, or implied where no display exists
    QStringList tests;        // --tests: the boxes left ticked; empty means all
    QString screenshotFolder; // --screenshots FOLDER
    QString drive;            // --drive L: the disk test's drive letter
    bool rankPage = false;    // --rank-page: write the ranking page after the run
    QString jsonFile;         // --json FILE: the results also as JSON
    QString error;            // non-empty: the one-line usage message; exit code 2
};

// The test names --tests accepts, in run order.
inline const QStringList kTestNames = {"cpu", "gdi", "ddraw", "d3d", "disk"};

CommandLine ParseCommandLine(const QStringList& arguments); // without the program name

inline constexpr const char* kUsage =
    "usage: zelka [--run] [--report] [--headless] [--tests cpu,gdi,ddraw,d3d,disk] [--drive L] "
    "[--rank-page] [--json FILE] [--screenshots FOLDER] [--help]";
