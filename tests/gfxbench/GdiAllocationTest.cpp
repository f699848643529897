// The GDI test's shapes and sprite frames allocate nothing per shape or frame: a run with ten
// times the shapes or frames allocates as often as a short one.
#include "gfxbench/Unit2.h"
#include "platform/MMSystem.h"
#include "tests/AllocationCounter.h"
#include "tests/gfxbench/GdiRunScript.h"

#include <QLabel>
#include <gtest/gtest.h>
#include <vector>

namespace {

class Host : public BenchHost {
public:
    Host() {
        QPixmap picture(100, 100);
        picture.fill(Qt::red);
        sprite.SetPicture(picture);
        picture.fill(Qt::black);
        mask.SetPicture(picture);
    }
    QLabel& GdiScorePanel() override { return panel; }
    QLabel& DirectDrawScorePanel() override { return panel; }
    QLabel& Direct3DScorePanel() override { return panel; }
    TImage& SpritePicture() override { return sprite; }
    TImage& SpriteMask() override { return mask; }
    std::int32_t SceneTestMode() const override { return 1; }
    QLabel panel{"0"};
    TImage sprite, mask;
};

long AllocationsOfARun(TForm2& form, int shapes, int frames) {
    const ScriptedGdiRun run(
        {.lines = shapes, .rectangles = shapes, .ellipses = shapes, .frames = frames});
    AllocationCounter counter;
    form.DrawProc();
    return counter.Count();
}

TEST(GdiAllocation, ShapesAndFramesAllocateNothingEach) {
    Host host;
    TForm2 form(host);
    form.resize(640, 480);
    form.show();
    AllocationsOfARun(form, 10, 2); // the first run makes what runs keep
    EXPECT_EQ(AllocationsOfARun(form, 2000, 2), AllocationsOfARun(form, 200, 2)) << "shapes";
    EXPECT_EQ(AllocationsOfARun(form, 10, 40), AllocationsOfARun(form, 10, 4)) << "frames";
}

} // namespace
