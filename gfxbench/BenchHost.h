#pragma once
// What the test windows see of the main window: the value panel a test writes its score into
// and the pictures it draws with. The main window implements it; the test windows get it at
// creation and never include the main window's header.
class QLabel;
class TImage;

class BenchHost {
public:
    // The GDI test's value panel; its caption is the score.
    virtual QLabel& GdiScorePanel() = 0;
    // The sprite's colour picture and its mask (black opaque, white transparent).
    virtual TImage& SpritePicture() = 0;
    virtual TImage& SpriteMask() = 0;

protected:
    ~BenchHost() = default;
};
