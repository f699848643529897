// ゼルカ: start-up, the command line, and the choice between a window and a headless run.
#include "CommandLine.h"
#include "HeadlessRun.h"
#include "Program.h"
#include "Screenshots.h"
#include "TerminalReport.h"
#include "Unit1.h"
#include "Unit4.h"
#include "Version.h"
#include "directx/GpuBlitter.h"
#include "forms/Application.h"
#include "forms/Fonts.h"
#include "gpu/Renderer.h"
#include "platform/OwnFiles.h"
#include "platform/ProgramFolders.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <new>
#include <optional>

namespace {

// The command line, its file names made absolute; an exit code where the line is answered at
// once (a mistake in it, --help, --version).
std::optional<int> ReadCommandLine(int argc, char** argv, CommandLine& line) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    line = ParseCommandLine(arguments);
    if (!line.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(line.error));
        return 2;
    }
    if (line.mode == CommandLine::Mode::Help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (line.mode == CommandLine::Mode::Version) {
        std::printf("zelka %s, %s build\n", ProgramVersion(), BuildType());
        return 0;
    }
    // Names are taken relative to the folder the program was started in: the disk test
    // changes the current folder.
    if (!line.jsonFile.isEmpty())
        line.jsonFile = QFileInfo(line.jsonFile).absoluteFilePath();
    if (!line.screenshotFolder.isEmpty())
        line.screenshotFolder = QFileInfo(line.screenshotFolder).absoluteFilePath();
    return std::nullopt;
}

// Whether nothing is shown on a screen: asked for, without a display, or for the screenshots
// and the report.
bool RunsHeadless(const CommandLine& line) {
    const bool noDisplay =
        qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    return line.headless || noDisplay || line.mode == CommandLine::Mode::Screenshots ||
           line.mode == CommandLine::Mode::Report;
}

// What the line asks for, once the application exists: the report, a run, the screenshots or
// the window.
int RunMode(const CommandLine& line, TApplication& application, bool headless) {
    if (line.mode == CommandLine::Mode::Report) {
        // The report needs the main window's probe and the report window only.
        application.SetTitle(kApplicationTitle);
        TForm1* main = application.CreateForm<TForm1>();
        TForm4* report = application.CreateForm<TForm4>();
        return PrintReport(*main, *report, stdout);
    }
    if (line.mode == CommandLine::Mode::Window) {
        // The window works in the program's folder, as a program started from its menu entry
        // does: the result file and the ranking page land beside the stored results.
        QDir::setCurrent(QFile::decodeName(ProgramDataFolder().c_str()));
    }
    // A run reports a halt from the first window on: the engine may halt while it starts.
    std::optional<HeadlessSession> run;
    if (line.mode == CommandLine::Mode::Run)
        run.emplace(
            HeadlessOptions{line.tests, line.drive, line.rankPage, line.jsonFile, line.repeat},
            stdout);
    try {
        CreateProgramForms(application);
    } catch (const std::exception& error) {
        // Nothing is shown yet that could carry the message (a picture too large for memory).
        std::fprintf(stderr, "zelka: cannot start: %s\n",
                     dynamic_cast<const std::bad_alloc*>(&error) ? "out of memory" : error.what());
        return 1;
    }
    if (line.noHal) {
        // As a user unticks the box.
        Form1->set_cb1->setChecked(false);
        Form1->set_cb1Click();
    }

    switch (line.mode) {
    case CommandLine::Mode::Run:
        if (!headless)
            Form1->show();
        return run->Run(*Form1);
    case CommandLine::Mode::Screenshots:
        return SaveScreenshots(line.screenshotFolder) ? 0 : 1;
    case CommandLine::Mode::Window:
    case CommandLine::Mode::Report:
    case CommandLine::Mode::Help:
    case CommandLine::Mode::Version:
        break;
    }
    Form1->show();
    return application.Run();
}

} // namespace

int main(int argc, char** argv) {
    CommandLine line;
    if (const std::optional<int> answered = ReadCommandLine(argc, argv, line))
        return *answered;

    KeepQtMessagesOffStandardError();
    if (!CreateProgramDataFolder())
        std::fprintf(stderr, "zelka: cannot create the folder %s\n", ProgramDataFolder().c_str());

    // The graphics tests' road, chosen before anything draws.
    const auto choice = gpu::ParseRendererChoice(line.renderer.toStdString());
    gpu::SetRendererChoice(*choice);

    const bool headless = RunsHeadless(line);
    if (headless)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    InstallFontAliases();

    InstallCleanupOnSignals();
    QApplication qapp(argc, argv);
    QGuiApplication::setDesktopFileName("example.orvane.zelka");
    TApplication application(headless && line.mode != CommandLine::Mode::Screenshots);
    // Probed once the application has said which window system it shows on; `gpu` insists on
    // the hardware.
    if (*choice == gpu::RendererChoice::Gpu && !directx::GpuBlitter::Get()) {
        std::fprintf(stderr, "zelka: no hardware OpenGL renderer: %s\n",
                     gpu::ChosenRoad().whyNotGpu.c_str());
        return 2;
    }
    return RunMode(line, application, headless);
}
