#pragma once
// The application object the window benchmarks need: on the display when there is one (the
// screen benchmarks run on their own X servers), else on the offscreen platform.
#include <QApplication>

namespace bench {

inline void EnsureApplication() {
    static int argc = 1;
    static char name[] = "zelka_bench";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv);
}

} // namespace bench
