// ゼルカ: start-up, the command line, and the choice between a window and a headless run.
#include "CommandLine.h"
#include "HeadlessRun.h"
#include "Program.h"
#include "Screenshots.h"
#include "Unit1.h"
#include "forms/Application.h"
#include "forms/Fonts.h"
#include "platform/OwnFiles.h"

#include <QApplication>
#include <cstdio>
#include <new>
#include <optional>

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = ParseCommandLine(arguments);
    if (!line.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(line.error));
        return 2;
    }
    if (line.mode == CommandLine::Mode::Help) {
        std::printf("%s\n", kUsage);
        return 0;
    }

    const bool noDisplay =
        qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const bool headless = line.headless || noDisplay || line.mode == CommandLine::Mode::Screenshots;
    if (headless)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    InstallFontAliases();

    InstallCleanupOnSignals();
    QApplication qapp(argc, argv);
    TApplication application(headless && line.mode != CommandLine::Mode::Screenshots);
    // A run reports a halt from the first window on: the engine may halt while it starts.
    std::optional<HeadlessSession> run;
    if (line.mode == CommandLine::Mode::Run)
        run.emplace(HeadlessOptions{line.tests, line.drive, line.rankPage, line.jsonFile}, stdout);
    try {
        CreateProgramForms(application);
    } catch (const std::exception& error) {
        // Nothing is shown yet that could carry the message (a picture too large for memory).
        std::fprintf(stderr, "zelka: cannot start: %s\n",
                     dynamic_cast<const std::bad_alloc*>(&error) ? "out of memory" : error.what());
        return 1;
    }

    switch (line.mode) {
    case CommandLine::Mode::Run:
        if (!headless)
            Form1->show();
        return run->Run(*Form1);
    case CommandLine::Mode::Screenshots:
        return SaveScreenshots(line.screenshotFolder) ? 0 : 1;
    case CommandLine::Mode::Window:
    case CommandLine::Mode::Help:
        break;
    }
    Form1->show();
    return application.Run();
}
