#pragma once
// The test window as a test finds it when it starts, for the scene tests and the frame
// benchmarks alike (no test framework here).
#include "forms/Forms.h"
#include "gfxbench/DetachedHost.h"
#include "gfxbench/Unit3.h"
#include "platform/Random.h"

#include <QApplication>
#include <memory>

// Created as at the program's start, prepared for one test as the start command prepares it
// (the Direct3D window covering the screen), shown, and its measurement's set-up taken. The
// scene loads "Zelka.dat" from the current folder.
inline std::unique_ptr<TForm3> PreparedSceneWindow(DetachedHost& host, std::int32_t mode) {
    RandSeed = 1;
    auto form = std::make_unique<TForm3>(host);
    host.mode = mode;
    form->SetUpForTestMode(&host);
    if (mode == kTestModeDirect3D)
        form->setGeometry(0, 0, ScreenWidth(), ScreenHeight());
    form->show();
    QApplication::processEvents();
    form->PrepareMeasurement();
    return form;
}
