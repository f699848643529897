// The GDI test's shapes and sprite frames allocate nothing per shape or frame: a run with ten
// times the shapes or frames allocates as often as a short one.
#include "gfxbench/Unit2.h"
#include "platform/MMSystem.h"
#include "tests/AllocationCounter.h"

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

// The clock of a run: each shape phase lets `shapes` through, the sprite phase `frames`.
std::vector<DWORD> Readings(int shapes, int frames) {
    std::vector<DWORD> r{1};
    DWORD t = 1000;
    const auto phase = [&](int count, DWORD limit) {
        r.push_back(t);
        for (int i = 0; i < count; ++i)
            r.push_back(t);
        t += limit;
        r.push_back(t);
    };
    phase(shapes, 5500);
    phase(shapes, 5500);
    phase(shapes, 5500);
    r.push_back(2);
    phase(frames, 5500);
    return r;
}

long AllocationsOfARun(TForm2& form, int shapes, int frames) {
    const std::vector<DWORD> readings = Readings(shapes, frames);
    ScriptedClock clock([&](std::uint64_t i) {
        return i < readings.size() ? readings[i] : readings.back() + 0x40000000u;
    });
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
