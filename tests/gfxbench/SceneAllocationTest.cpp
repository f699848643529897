// The test window's frames allocate nothing once running: every allocation of the thread
// that draws is counted while a frame runs (the presenter, like the display hardware it
// plays, works beside the test on a thread of its own).
#include "directx/DisplayAdapter.h"
#include "engine/dddd_log.h"
#include "forms/Controls.h"
#include "gfxbench/DetachedHost.h"
#include "gfxbench/Unit3.h"
#include "platform/Random.h"
#include "tests/AllocationCounter.h"
#include "tests/ScopedEnv.h"
#include "tests/gfxbench/SceneFixture.h"
#include "tests/gfxbench/SceneWindow.h"

#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class SceneAllocationTest : public SceneFolderTest {
protected:
    void TearDown() override {
        form.reset();
        SceneFolderTest::TearDown();
    }
    TForm3& Window(std::int32_t mode) {
        form = PreparedSceneWindow(host, mode);
        return *form;
    }

    DetachedHost host;
    std::unique_ptr<TForm3> form;
};

TEST_F(SceneAllocationTest, CounterSeesAllocations) {
    ExpectCounterSees([] { LogWarning("x"); }); // a log line builds its text
}

TEST_F(SceneAllocationTest, DirectDrawScenesOfEverySpeedDrawWithoutAllocating) {
    TForm3& f = Window(1);
    ASSERT_TRUE(f.DDDD1->FullScreen);
    // Frames of every scroll speed, with sprites wandering off the screen.
    for (std::int32_t frame : {1, 301, 501, 701, 901, 1300}) {
        f.FrameNumber = frame - 1;
        AllocationCounter counter;
        f.DrawDirectDrawScene();
        EXPECT_EQ(counter.Count(), 0) << "frame " << frame;
    }
}

TEST_F(SceneAllocationTest, Direct3DScenesOfEveryPhaseRenderWithoutAllocating) {
    TForm3& f = Window(2);
    ASSERT_NE(f.DDDD1->D3DDevice, nullptr);
    // The device converts a texture once, at its first draw: the first frame may allocate.
    f.DrawDirect3DScene(0);
    for (int phase : {0, 1, 2, 3, 2}) {
        AllocationCounter counter;
        f.DrawDirect3DScene(phase);
        EXPECT_EQ(counter.Count(), 0) << "phase " << phase;
    }
    EXPECT_NE(f.DDDD1->BackBuffer->GetPixel(200, 200), 0u); // something was drawn
}

// Whole DirectDraw frames as the test runs them, the flip that hands the front to the
// presenter included, allocate nothing.
TEST_F(SceneAllocationTest, WholeDirectDrawFramesWithTheirFlipAllocateNothing) {
    TForm3& f = Window(1);
    f.DirectDrawFrame();
    for (int i = 0; i < 40; ++i) {
        AllocationCounter counter;
        f.DirectDrawFrame();
        EXPECT_EQ(counter.Count(), 0) << "frame " << i;
    }
}

} // namespace
