#pragma once
// The program's command line.
#include <QString>
#include <QStringList>

struct CommandLine {
    enum class Mode { Window, Run, Report, Screenshots, Help, Version };
    Mode mode = Mode::Window;
    bool headless = false;     // --headless, or implied where no display exists
    QStringList tests;         // --tests: the boxes left ticked; empty means all
    QString screenshotFolder;  // --screenshots FOLDER
    QString drive;             // --drive L: the disk test's drive letter
    bool rankPage = false;     // --rank-page: write the ranking page after the run
    QString jsonFile;          // --json FILE: the results also as JSON
    int repeat = 1;            // --repeat N: the chosen tests N times, the medians kept
    QString renderer = "auto"; // --renderer auto|gpu|software: the graphics tests' road
    bool noHal = false;        // --no-hal: the box for the hardware 3-D device starts unticked
    QString error;             // non-empty: the one-line usage message; exit code 2
};

// The most runs --repeat takes.
inline constexpr int kMaxRepeat = 100;

// The test names --tests accepts, in run order.
inline const QStringList kTestNames = {"cpu", "gdi", "ddraw", "d3d", "disk"};

CommandLine ParseCommandLine(const QStringList& arguments); // without the program name

inline constexpr const char* kUsage =
    "usage: zelka [--run] [--report] [--headless] [--tests cpu,gdi,ddraw,d3d,disk] [--drive L] "
    "[--rank-page] [--json FILE] [--repeat N] [--renderer auto|gpu|software] [--no-hal] "
    "[--screenshots FOLDER] [--version] [--help]";

// What --help prints: the usage line, then one line per option.
inline constexpr const char* kHelp =
    "usage: zelka [OPTION]...\n"
    "A PC benchmark: processor, 2-D drawing, DirectDraw, Direct3D and disk, each given a score.\n"
    "Without an option the main window opens.\n"
    "\n"
    "  --run                 run the ticked tests at once, print and write result.txt, exit\n"
    "  --tests LIST          with --run: only these tests (cpu,gdi,ddraw,d3d,disk)\n"
    "  --drive L             with --run: the disk test runs on drive L\n"
    "  --rank-page           with --run: also write the ranking page intsc.htm\n"
    "  --json FILE           with --run: also write the results as JSON to FILE\n"
    "  --repeat N            with --run: run the tests N times, keep the medians\n"
    "  --report              print the comparison of the stored results in Report/ and exit\n"
    "  --headless            use no display even where one exists\n"
    "  --renderer WHICH      the graphics tests' video memory, blits and 3-D device: auto (the\n"
    "                        graphics hardware where there is one), gpu (required), software\n"
    "  --no-hal              the Direct3D test on the software rasteriser (RGB emulation), as\n"
    "                        with the box for the hardware 3-D device unticked\n"
    "  --screenshots FOLDER  save a picture of every window into FOLDER and exit\n"
    "  --version             print the program's version and build type and exit\n"
    "  -h, --help            print this help and exit\n"
    "\n"
    "Exit status: 0 done, 1 a test or a file failed, 2 a bad option, 3 the display engine "
    "halted.\n"
    "See zelka(1) for the environment and the files.\n";
