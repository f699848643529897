// The 3D half of the screen set-up: Z-buffer depths, the device chain and its fall-backs.
#include "EngineTestSupport.h"
#include "forms/Forms.h"

#include <algorithm>

using directx::Adapter;

namespace {

class Initialize3DTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        form.resize(320, 240);
        traces.clear();
        SetTraceSinkForTests([this](const std::string& t) {
            traces.push_back(t);
            if (onTrace)
                onTrace(t);
        });
    }
    void TearDown() override {
        if (engine3)
            DropCutShortSetUp(*engine3);
        engine3.reset();
        EngineTest::TearDown();
    }
    TDDDD& Make(TD3DOptions options) {
        engine3 = std::make_unique<TDDDD>(&form);
        engine3->Use3D = true;
        engine3->D3DOptions = options;
        engine3->AutoDisplayModeInitialize = false;
        return *engine3;
    }
    bool Traced(const std::string& text) const {
        return std::find(traces.begin(), traces.end(), text) != traces.end();
    }
    TForm form;
    std::unique_ptr<TDDDD> engine3;
    std::vector<std::string> traces;
    std::function<void(const std::string&)> onTrace;
};

TEST_F(Initialize3DTest, DeviceKindFollowsOptionsAndRefusals) {
    struct Case {
        TD3DOptions options;
        std::vector<const char*> refused;
        TD3DDeviceKind kind;
        bool card3D = true; // false: a card without 3-D hardware (the software road)
    };
    const Case cases[] = {
        {0, {}, TD3DDeviceKind::HAL},
        {0, {"IDirect3D2::CreateDevice(HAL)"}, TD3DDeviceKind::MMX},
        {DontUseHAL, {}, TD3DDeviceKind::MMX},
        {DontUseHAL | DontUseMMX, {}, TD3DDeviceKind::RGBEmulation},
        {DontUseHAL | DontUseMMX | DontUseRGBEmulation, {}, TD3DDeviceKind::Ramp},
        {0,
         {"IDirect3D2::CreateDevice(HAL)", "IDirect3D2::CreateDevice(MMX)",
          "IDirect3D2::CreateDevice(RGB)"},
         TD3DDeviceKind::Ramp},
        // Without 3-D hardware the hardware device is never tried, and nothing lies in video
        // memory for it.
        {0, {}, TD3DDeviceKind::MMX, false},
        {DontUseMMX, {}, TD3DDeviceKind::RGBEmulation, false},
    };
    for (const Case& c : cases) {
        if (!c.card3D)
            Adapter().Reset();
        TDDDD& e = Make(c.options);
        for (const char* method : c.refused)
            Adapter().FailNext(method, 1, DDERR_GENERIC);
        form.CreationEnded();
        const std::string name = std::to_string(c.options) + " " +
                                 std::to_string(c.refused.size()) + (c.card3D ? "" : " no 3-D");
        EXPECT_EQ(e.D3DDeviceKind, c.kind) << name;
        EXPECT_EQ(e.HardwareCan3D(), c.card3D) << name;
        EXPECT_NE(e.D3DDevice, nullptr);
        EXPECT_NE(e.D3DRMDevice, nullptr);
        EXPECT_NE(e.Direct3DRM, nullptr);
        ASSERT_NE(e.ZBuffer, nullptr);
        EXPECT_EQ(Traced(std::string(
                             "HALデバイスが作れません。Zバッファはシステムメモリに作られています") +
                         "0000000080004005"),
                  !c.refused.empty());
        EXPECT_EQ(e.HALFailure, c.refused.empty() ? DD_OK : DDERR_GENERIC) << name;
        DDSURFACEDESC back{}, z{};
        e.BackBuffer->GetSurfaceDesc(back);
        e.ZBuffer->GetSurfaceDesc(z);
        // The back buffer and Z-buffer go where the hardware device would draw whenever it may
        // be tried; the trace tells where the Z-buffer went.
        const bool halTried = c.card3D && !(c.options & DontUseHAL);
        EXPECT_TRUE(Traced(halTried ? "HALでウハウハです" : "HELでシオシオです")) << name;
        EXPECT_EQ((back.ddsCaps.dwCaps & DDSCAPS_VIDEOMEMORY) != 0, halTried) << name;
        EXPECT_EQ((z.ddsCaps.dwCaps & DDSCAPS_VIDEOMEMORY) != 0, halTried) << name;
        EXPECT_EQ(Log(), "");
        TearDown();
        SetUp();
    }
}

TEST_F(Initialize3DTest, ZBufferDepthsFallBackInOrder) {
    struct Case {
        int refusals;
        DWORD depth; // 0: the last depth failed too
    };
    const Case cases[] = {{0, 16}, {1, 24}, {2, 32}, {3, 0}};
    for (const Case& c : cases) {
        TDDDD& e = Make(0);
        // The Z-buffer is the next surface created once the back buffer's place is traced.
        onTrace = [&](const std::string& t) {
            if (t.rfind("バックバッファを", 0) == 0 && c.refusals)
                Adapter().FailNext("IDirectDraw2::CreateSurface", c.refusals, DDERR_GENERIC);
        };
        if (c.depth == 0) {
            EXPECT_THROW(form.CreationEnded(), Halted);
            EXPECT_EQ(Log(),
                      "debug#00001 ... Zバッファの作成に失敗しました(Error Code(80004005))\r\n");
        } else {
            form.CreationEnded();
            DDSURFACEDESC desc{};
            e.ZBuffer->GetSurfaceDesc(desc);
            EXPECT_EQ(desc.ddpfPixelFormat.dwZBufferBitDepth, c.depth) << c.refusals;
            EXPECT_EQ(Log(), "");
        }
        onTrace = nullptr;
        TearDown();
        SetUp();
    }
}

TEST_F(Initialize3DTest, CheckedThreeDStepsHalt) {
    struct Case {
        const char* method;
        const char* line;
    };
    const Case cases[] = {
        {"Direct3DRMCreate", "Direct3DRMオブジェクトの作成に失敗しました(Error Code(80004005))"},
        {"IDirect3D2::CreateDevice(Ramp)", nullptr},
        {"IDirect3DRM2::CreateDeviceFromD3D",
         "Diret3DRMデバイスの作成に失敗しました(Error Code(80004005))"},
    };
    for (const Case& c : cases) {
        Make(c.line ? 0 : DontUseHAL | DontUseMMX | DontUseRGBEmulation);
        Adapter().FailNext(c.method, 1, DDERR_GENERIC);
        EXPECT_THROW(form.CreationEnded(), Halted) << c.method;
        const std::string line =
            c.line ? c.line : "Diret3Dデバイスの作成に失敗しました(Error Code(80004005))";
        EXPECT_EQ(Log(), "debug#00001 ... " + line + "\r\n");
        TearDown();
        SetUp();
    }
}

TEST_F(Initialize3DTest, InterfaceQueriesAndZBufferAttachHalt) {
    struct Case {
        const char* method;
        bool afterBackBuffer; // armed once the back buffer's place is traced
        const char* line;
    };
    const Case cases[] = {
        {"IDirectDraw2::QueryInterface", false,
         "DirectDrawオブジェクトとDirectDraw2オブジェクトの連結に失敗しました"},
        {"IDirectDrawSurface::AddAttachedSurface", false, "Zバッファのアタッチに失敗しました"},
        {"IDirect3DRM2::QueryInterface", false, "Direct3DRM2オブジェクトの作成に失敗しました"},
        {"IDirectDraw2::QueryInterface", true, "Direct3Dオブジェクトの作成に失敗しました"},
    };
    for (const Case& c : cases) {
        TDDDD& e = Make(0);
        if (c.afterBackBuffer)
            onTrace = [&](const std::string& t) {
                if (t.rfind("バックバッファを", 0) == 0)
                    Adapter().FailNext(c.method, 1, DDERR_GENERIC);
            };
        else
            Adapter().FailNext(c.method, 1, DDERR_GENERIC);
        EXPECT_THROW(form.CreationEnded(), Halted) << c.line;
        EXPECT_EQ(Log(), std::string("debug#00001 ... ") + c.line + "(Error Code(80004005))\r\n");
        // The steps after the failing one never ran.
        EXPECT_EQ(e.D3DDevice, nullptr) << c.line;
        EXPECT_EQ(e.D3DRMDevice, nullptr) << c.line;
        onTrace = nullptr;
        TearDown();
        SetUp();
    }
}

TEST_F(Initialize3DTest, ReinitialisingKeepsOneRetainedModeObjectAndReleasesAtTheEnd) {
    TDDDD& e = Make(0);
    form.CreationEnded();
    e.InitializeScreen(false, 200, 100, 16, 0, "");
    EXPECT_EQ(e.ZBuffer->Width, 200);
    EXPECT_EQ(e.D3DDeviceKind, TD3DDeviceKind::HAL);
    engine3.reset(); // every release check passes, or the halt would throw
    EXPECT_EQ(Log(), "");
}

TEST(MakeTLVertex, KeepsTheEightValuesInOrder) {
    const D3DTLVERTEX v = MakeTLVertex(1.5f, 2.5f, 2.0f, 0.5f, 0xFF102030, 0, 0.25f, 0.75f);
    EXPECT_EQ(sizeof v, 32u);
    EXPECT_EQ((std::vector<float>{v.sx, v.sy, v.sz, v.rhw, v.tu, v.tv}),
              (std::vector<float>{1.5f, 2.5f, 2.0f, 0.5f, 0.25f, 0.75f}));
    EXPECT_EQ(v.color, 0xFF102030u);
    EXPECT_EQ(v.specular, 0u);
    const TSingleRect r = SingleRect(1, 2, 3, 4);
    EXPECT_EQ((std::vector<float>{r.Left, r.Top, r.Right, r.Bottom}),
              (std::vector<float>{1, 2, 3, 4}));
}

} // namespace
