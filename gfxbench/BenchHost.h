#pragma once
// What the test windows see of the main window: the value panels a test writes its score into,
// the pictures it draws with, and which scene the DirectDraw/Direct3D window runs next. The
// main window implements it; the test windows get it at creation and never include the main
// window's header.
#include <cstdint>

class QLabel;
class TImage;

// The main window's test mode, the scene the DirectDraw/Direct3D window runs; any other value
// sets up no scene.
inline constexpr std::int32_t kTestModeDirectDraw = 1;
inline constexpr std::int32_t kTestModeDirect3D = 2;

class BenchHost {
public:
    // The value panels of the graphics tests; a caption is the score.
    virtual QLabel& GdiScorePanel() = 0;
    virtual QLabel& DirectDrawScorePanel() = 0;
    virtual QLabel& Direct3DScorePanel() = 0;
    // The sprite's colour picture and its mask (black opaque, white transparent).
    virtual TImage& SpritePicture() = 0;
    virtual TImage& SpriteMask() = 0;
    // kTestModeDirectDraw or kTestModeDirect3D.
    virtual std::int32_t SceneTestMode() const = 0;

protected:
    ~BenchHost() = default;
};
