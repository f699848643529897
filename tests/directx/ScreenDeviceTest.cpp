// GDI's view of the screen: its mode and the system palette a window's primary palette fills.
#include "directx/ScreenDevice.h"

#include "DirectDrawTestSupport.h"
#include "forms/Forms.h"

#include <array>

using namespace directx;

namespace {

class ScreenDeviceTest : public DirectDrawTest {
protected:
    std::array<PALETTEENTRY, 256> System() {
        std::array<PALETTEENTRY, 256> entries{};
        EXPECT_EQ(GetSystemPaletteEntries(nullptr, 0, 256, entries.data()), 256u);
        return entries;
    }
};

TEST_F(ScreenDeviceTest, CapsFollowTheDisplayMode) {
    Adapter().SetDesktopBitCount(8);
    const DisplayMode desktop = Adapter().DesktopMode();
    EXPECT_EQ(GetDeviceCaps(nullptr, BITSPIXEL), 8);
    EXPECT_EQ(GetDeviceCaps(nullptr, HORZRES), desktop.width);
    EXPECT_EQ(GetDeviceCaps(nullptr, VERTRES), desktop.height);
    Adapter().ChangeMode(DisplayMode{640, 480, 16});
    EXPECT_EQ(GetDeviceCaps(nullptr, BITSPIXEL), 16);
    EXPECT_EQ(GetDeviceCaps(nullptr, HORZRES), 640);
    EXPECT_EQ(GetDeviceCaps(nullptr, VERTRES), 480);
    EXPECT_EQ(GetDeviceCaps(nullptr, 99), 0);
    Adapter().ChangeMode(Adapter().DesktopMode());
}

TEST_F(ScreenDeviceTest, SystemPaletteEntriesStopAtTheEnd) {
    const std::array<PALETTEENTRY, 256> all = System();
    PALETTEENTRY tail[4] = {};
    EXPECT_EQ(GetSystemPaletteEntries(nullptr, 254, 4, tail), 2u);
    EXPECT_EQ(tail[1].peRed, all[255].peRed);
    EXPECT_EQ(GetSystemPaletteEntries(nullptr, 256, 1, tail), 0u);
}

// Only a palette on a window's primary reaches the system palette, and only its free entries.
TEST_F(ScreenDeviceTest, WindowPrimaryPaletteFillsTheFreeSystemEntries) {
    Adapter().SetDesktopBitCount(8);
    CreateDirectDraw();
    const std::array<PALETTEENTRY, 256> before = System();
    std::array<PALETTEENTRY, 256> ours{};
    IDirectDrawPalette* palette = nullptr;
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT, ours.data(), &palette, nullptr), DD_OK);
    IDirectDrawSurface* plain = CreatePlain(4, 4, DDSCAPS_SYSTEMMEMORY, 8);
    ASSERT_EQ(plain->SetPalette(palette), DD_OK);
    ours.fill(PALETTEENTRY{7, 8, 9, 0});
    ASSERT_EQ(palette->SetEntries(0, 0, 256, ours.data()), DD_OK);
    EXPECT_EQ(System()[100].peRed, before[100].peRed); // an off-screen surface's palette

    IDirectDrawSurface* primary = CreatePrimary();
    ASSERT_EQ(primary->SetPalette(palette), DD_OK);
    EXPECT_EQ(System()[100].peRed, before[100].peRed); // attaching changes nothing yet
    ASSERT_EQ(palette->SetEntries(0, 5, 245, ours.data() + 5), DD_OK);
    const std::array<PALETTEENTRY, 256> after = System();
    for (int i : {5, 9, 246, 255})
        EXPECT_EQ(after[i].peRed, before[i].peRed) << i;
    for (int i : {10, 100, 245})
        EXPECT_EQ(after[i].peRed, 7) << i;
    plain->Release();
    primary->Release();
    palette->Release();
}

TEST_F(ScreenDeviceTest, FullScreenPrimaryPaletteLeavesTheSystemPalette) {
    TForm form;
    form.show();
    Adapter().SetDesktopBitCount(8);
    CreateDirectDraw();
    ASSERT_EQ(dd->SetCooperativeLevel(WindowHandle(&form), DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE),
              DD_OK);
    const std::array<PALETTEENTRY, 256> before = System();
    std::array<PALETTEENTRY, 256> ours{};
    IDirectDrawPalette* palette = nullptr;
    ASSERT_EQ(dd->CreatePalette(DDPCAPS_8BIT, ours.data(), &palette, nullptr), DD_OK);
    IDirectDrawSurface* primary = CreatePrimary();
    ASSERT_EQ(primary->SetPalette(palette), DD_OK);
    ours.fill(PALETTEENTRY{7, 8, 9, 0});
    ASSERT_EQ(palette->SetEntries(0, 0, 256, ours.data()), DD_OK);
    EXPECT_EQ(System()[100].peRed, before[100].peRed);
    primary->Release();
    palette->Release();
}

} // namespace
