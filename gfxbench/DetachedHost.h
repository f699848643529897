#pragma once
// The main window's score panels, sprite picture and test mode without the main window: what
// a test window needs to run on its own, as the benchmarks and the tests run it.
#include "BenchHost.h"
#include "forms/Controls.h"

#include <QLabel>

class DetachedHost : public BenchHost {
public:
    QLabel& GdiScorePanel() override { return gdi; }
    QLabel& DirectDrawScorePanel() override { return directDraw; }
    QLabel& Direct3DScorePanel() override { return direct3D; }
    TImage& SpritePicture() override { return picture; }
    TImage& SpriteMask() override { return picture; }
    std::int32_t SceneTestMode() const override { return mode; }

    std::int32_t mode = kTestModeDirectDraw;
    QLabel gdi{"0"}, directDraw{"0"}, direct3D{"0"};
    TImage picture;
};
