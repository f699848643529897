#pragma once
// Shared set-up for the DirectDraw tests: a fresh adapter, a DirectDraw object, surfaces,
// and raw pixel access through Lock.
#include "directx/DisplayAdapter.h"
#include "directx/PixelFormat.h"
#include "directx/ddraw.h"
#include "tests/GpuRoad.h"

#include <functional>
#include <gtest/gtest.h>

using namespace directx;

class DirectDrawTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the object (IDirectDraw2) at the normal cooperative level with no window.
    void CreateDirectDraw();
    IDirectDrawSurface* CreatePlain(int width, int height, DWORD memory = DDSCAPS_SYSTEMMEMORY,
                                    int bitsPerPixel = 0);
    IDirectDrawSurface* CreatePrimary(DWORD caps = DDSCAPS_PRIMARYSURFACE, DWORD backBuffers = 0);

    IDirectDraw* dd1 = nullptr;
    IDirectDraw2* dd = nullptr;
};

DWORD ReadPixel(IDirectDrawSurface* surface, int x, int y);
void WritePixel(IDirectDrawSurface* surface, int x, int y, DWORD value);
DDBLTFX FillFx(DWORD color);
