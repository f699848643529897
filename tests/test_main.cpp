// Test entry point: every test program runs inside one QApplication on Qt's offscreen
// platform, with an application object whose boxes never wait for a click.
#include <QApplication>
#include <gtest/gtest.h>

#include "forms/Application.h"
#include "forms/Fonts.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    InstallFontAliases();
    QApplication qapp(argc, argv);
    TApplication application(/*headless=*/true);
    return RUN_ALL_TESTS();
}
