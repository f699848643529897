// A frame of primitives allocates nothing: every allocation of the
// drawing thread is counted while a frame runs.
#include "EngineTestSupport.h"
#include "SixSquares.h"
#include "forms/Forms.h"
#include "tests/AllocationCounter.h"

namespace {

class FrameAllocationTest : public EngineTest {
protected:
    void TearDown() override {
        if (engine2)
            engine2->Destroying = true;
        engine2.reset();
        EngineTest::TearDown();
    }
    TForm form;
    std::unique_ptr<TDDDD> engine2;
};

TEST_F(FrameAllocationTest, CounterSeesAllocationsInsideTheEngine) {
    long seen = 0;
    {
        AllocationCounter counter;
        LogWarning("x"); // a log line builds its text
        seen = counter.Count();
    }
    EXPECT_GT(seen, 0);
    AllocationCounter counter;
    EXPECT_EQ(counter.Count(), 0);
}

TEST_F(FrameAllocationTest, PrimitivesRenderWithoutAllocating) {
    form.resize(400, 400);
    engine2 = std::make_unique<TDDDD>(&form);
    engine2->Use3D = true;
    engine2->D3DOptions = DontUseMMX;
    engine2->AutoDisplayModeInitialize = false;
    form.CreationEnded();
    engine2->InitializeScreen(false, 400, 400, 16, 0, "");
    ASSERT_NE(engine2->D3DDevice, nullptr);
    IDirect3DViewport2* viewport = nullptr;
    ASSERT_EQ(engine2->Direct3D->CreateViewport(&viewport, nullptr), D3D_OK);
    engine2->D3DDevice->AddViewport(viewport);
    engine2->D3DDevice->SetCurrentViewport(viewport);
    D3DVIEWPORT2 vp{44, 0, 0, 400, 400, 0, 0, 400, 400, 0, 1};
    viewport->SetViewport2(&vp);
    InitMathTables();
    {
        TDDDDTexture texture(engine2.get());
        texture.LoadFromArchive(ZELKA_DAT_PATH, "boss2.bmp", 0, 0);
        ASSERT_NE(texture.Handle, 0u);
        TPrimitiveRenderer renderer(engine2.get(), 16, 1);
        renderer.SetMaxZ(2);
        renderer.SetTextureSlot(0, &texture, RECT{0, 0, 256, 256});
        D3DRECT all{0, 0, 400, 400};
        // The device converts a texture once, at its first draw: the first frame may allocate.
        const DWORD clocks[] = {0, 0, 1000, 5000, 123456};
        for (std::size_t frame = 0; frame < std::size(clocks); ++frame) {
            const DWORD clock = clocks[frame];
            viewport->Clear(1, &all, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
            AllocationCounter counter;
            AddSixSquares(renderer, clock);
            renderer.AddRect(0, SingleRect(72, 72, 328, 328), 1, pbOpaque, 0xFFFFBAFF);
            renderer.AddRect(0, SingleRect(0, 0, 10, 10), 2, pbAlpha, 0x80FFFFFF);
            renderer.RenderAll();
            if (frame > 0) {
                EXPECT_EQ(counter.Count(), 0) << "clock " << clock;
            }
        }
        EXPECT_NE(engine2->BackBuffer->GetPixel(200, 200), 0u); // something was drawn
    }
    viewport->Release();
    EXPECT_EQ(Log(), "");
}

} // namespace
