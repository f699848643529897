// Video memory on the GPU (Mesa's llvmpipe here, through the tests' switch): what the software
// blitter gives, bit for bit, with batches, locks, flips, loss and the road's own fall-backs.
#include "DirectDrawTestSupport.h"
#include "directx/GpuBlitter.h"
#include "directx/SoftSurface.h"
#include "forms/Forms.h"
#include "gpu/Renderer.h"

#include <QCoreApplication>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// The surface's bytes, row by row, through a lock.
std::vector<BYTE> Bytes(IDirectDrawSurface* surface) {
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    EXPECT_EQ(surface->Lock(nullptr, &desc, DDLOCK_WAIT | DDLOCK_READONLY, nullptr), DD_OK);
    const std::size_t row = desc.dwWidth * desc.ddpfPixelFormat.dwRGBBitCount / 8;
    std::vector<BYTE> bytes;
    for (DWORD y = 0; y < desc.dwHeight; ++y) {
        const BYTE* p = static_cast<const BYTE*>(desc.lpSurface) + y * desc.lPitch;
        bytes.insert(bytes.end(), p, p + row);
    }
    surface->Unlock(nullptr);
    return bytes;
}

void Fill(IDirectDrawSurface* surface, DWORD value, RECT* rect = nullptr) {
    DDBLTFX fx = FillFx(value);
    ASSERT_EQ(surface->Blt(rect, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx), DD_OK);
}

class GpuSurfaceTest : public DirectDrawTest {
protected:
    void SetUp() override {
        road.emplace();
        ASSERT_EQ(road->Failure(), "");
        DirectDrawTest::SetUp();
        CreateDirectDraw();
    }
    void TearDown() override {
        if (back)
            back->Release();
        if (front) {
            front->Release();
            dd->RestoreDisplayMode();
            dd->SetCooperativeLevel(window, DDSCL_NORMAL);
        }
        DirectDrawTest::TearDown();
        screen.reset();
        road.reset();
    }
    // A 640 x 480 x 16 flipping chain in full screen on a shown window, given back by TearDown.
    void EnterFullScreen(DWORD backBuffers) {
        screen.emplace();
        screen->setGeometry(0, 0, 320, 240);
        screen->show();
        QCoreApplication::processEvents();
        window = WindowHandle(&*screen);
        ASSERT_EQ(dd->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
        ASSERT_EQ(dd->SetDisplayMode(640, 480, 16, 0, 0), DD_OK);
        front = CreatePrimary(DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX, backBuffers);
        DDSCAPS caps{DDSCAPS_BACKBUFFER};
        ASSERT_EQ(front->GetAttachedSurface(&caps, &back), DD_OK);
    }
    std::optional<GpuRoad> road;
    std::optional<TForm> screen;
    HWND window = nullptr;
    IDirectDrawSurface* front = nullptr;
    IDirectDrawSurface* back = nullptr;
};

// A sprite sheet with a keyed border, drawn many times, overlapping, in one frame.
void DrawSprites(IDirectDrawSurface* target, IDirectDrawSurface* sheet) {
    Fill(target, 0x0841);
    for (int i = 0; i < 60; ++i) {
        RECT from{(i % 4) * 8, 0, (i % 4) * 8 + 8, 8};
        ASSERT_EQ(target->BltFast((i * 7) % 56, (i * 5) % 40, sheet, &from,
                                  DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT),
                  DD_OK);
    }
    RECT wide{10, 10, 60, 44}, src{0, 0, 32, 8};
    DDBLTFX fx{};
    fx.dwSize = sizeof fx;
    fx.dwDDFX = DDBLTFX_MIRRORLEFTRIGHT;
    ASSERT_EQ(target->Blt(&wide, sheet, &src, DDBLT_KEYSRC | DDBLT_DDFX | DDBLT_WAIT, &fx), DD_OK);
}

TEST_F(GpuSurfaceTest, OverlappingKeyedSpritesAreOneDrawAndMatchTheHost) {
    std::vector<BYTE> results[2];
    for (DWORD memory : {DDSCAPS_SYSTEMMEMORY, DDSCAPS_VIDEOMEMORY}) {
        IDirectDrawSurface* sheet = CreatePlain(32, 8, memory);
        IDirectDrawSurface* target = CreatePlain(64, 48, memory);
        ASSERT_EQ(static_cast<SoftSurface*>(target)->OnGpu(), memory == DDSCAPS_VIDEOMEMORY);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 32; ++x)
                WritePixel(sheet, x, y, (x % 8 == 0 || y == 0) ? 0xF81F : DWORD(x * 997 + y * 31));
        DDCOLORKEY key{0xF81F, 0xF81F};
        ASSERT_EQ(sheet->SetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
        const std::uint64_t before = GpuBlitter::Get()->DrawCalls();
        DrawSprites(target, sheet);
        results[memory == DDSCAPS_VIDEOMEMORY] = Bytes(target);
        if (memory == DDSCAPS_VIDEOMEMORY) { // the fill, the sprites, the mirrored stretch
            EXPECT_LE(GpuBlitter::Get()->DrawCalls() - before, 3u);
        }
        sheet->Release();
        target->Release();
    }
    EXPECT_EQ(results[0], results[1]);
}

TEST_F(GpuSurfaceTest, LocksSeeBlitsAndBlitsSeeLocks) {
    IDirectDrawSurface* a = CreatePlain(16, 8, DDSCAPS_VIDEOMEMORY);
    IDirectDrawSurface* b = CreatePlain(16, 8, DDSCAPS_VIDEOMEMORY);
    IDirectDrawSurface* host = CreatePlain(16, 8, DDSCAPS_SYSTEMMEMORY);
    Fill(a, 0x1234);
    EXPECT_EQ(ReadPixel(a, 3, 3), 0x1234u); // a lock returns what the GPU drew
    WritePixel(a, 5, 2, 0xBEEF);            // a write under a lock ...
    ASSERT_EQ(b->BltFast(0, 0, a, nullptr, DDBLTFAST_WAIT), DD_OK);
    EXPECT_EQ(ReadPixel(b, 5, 2), 0xBEEFu); // ... is what the next blit copies
    EXPECT_EQ(ReadPixel(b, 6, 2), 0x1234u);
    // Between the GPU and system memory: a read back, and an upload.
    ASSERT_EQ(host->BltFast(0, 0, b, nullptr, DDBLTFAST_WAIT), DD_OK);
    EXPECT_EQ(ReadPixel(host, 5, 2), 0xBEEFu);
    WritePixel(host, 1, 1, 0x0F0F);
    ASSERT_EQ(a->BltFast(0, 0, host, nullptr, DDBLTFAST_WAIT), DD_OK);
    EXPECT_EQ(ReadPixel(a, 1, 1), 0x0F0Fu);
    // A device context draws on the current pixels and its drawing reaches the GPU.
    Fill(a, 0x001F);
    HDC dc = nullptr;
    ASSERT_EQ(a->GetDC(&dc), DD_OK);
    ASSERT_EQ(a->ReleaseDC(dc), DD_OK);
    ASSERT_EQ(b->BltFast(0, 0, a, nullptr, DDBLTFAST_WAIT), DD_OK);
    EXPECT_EQ(ReadPixel(b, 7, 7), 0x001Fu);
    a->Release();
    b->Release();
    host->Release();
}

TEST_F(GpuSurfaceTest, LostSurfacesAreRestoredAndDrawnAgain) {
    IDirectDrawSurface* a = CreatePlain(8, 8, DDSCAPS_VIDEOMEMORY);
    IDirectDrawSurface* b = CreatePlain(8, 8, DDSCAPS_VIDEOMEMORY);
    Fill(a, 0x7777);
    Adapter().LoseAllSurfaces();
    EXPECT_EQ(b->BltFast(0, 0, a, nullptr, DDBLTFAST_WAIT), DDERR_SURFACELOST);
    ASSERT_EQ(a->Restore(), DD_OK);
    ASSERT_EQ(b->Restore(), DD_OK);
    Fill(a, 0x4321);
    ASSERT_EQ(b->BltFast(0, 0, a, nullptr, DDBLTFAST_WAIT), DD_OK);
    EXPECT_EQ(ReadPixel(b, 4, 4), 0x4321u);
    a->Release();
    b->Release();
}

TEST_F(GpuSurfaceTest, ExhaustedVideoMemoryFallsBackToSystemMemory) {
    // The GPU is the card's 3-D hardware too.
    DDCAPS hardware{}, emulation{};
    hardware.dwSize = emulation.dwSize = sizeof(DDCAPS);
    ASSERT_EQ(dd->GetCaps(&hardware, &emulation), DD_OK);
    EXPECT_EQ(hardware.dwCaps & DDCAPS_3D, DDCAPS_3D);
    EXPECT_TRUE(Adapter().direct3d.Device(DeviceKind::HAL).available);
    Adapter().SetVideoMemory(8 * 8 * 2);
    IDirectDrawSurface* first = CreatePlain(8, 8, 0);
    DDSURFACEDESC desc = {};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
    desc.dwWidth = desc.dwHeight = 8;
    IDirectDrawSurface* refused = nullptr;
    EXPECT_EQ(dd->CreateSurface(&desc, &refused, nullptr), DDERR_OUTOFVIDEOMEMORY);
    IDirectDrawSurface* second = CreatePlain(8, 8, 0);
    DDSCAPS caps{};
    second->GetCaps(&caps);
    EXPECT_TRUE(static_cast<SoftSurface*>(first)->OnGpu());
    EXPECT_FALSE(static_cast<SoftSurface*>(second)->OnGpu());
    EXPECT_TRUE(caps.dwCaps & DDSCAPS_SYSTEMMEMORY);
    Fill(first, 0x0BAD);
    ASSERT_EQ(second->BltFast(0, 0, first, nullptr, DDBLTFAST_WAIT), DD_OK);
    EXPECT_EQ(ReadPixel(second, 2, 2), 0x0BADu);
    first->Release();
    second->Release();
}

TEST_F(GpuSurfaceTest, FlipsExchangeTheChainAndKeepAtMostTwoFramesInFlight) {
    EnterFullScreen(2);
    ASSERT_TRUE(static_cast<SoftSurface*>(back)->OnGpu());
    GpuBlitter& gpu = *GpuBlitter::Get();
    const std::uint64_t submitted = gpu.FramesSubmitted();
    for (DWORD frame = 0; frame < 6; ++frame) {
        Fill(back, 0x1000 + frame);
        ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
        EXPECT_LE(gpu.FramesInFlight(), 1u); // and the one being drawn: two
        EXPECT_EQ(ReadPixel(front, 100, 100), 0x1000 + frame);
    }
    EXPECT_EQ(gpu.FramesSubmitted() - submitted, 6u);
    gpu.Finish();
    EXPECT_EQ(gpu.FramesInFlight(), 0u);
}

// A GPU reset during a run: the flip says the surfaces are lost, every surface is, and once
// restored they are drawn on the GPU again, in a new context, exactly as before.
TEST_F(GpuSurfaceTest, AResetLosesEverySurfaceAndTheRunGoesOn) {
    EnterFullScreen(1);
    IDirectDrawSurface* tile = CreatePlain(16, 16, DDSCAPS_VIDEOMEMORY);
    const std::uint64_t generation = GpuBlitter::Generation();
    gpu::SimulateResetForTests();
    Fill(back, 0x1111);
    EXPECT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DDERR_SURFACELOST);
    EXPECT_EQ(GpuBlitter::Generation(), generation + 1);
    for (IDirectDrawSurface* s : {front, back, tile})
        EXPECT_EQ(s->IsLost(), DDERR_SURFACELOST);
    ASSERT_EQ(front->Restore(), DD_OK);
    ASSERT_EQ(tile->Restore(), DD_OK);
    Fill(tile, 0x2222);
    ASSERT_EQ(back->BltFast(100, 100, tile, nullptr, DDBLTFAST_WAIT), DD_OK);
    ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    EXPECT_EQ(ReadPixel(front, 108, 108), 0x2222u);
    EXPECT_TRUE(static_cast<SoftSurface*>(tile)->OnGpu());
    tile->Release();
}

// Each start-up fault leaves the process on the software layer with its reason.
TEST(GpuRoadTest, StartFaultsFallBackToSoftwareWithTheReason) {
    struct Case {
        gpu::StartFault fault;
        const char* reason;
    };
    const Case cases[] = {
        {gpu::StartFault::Context, "context"},
        {gpu::StartFault::Shader, "shader"},
        {gpu::StartFault::Framebuffer, "framebuffer"},
        {gpu::StartFault::GlError, "OpenGL error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        gpu::InjectStartFault(c.fault);
        GpuRoad road;
        EXPECT_EQ(GpuBlitter::Get(), nullptr);
        EXPECT_NE(road.Failure().find(c.reason), std::string::npos) << road.Failure();
        EXPECT_EQ(Adapter().VideoMemoryTotal(), 8u << 20); // the emulated card's
        EXPECT_FALSE(Adapter().Drivers()[0].hardwareCaps & DDCAPS_3D);
        EXPECT_FALSE(Adapter().direct3d.Device(DeviceKind::HAL).available);
        EXPECT_FALSE(gpu::TakeStartFault(c.fault)); // it was taken
    }
}

// Without the tests' switch Mesa's software rasteriser is never taken for a GPU; `software`
// never opens EGL.
TEST(GpuRoadTest, SoftwareRasterisersAreNotHardware) {
    GpuBlitter::ForgetForTests();
    gpu::ResetRendererForTests();
    unsetenv("ZELKA_GL_ALLOW_SOFTWARE");
    const gpu::Road& road = gpu::ChosenRoad();
    if (!road.probed.hardware) {
        EXPECT_EQ(road.device, nullptr);
        EXPECT_FALSE(road.whyNotGpu.empty());
    }
    for (const char* name : {"llvmpipe (LLVM 15.0.6, 256 bits)", "softpipe", "Mesa swrast",
                             "zink Vulkan 1.3(llvmpipe (LLVM 15.0.6, 256 bits) (MESA_LLVMPIPE))"})
        EXPECT_TRUE(gpu::NamesSoftwareRasterizer(name)) << name;
    for (const char* name : {"NVIDIA H100 80GB HBM3/PCIe/SSE2", "AMD Radeon RX 7900 XTX (radeonsi)",
                             "Mesa Intel(R) UHD Graphics 630 (CFL GT2)"})
        EXPECT_FALSE(gpu::NamesSoftwareRasterizer(name)) << name;
    GpuBlitter::ForgetForTests();
    gpu::ResetRendererForTests();
    gpu::SetRendererChoice(gpu::RendererChoice::Software);
    EXPECT_EQ(gpu::ChosenRoad().device, nullptr);
    EXPECT_NE(gpu::ChosenRoad().whyNotGpu.find("--renderer software"), std::string::npos);
    EXPECT_TRUE(gpu::ChosenRoad().probed.renderer.empty()); // EGL was never opened
    GpuBlitter::ForgetForTests();
}

} // namespace
