// Test entry point: every test program runs inside one QApplication on Qt's offscreen
// platform, with an application object whose boxes never wait for a click.
#include "forms/Application.h"
#include "forms/Fonts.h"
#include "gpu/Renderer.h"
#include "platform/ProgramFolders.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    InstallFontAliases();
    // The program's data folder (stored results, result files, the log) is a fresh one for
    // each test program and the programs it starts, never the user's.
    // A test program started by another one shares its folder and makes no new one.
    std::optional<QTemporaryDir> data;
    if (qEnvironmentVariableIsEmpty("ZELKA_TEST_DATA_HOME")) {
        data.emplace();
        qputenv("ZELKA_TEST_DATA_HOME", QFile::encodeName(data->path()));
    }
    qputenv("XDG_DATA_HOME", qgetenv("ZELKA_TEST_DATA_HOME"));
    // The machine's state (load, governor, power) is read from an empty tree, so no test
    // depends on how busy the machine running it is; tests that need a state script it.
    std::optional<QTemporaryDir> systemRoot;
    if (qEnvironmentVariableIsEmpty("ZELKA_SYSTEM_ROOT")) {
        systemRoot.emplace();
        qputenv("ZELKA_SYSTEM_ROOT", QFile::encodeName(systemRoot->path()));
    }
    CreateProgramDataFolder();
    // The suite's in-process runs take the software layer whatever the machine has; the GPU
    // tests choose their road themselves.
    gpu::SetRendererChoice(gpu::RendererChoice::Software);
    QApplication qapp(argc, argv);
    TApplication application(/*headless=*/true);
    return RUN_ALL_TESTS();
}
