// A frame of primitives allocates nothing: every allocation of the
// drawing thread is counted while a frame runs.
#include "EngineTestSupport.h"
#include "SixSquares.h"
#include "forms/Forms.h"
#include "tests/AllocationCounter.h"

namespace {

using FrameAllocationTest = Direct3DEngineTest;

TEST_F(FrameAllocationTest, CounterSeesAllocationsInsideTheEngine) {
    ExpectCounterSees([] { LogWarning("x"); }); // a log line builds its text
}

TEST_F(FrameAllocationTest, PrimitivesRenderWithoutAllocating) {
    InitMathTables();
    {
        TDDDDTexture texture(engine3.get());
        texture.LoadFromArchive(ZELKA_DAT_PATH, "boss2.bmp", 0, 0);
        ASSERT_NE(texture.Handle, 0u);
        TPrimitiveRenderer renderer(engine3.get(), 16, 1);
        renderer.SetMaxZ(2);
        renderer.SetTextureSlot(0, &texture, RECT{0, 0, 256, 256});
        // The device converts a texture once, at its first draw: the first frame may allocate.
        const DWORD clocks[] = {0, 0, 1000, 5000, 123456};
        for (std::size_t frame = 0; frame < std::size(clocks); ++frame) {
            const DWORD clock = clocks[frame];
            Clear();
            AllocationCounter counter;
            AddSixSquares(renderer, clock);
            renderer.AddRect(0, SingleRect(72, 72, 328, 328), 1, pbOpaque, 0xFFFFBAFF);
            renderer.AddRect(0, SingleRect(0, 0, 10, 10), 2, pbAlpha, 0x80FFFFFF);
            renderer.RenderAll();
            if (frame > 0) {
                EXPECT_EQ(counter.Count(), 0) << "clock " << clock;
            }
        }
        EXPECT_NE(engine3->BackBuffer->GetPixel(200, 200), 0u); // something was drawn
    }
    EXPECT_EQ(Log(), "");
}

} // namespace
