#include "DirectDrawTestSupport.h"

#include "SurfaceDesc.h"

#include <cstring>

using namespace directx;

void DirectDrawTest::SetUp() {
    Adapter().Reset();
    Adapter().SetDesktopBitCount(16);
}

void DirectDrawTest::TearDown() {
    if (dd)
        dd->Release();
    if (dd1)
        dd1->Release();
    Adapter().Reset();
}

void DirectDrawTest::CreateDirectDraw() {
    ASSERT_EQ(DirectDrawCreate(nullptr, &dd1, nullptr), DD_OK);
    ASSERT_EQ(dd1->QueryInterface(IID_IDirectDraw2, reinterpret_cast<void**>(&dd)), DD_OK);
    ASSERT_EQ(dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
}

IDirectDrawSurface* DirectDrawTest::CreatePlain(int width, int height, DWORD memory,
                                                int bitsPerPixel) {
    DDSURFACEDESC desc = SurfaceDesc(width, height, DDSCAPS_OFFSCREENPLAIN | memory, bitsPerPixel);
    IDirectDrawSurface* surface = nullptr;
    EXPECT_EQ(dd->CreateSurface(&desc, &surface, nullptr), DD_OK);
    return surface;
}

IDirectDrawSurface* DirectDrawTest::CreatePrimary(DWORD caps, DWORD backBuffers) {
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | (backBuffers ? DDSD_BACKBUFFERCOUNT : 0);
    desc.ddsCaps.dwCaps = caps;
    desc.dwBackBufferCount = backBuffers;
    IDirectDrawSurface* surface = nullptr;
    EXPECT_EQ(dd->CreateSurface(&desc, &surface, nullptr), DD_OK);
    return surface;
}

DWORD ReadPixel(IDirectDrawSurface* surface, int x, int y) {
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    if (surface->Lock(nullptr, &desc, DDLOCK_WAIT | DDLOCK_READONLY, nullptr) != DD_OK)
        return 0xDEADBEEF;
    const int bytes = desc.ddpfPixelFormat.dwRGBBitCount / 8;
    DWORD value = 0;
    std::memcpy(&value, static_cast<BYTE*>(desc.lpSurface) + y * desc.lPitch + x * bytes, bytes);
    surface->Unlock(nullptr);
    return value;
}

void WritePixel(IDirectDrawSurface* surface, int x, int y, DWORD value) {
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    ASSERT_EQ(surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    const int bytes = desc.ddpfPixelFormat.dwRGBBitCount / 8;
    std::memcpy(static_cast<BYTE*>(desc.lpSurface) + y * desc.lPitch + x * bytes, &value, bytes);
    surface->Unlock(nullptr);
}

DDBLTFX FillFx(DWORD color) {
    DDBLTFX fx{};
    fx.dwSize = sizeof fx;
    fx.dwFillColor = color;
    return fx;
}
