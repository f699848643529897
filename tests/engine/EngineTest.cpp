// The engine component's mode table, settings and registries.
#include "EngineTestSupport.h"

namespace {

TEST_F(EngineTest, DefaultsAndDrivers) {
    EXPECT_EQ(engine.BackColor, 0);
    EXPECT_TRUE(engine.AutoDisplayModeInitialize);
    EXPECT_FALSE(engine.Use3D);
    EXPECT_EQ(engine.D3DOptions, 0);
    EXPECT_TRUE(engine.VsyncAtWindowed);
    EXPECT_FALSE(engine.AllowRakugaki);
    EXPECT_EQ(engine.SurfaceLocation, smtDefault);
    EXPECT_EQ(engine.BackBufferLocationAtWindowed, bmtDefault);
    EXPECT_EQ(engine.RefreshRate, 0);
    ASSERT_EQ(engine.Drivers.size(), 1u);
    const directx::DriverEntry primary = directx::DisplayAdapter::PrimaryDriver();
    EXPECT_EQ(engine.Drivers[0], primary.description + " (" + primary.name + ")");
    EXPECT_EQ(engine.GetDisplayMode(), dmWin640x480x8);
    EXPECT_EQ(Log(), "debug#00001 ... ScreenModeプロパティは読み込み禁止です\r\n");
}

TEST_F(EngineTest, ModeTableFillsTheModeFields) {
    struct Case {
        TDDDDDispMode mode;
        bool fullScreen;
        int width, height, bits;
    };
    const Case cases[] = {
        {dmWin640x480x8, false, 640, 480, 8},     {dmWin800x600x16, false, 800, 600, 16},
        {dmWin1024x768x24, false, 1024, 768, 24}, {dmFull640x480x16, true, 640, 480, 16},
        {dmFull1024x768x8, true, 1024, 768, 8},   {dmFull800x600x24, true, 800, 600, 24},
        {dmWinVariable, false, 300, 200, 16},
    };
    engine.OwnerClientWidth = 300;
    engine.OwnerClientHeight = 200;
    for (const Case& c : cases) {
        engine.SetDisplayMode(c.mode);
        EXPECT_EQ(engine.FullScreen, c.fullScreen) << c.mode;
        EXPECT_EQ(engine.ScreenWidth, c.width) << c.mode;
        EXPECT_EQ(engine.ScreenHeight, c.height) << c.mode;
        EXPECT_EQ(engine.BitCount, c.bits) << c.mode;
    }
    EXPECT_EQ(static_cast<int>(dmWinVariable), 18);
}

TEST_F(EngineTest, MasksGiveShiftAndLoss) {
    struct Case {
        DWORD mask;
        int shift, loss;
    };
    const Case cases[] = {{0xF800, 11, 3},   {0x07E0, 5, 2},  {0x001F, 0, 3},
                          {0xFF0000, 16, 0}, {0x7C00, 10, 3}, {0, 32, 8}};
    for (const Case& c : cases) {
        int shift = -1, loss = -1;
        DescribeMask(c.mask, shift, loss);
        EXPECT_EQ(shift, c.shift) << std::hex << c.mask;
        EXPECT_EQ(loss, c.loss) << std::hex << c.mask;
    }
}

TEST_F(EngineTest, TextureRegistryKeepsOneKeeperPerTexture) {
    auto* a = reinterpret_cast<TDDDDTexture*>(0x10);
    auto* b = reinterpret_cast<TDDDDTexture*>(0x20);
    engine.AddTexture(a);
    engine.AddTexture(b);
    engine.AddTexture(a);
    ASSERT_EQ(engine.TextureKeepers.size(), 2u);
    EXPECT_EQ(engine.TextureKeepers[0]->Texture, b);
    EXPECT_EQ(engine.TextureKeepers[1]->Texture, a);
    engine.RemoveTexture(b);
    engine.RemoveTexture(b);
    ASSERT_EQ(engine.TextureKeepers.size(), 1u);
    EXPECT_EQ(engine.TextureKeepers[0]->Engine, &engine);
}

} // namespace
