#pragma once
// An engine with a DirectDraw object and a windowless back buffer, the log in a folder of the
// test's own, and halts that throw.
#include "directx/DisplayAdapter.h"
#include "directx/PixelFormat.h"
#include "engine/dddd.h"
#include "engine/dddd_log.h"
#include "forms/Forms.h"
#include "forms/Halt.h"
#include "tests/CardWith3D.h"
#include "tests/directx/SurfaceDesc.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iconv.h>
#include <iterator>
#include <memory>
#include <string>
#include <unistd.h>

struct Halted {};

// A first activation cut short by a test's throwing halt leaves what it made in the engine's
// fields, and the engine's release stops at a pending first activation; a real halt ends the
// program instead. Dropped here without checks, in the order a release takes, so that the leak
// checker reports real leaks only. Surfaces never put in a field go with the DirectDraw object.
inline void DropCutShortSetUp(TDDDD& e) {
    if (e.State() != TDDDDState::PendingFirstInit)
        return;
    e.D3DRMDevice.Reset();
    e.D3DDevice.Reset();
    e.Palette.Reset();
    e.Direct3DRM.Reset();
    e.Direct3D.Reset();
    e.Clipper.Reset();
    e.ZBuffer.reset();
    e.BackBuffer.reset();
    e.PrimarySurface.reset();
    e.DirectDraw2.Reset();
    e.DirectDraw.Reset();
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        directx::Adapter().Reset();
        directx::Adapter().SetDesktopBitCount(16);
        // The engine's own choices are tested on a card with 3-D hardware, as it was made for.
        OfferHardware3D();
        // One folder per test; a parameterised test's name holds '/', which is no folder level.
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        folder = std::filesystem::temp_directory_path() /
                 ("zelka-engine-" + std::to_string(getpid()) + "-" + name);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        SetDebugLogFolderForTests(folder.string());
    }
    void TearDown() override {
        engine.BackBuffer.reset();
        if (back)
            back->Release();
        back = nullptr;
        engine.DirectDraw2.Reset();
        engine.DirectDraw.Reset();
        SetDebugLogFolderForTests("");
        SetTraceSinkForTests(nullptr);
        std::filesystem::remove_all(folder);
        directx::Adapter().Reset();
    }
    // DirectDraw at the normal level and a back buffer of the given size and depth.
    void Open(int width, int height, DWORD memory = DDSCAPS_SYSTEMMEMORY, int bits = 0) {
        ASSERT_EQ(DirectDrawCreate(nullptr, engine.DirectDraw.Put(), nullptr), DD_OK);
        ASSERT_EQ(engine.DirectDraw->QueryInterface(IID_IDirectDraw2, engine.DirectDraw2.PutVoid()),
                  DD_OK);
        ASSERT_EQ(engine.DirectDraw2->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
        back = Plain(width, height, memory, bits);
        engine.BackBuffer = std::make_unique<TDDDDGenSurface>(&engine, back, width, height);
    }
    IDirectDrawSurface* Plain(int width, int height, DWORD memory = DDSCAPS_SYSTEMMEMORY,
                              int bits = 0) {
        DDSURFACEDESC desc = SurfaceDesc(width, height, DDSCAPS_OFFSCREENPLAIN | memory, bits);
        IDirectDrawSurface* surface = nullptr;
        EXPECT_EQ(engine.DirectDraw2->CreateSurface(&desc, &surface, nullptr), DD_OK);
        return surface;
    }
    // The log turned back into UTF-8.
    std::string Log() const {
        std::ifstream in(folder / "dddd.debug", std::ios::binary);
        std::string bytes(std::istreambuf_iterator<char>(in), {});
        std::string out(bytes.size() * 2 + 1, '\0');
        iconv_t cd = iconv_open("UTF-8", "CP932");
        char* from = bytes.data();
        char* to = out.data();
        std::size_t fromLeft = bytes.size(), toLeft = out.size();
        iconv(cd, &from, &fromLeft, &to, &toLeft);
        iconv_close(cd);
        out.resize(out.size() - toLeft);
        return out;
    }

    TDDDD engine;
    IDirectDrawSurface* back = nullptr;
    std::filesystem::path folder;
    ScopedHaltAction halt{[] { throw Halted{}; }};
};

// A second engine on a 400 x 400 window, drawing with its Direct3D device into a 400 x 400,
// 16-bit target through one viewport over the whole of it, as the scene's Direct3D test draws.
class Direct3DEngineTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        form.resize(400, 400);
        engine3 = std::make_unique<TDDDD>(&form);
        engine3->Use3D = true;
        engine3->D3DOptions = DontUseMMX;
        engine3->AutoDisplayModeInitialize = false;
        form.CreationEnded();
        engine3->InitializeScreen(false, 400, 400, 16, 0, "");
        ASSERT_NE(engine3->D3DDevice, nullptr);
        ASSERT_EQ(engine3->Direct3D->CreateViewport(&viewport, nullptr), D3D_OK);
        engine3->D3DDevice->AddViewport(viewport);
        engine3->D3DDevice->SetCurrentViewport(viewport);
        D3DVIEWPORT2 vp{44, 0, 0, 400, 400, 0, 0, 400, 400, 0, 1};
        ASSERT_EQ(viewport->SetViewport2(&vp), D3D_OK);
    }
    void TearDown() override {
        if (viewport)
            viewport->Release();
        viewport = nullptr;
        engine3.reset();
        EngineTest::TearDown();
    }
    // The target and its depth cleared.
    void Clear() {
        D3DRECT all{0, 0, 400, 400};
        viewport->Clear(1, &all, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
    }

    TForm form;
    std::unique_ptr<TDDDD> engine3;
    IDirect3DViewport2* viewport = nullptr;
};
