// ゼルカ: start-up, the command line, and the choice between a window and a headless run.
#include "CommandLine.h"
#include "HeadlessRun.h"
#include "Program.h"
#include "Screenshots.h"
#include "Unit1.h"
#include "forms/Application.h"
#include "forms/Fonts.h"

#include <QApplication>
#include <cstdio>

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

    QApplication qapp(argc, argv);
    TApplication application(headless && line.mode != CommandLine::Mode::Screenshots);
    CreateProgramForms(application);

    switch (line.mode) {
    case CommandLine::Mode::Run:
        if (!headless)
            Form1->show();
        return HeadlessRun(*Form1, {line.tests, line.drive, line.rankPage, line.jsonFile}, stdout);
    case CommandLine::Mode::Screenshots:
        return SaveScreenshots(line.screenshotFolder) ? 0 : 1;
    case CommandLine::Mode::Window:
    case CommandLine::Mode::Help:
        break;
    }
    Form1->show();
    return application.Run();
}
