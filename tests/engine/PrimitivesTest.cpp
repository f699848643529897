// The primitive renderer on a real Direct3D device: slots, records, drawing order by level and
// within a level, the render states it sets and when, blended pixels, and the fault path.
#include "engine/Primitives.h"

#include "EngineTestSupport.h"
#include "SixSquares.h"
#include "forms/Forms.h"

#include <QDir>
#include <QImage>
#include <cfenv>
#include <sstream>
#include <vector>

using directx::Adapter;

namespace {

// A device that draws nothing: it notes the floating-point state each draw finds, leaves it
// disturbed, and can raise from inside the draw.
class ProbeDevice : public IDirect3DDevice2 {
public:
    HRESULT QueryInterface(REFIID, LPVOID*) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT AddViewport(IDirect3DViewport2*) override { return D3D_OK; }
    HRESULT DeleteViewport(IDirect3DViewport2*) override { return D3D_OK; }
    HRESULT EnumTextureFormats(LPD3DENUMTEXTUREFORMATSCALLBACK, LPVOID) override { return D3D_OK; }
    HRESULT BeginScene() override { return D3D_OK; }
    HRESULT EndScene() override { return D3D_OK; }
    HRESULT GetDirect3D(IDirect3D2**) override { return DDERR_UNSUPPORTED; }
    HRESULT SetCurrentViewport(IDirect3DViewport2*) override { return D3D_OK; }
    HRESULT GetCurrentViewport(IDirect3DViewport2**) override { return DDERR_UNSUPPORTED; }
    HRESULT GetRenderTarget(LPDIRECTDRAWSURFACE*) override { return DDERR_UNSUPPORTED; }
    HRESULT GetRenderState(D3DRENDERSTATETYPE, DWORD*) override { return DDERR_UNSUPPORTED; }
    HRESULT SetRenderState(D3DRENDERSTATETYPE, DWORD) override { return D3D_OK; }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE, D3DVERTEXTYPE, LPVOID, DWORD, DWORD) override {
        roundings.push_back(std::fegetround());
        flagsSeen.push_back(std::fetestexcept(FE_ALL_EXCEPT));
        std::fesetround(FE_DOWNWARD);
        std::feraiseexcept(FE_DIVBYZERO);
        if (raise)
            throw std::runtime_error("invalid operation");
        return D3D_OK;
    }
    bool raise = false;
    std::vector<int> roundings;
    std::vector<int> flagsSeen;
};

class PrimitivesTest : public Direct3DEngineTest {
protected:
    void SetUp() override {
        Direct3DEngineTest::SetUp();
        if (!HasFatalFailure())
            Clear();
    }
    void TearDown() override {
        textures.clear();
        Direct3DEngineTest::TearDown();
    }
    TDDDDTexture* Texture(int width, int height, D3DTEXTUREHANDLE handle) {
        textures.push_back(std::make_unique<TDDDDTexture>(engine3.get()));
        TDDDDTexture* t = textures.back().get();
        t->Width = width;
        t->Height = height;
        t->Handle = handle;
        return t;
    }
    // 5-6-5 pixel of the target.
    DWORD Pixel(int x, int y) { return engine3->BackBuffer->GetPixel(x, y); }
    // What the device was told, in order: "state=value" per SetRenderState, "D" per draw.
    std::string Trace() const {
        std::ostringstream out;
        const auto& states = Adapter().RenderStateCalls();
        std::size_t next = 0;
        for (const std::string& call : Adapter().Calls()) {
            if (call == "IDirect3DDevice2::SetRenderState" && next < states.size()) {
                out << (out.tellp() ? " " : "") << states[next].state << "=" << states[next].value;
                ++next;
            } else if (call == "IDirect3DDevice2::DrawPrimitive") {
                out << (out.tellp() ? " " : "") << "D";
            }
        }
        return out.str();
    }
    void Square(TPrimitiveRenderer& r, float left, float top, float size, std::int32_t z,
                std::uint8_t blend, D3DCOLOR colour) {
        r.AddRect(0, SingleRect(left, top, left + size, top + size), z, blend, colour);
    }

    // Two opaque squares drawn by `render` through `probe` in place of the engine's device,
    // which is put back after; the floating-point environment is reset after the draw.
    template <class Render> void ThroughProbe(ProbeDevice& probe, Render render) {
        IDirect3DDevice2* real = engine3->D3DDevice.Detach();
        engine3->D3DDevice.Attach(&probe);
        TPrimitiveRenderer r(engine3.get(), 4, 1);
        r.SetTextureSlot(0, nullptr, RECT{0, 0, 1, 1});
        Square(r, 0, 0, 4, 0, pbOpaque, 0);
        Square(r, 0, 0, 4, 0, pbOpaque, 0);
        render(r);
        std::fesetenv(FE_DFL_ENV);
        engine3->D3DDevice.Detach();
        engine3->D3DDevice.Attach(real);
    }

    static constexpr const char* kLevelStates = "1=0 7=0 14=0 17=2 18=2 33=0 26=0 27=0 41=1";

    std::vector<std::unique_ptr<TDDDDTexture>> textures;
};

TEST_F(PrimitivesTest, SlotEdgesAreTheRectangleOverTheTextureSize) {
    struct Case {
        int width, height;
        RECT rect;
        float u0, v0, u1, v1;
    };
    const Case cases[] = {
        {256, 256, {0, 0, 256, 256}, 0, 0, 1, 1},
        {256, 128, {64, 32, 128, 128}, 0.25f, 0.25f, 0.5f, 1},
        {100, 100, {0, 0, 33, 1}, 0, 0, 0.33f, 0.01f},
        {64, 64, {-32, 0, 128, 64}, -0.5f, 0, 2, 1}, // outside the texture: passed on as is
        {0, 0, {0, 0, 256, 256}, 0, 0, 1, 1},        // no image yet: nothing to divide by
    };
    for (const Case& c : cases) {
        TPrimitiveRenderer r(engine3.get(), 4, 2);
        TDDDDTexture* t = Texture(c.width, c.height, 5);
        r.SetTextureSlot(1, t, c.rect);
        const TTextureSlot& s = r.Slots[1];
        EXPECT_EQ(s.Texture, t);
        EXPECT_FLOAT_EQ(s.U0, c.u0) << c.width << " " << c.rect.left;
        EXPECT_FLOAT_EQ(s.V0, c.v0);
        EXPECT_FLOAT_EQ(s.U1, c.u1);
        EXPECT_FLOAT_EQ(s.V1, c.v1);
    }
    TPrimitiveRenderer r(engine3.get(), 4, 2);
    r.SetTextureSlot(0, nullptr, RECT{0, 0, 10, 10});
    EXPECT_EQ(r.Slots[0].Texture, nullptr);
    EXPECT_FLOAT_EQ(r.Slots[0].U1, 1);
    r.SetTextureSlot(2, nullptr, RECT{0, 0, 10, 10});
    r.SetTextureSlot(-1, nullptr, RECT{0, 0, 10, 10});
    EXPECT_EQ(
        Log(),
        "debug#00001 ... Primitives: Slot=2は無効です、Slotは0から1の範囲にしてください\r\n"
        "debug#00002 ... Primitives: Slot=-1は無効です、Slotは0から1の範囲にしてください\r\n");
}

TEST_F(PrimitivesTest, RecordsCarryTheSlotTheCornersAndTheirTexels) {
    TPrimitiveRenderer r(engine3.get(), 4, 1);
    TDDDDTexture* t = Texture(200, 100, 9);
    r.SetTextureSlot(0, t, RECT{20, 10, 180, 90});
    r.AddQuad(0, Vec2(1, 2), Vec2(3, 4), Vec2(5, 6), Vec2(7, 8), 0, pbAlpha, 0x80FF0000);
    r.AddRect(0, SingleRect(10, 20, 30, 40), 0, pbAdditive, 0xFF00FF00);
    ASSERT_EQ(r.Count, 2);
    const TPrimitive& q = r.Items[0];
    EXPECT_EQ(q.Texture, t);
    EXPECT_EQ(q.Blend, pbAlpha);
    struct Corner {
        float sx, sy, tu, tv;
    };
    const Corner quad[] = {
        {1, 2, 0.1f, 0.1f}, {3, 4, 0.9f, 0.1f}, {5, 6, 0.1f, 0.9f}, {7, 8, 0.9f, 0.9f}};
    const Corner rect[] = {
        {10, 20, 0.1f, 0.1f}, {30, 20, 0.9f, 0.1f}, {10, 40, 0.1f, 0.9f}, {30, 40, 0.9f, 0.9f}};
    for (int i = 0; i < 4; ++i) {
        for (const auto& [item, want] : {std::pair{&r.Items[0], quad[i]}, {&r.Items[1], rect[i]}}) {
            const D3DTLVERTEX& v = item->Vertices[std::size_t(i)];
            EXPECT_FLOAT_EQ(v.sx, want.sx) << i;
            EXPECT_FLOAT_EQ(v.sy, want.sy) << i;
            EXPECT_FLOAT_EQ(v.tu, want.tu) << i;
            EXPECT_FLOAT_EQ(v.tv, want.tv) << i;
            EXPECT_FLOAT_EQ(v.sz, 2.0f);
            EXPECT_FLOAT_EQ(v.rhw, 0.5f);
            EXPECT_EQ(v.specular, 0u);
        }
        EXPECT_EQ(r.Items[0].Vertices[std::size_t(i)].color, 0x80FF0000u);
        EXPECT_EQ(r.Items[1].Vertices[std::size_t(i)].color, 0xFF00FF00u);
    }
}

TEST_F(PrimitivesTest, FirstAddedLiesOnTopWithinALevelAndHigherLevelsOverLower) {
    // Three overlapping strips: a pixel in each overlap shows which was drawn later.
    struct Case {
        std::int32_t z1, z2, z3;
        DWORD at7, at12, at17; // pixels in Q1 & Q2, Q2 & Q3, Q3 alone
    };
    const DWORD red = 0xF800, green = 0x07E0, blue = 0x001F;
    const Case cases[] = {
        {0, 0, 0, red, green, blue},
        {1, 1, 1, red, green, blue},
        {0, 1, 2, green, blue, blue},
        {2, 0, 1, red, blue, blue},
    };
    for (const Case& c : cases) {
        Clear();
        TPrimitiveRenderer r(engine3.get(), 8, 1);
        r.SetMaxZ(2);
        r.SetTextureSlot(0, nullptr, RECT{0, 0, 1, 1});
        r.AddRect(0, SingleRect(0, 0, 10, 10), c.z1, pbOpaque, 0xFFFF0000);  // Q1
        r.AddRect(0, SingleRect(5, 0, 15, 10), c.z2, pbOpaque, 0xFF00FF00);  // Q2
        r.AddRect(0, SingleRect(10, 0, 20, 10), c.z3, pbOpaque, 0xFF0000FF); // Q3
        r.RenderAll();
        EXPECT_EQ(Pixel(7, 5), c.at7) << c.z1 << c.z2 << c.z3;
        EXPECT_EQ(Pixel(12, 5), c.at12);
        EXPECT_EQ(Pixel(17, 5), c.at17);
        EXPECT_EQ(Pixel(2, 5), red);
        EXPECT_EQ(r.Count, 0);
    }
    EXPECT_EQ(Log(), "");
}

TEST_F(PrimitivesTest, LevelsOutsideTheRangeAreLoggedAndTheRestIsDrawn) {
    struct Case {
        std::int32_t z;
        std::string log;
    };
    const Case cases[] = {
        {3, "debug#00001 ... Primitives: Z=3は無効です、Z値は0から2の範囲にしてください\r\n"},
        {-1, "debug#00001 ... Primitives: Z=-1は無効です、Z値は0から2の範囲にしてください\r\n"},
        {2, ""},
    };
    for (const Case& c : cases) {
        Clear();
        TPrimitiveRenderer r(engine3.get(), 8, 1);
        r.SetMaxZ(2);
        r.SetTextureSlot(0, nullptr, RECT{0, 0, 1, 1});
        Square(r, 0, 0, 10, 0, pbOpaque, 0xFFFF0000);
        Square(r, 20, 0, 10, c.z, pbOpaque, 0xFF00FF00);
        Square(r, 40, 0, 10, 1, pbOpaque, 0xFF0000FF);
        Adapter().RecordCalls(true);
        r.RenderAll();
        EXPECT_EQ(Log(), c.log) << c.z;
        EXPECT_EQ(Pixel(5, 5), 0xF800u);
        EXPECT_EQ(Pixel(25, 5), c.log.empty() ? 0x07E0u : 0u);
        EXPECT_EQ(Pixel(45, 5), 0x001Fu);
        EXPECT_EQ(r.Count, 0); // cleared even after a warning
        const std::string draws = Trace();
        EXPECT_EQ(std::count(draws.begin(), draws.end(), 'D'), c.log.empty() ? 3 : 2);
        Adapter().RecordCalls(false);
        Adapter().ClearCalls();
        TearDown();
        SetUp();
    }
}

TEST_F(PrimitivesTest, StateIsSetPerFilledLevelAndThenOnlyOnChanges) {
    struct Item {
        int texture; // 0 none, 1 a, 2 b
        std::uint8_t blend;
        std::int32_t z;
    };
    struct Case {
        const char* name;
        std::vector<Item> drawn; // in drawing order
        std::string trace;       // after the level states
    };
    const std::string level = kLevelStates;
    const Case cases[] = {
        {"empty list", {}, ""},
        {"one opaque", {{0, 0, 0}}, level + " D"},
        {"same state twice", {{0, 0, 0}, {0, 0, 0}}, level + " D D"},
        {"additive then alpha",
         {{0, 1, 0}, {0, 2, 0}},
         level + " 27=1 21=2 19=2 20=2 D 19=5 20=6 D"},
        {"alpha, opaque, alpha",
         {{0, 2, 0}, {0, 0, 0}, {0, 2, 0}},
         level + " 27=1 21=2 19=5 20=6 D 27=0 D 27=1 21=2 19=5 20=6 D"},
        {"unknown blend sets nothing", {{0, 3, 0}, {0, 1, 0}}, level + " D 19=2 20=2 D"},
        {"textures a a b none",
         {{1, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 0, 0}},
         level + " 1=11 D D 1=12 D 1=0 D"},
        // Levels 0 and 2 filled, 1 empty: the states twice, the remembered ones forgotten.
        {"two levels",
         {{1, 1, 0}, {1, 1, 2}},
         level + " 1=11 27=1 21=2 19=2 20=2 D " + level + " 1=11 27=1 21=2 19=2 20=2 D"},
    };
    for (const Case& c : cases) {
        TDDDDTexture* const byNumber[] = {nullptr, Texture(0, 0, 11), Texture(0, 0, 12)};
        TPrimitiveRenderer r(engine3.get(), 8, 3);
        r.SetMaxZ(2);
        for (int s = 0; s < 3; ++s)
            r.SetTextureSlot(s, byNumber[s], RECT{0, 0, 1, 1});
        // Within a level the last added is drawn first; slot n holds texture n.
        for (auto it = c.drawn.rbegin(); it != c.drawn.rend(); ++it)
            r.AddRect(it->texture, SingleRect(0, 0, 4, 4), it->z, it->blend, 0xFFFFFFFF);
        Adapter().ClearCalls();
        Adapter().RecordCalls(true);
        r.RenderAll();
        Adapter().RecordCalls(false);
        EXPECT_EQ(Trace(), c.trace) << c.name;
    }
}

TEST_F(PrimitivesTest, BlendedQuadsMixWithTheTarget) {
    struct Case {
        std::uint8_t blend;
        D3DCOLOR colour;
        DWORD expected; // over a mid-grey opaque quad
    };
    // 5-6-5 mid grey: r 16 of 31, g 32 of 63, b 16 of 31.
    const Case cases[] = {
        {pbOpaque, 0xFF000000 | 0x0000FF, 0x001F},
        {pbAdditive, 0xFF000000 | 0x0000FF, 0x841F}, // blue saturates, the grey stays
        {pbAlpha, 0x00FF0000, 0x8410},               // alpha 0 leaves the grey
        {pbAlpha, 0xFFFF0000, 0xF800},               // alpha 1 replaces it
    };
    for (const Case& c : cases) {
        Clear();
        TPrimitiveRenderer r(engine3.get(), 4, 1);
        r.SetTextureSlot(0, nullptr, RECT{0, 0, 1, 1});
        // Drawn second: the grey base is added last.
        Square(r, 0, 0, 8, 0, c.blend, c.colour);
        Square(r, 0, 0, 8, 0, pbOpaque, 0xFF808080);
        r.RenderAll();
        EXPECT_EQ(Pixel(4, 4), c.expected) << int(c.blend) << " " << std::hex << c.colour;
    }
}

TEST_F(PrimitivesTest, FullListAndUnknownSlotsAreRefused) {
    TPrimitiveRenderer r(engine3.get(), 2, 1);
    r.SetTextureSlot(0, nullptr, RECT{0, 0, 1, 1});
    for (int i = 0; i < 3; ++i)
        Square(r, 0, 0, 4, 0, pbOpaque, 0xFFFFFFFF);
    r.AddQuad(1, Vec2(0, 0), Vec2(1, 0), Vec2(0, 1), Vec2(1, 1), 0, pbOpaque, 0);
    EXPECT_EQ(r.Count, 2);
    r.ClearList();
    EXPECT_EQ(r.Count, 0);
    r.AddQuad(1, Vec2(0, 0), Vec2(1, 0), Vec2(0, 1), Vec2(1, 1), 0, pbOpaque, 0);
    EXPECT_EQ(r.Count, 0);
    EXPECT_EQ(Log(),
              "debug#00001 ... Primitives: プリミティブは2個までです、これ以上追加できません\r\n"
              "debug#00002 ... Primitives: プリミティブは2個までです、これ以上追加できません\r\n"
              "debug#00003 ... Primitives: Slot=1は無効です、Slotは0から0の範囲にしてください\r\n");
}

TEST_F(PrimitivesTest, WithoutADeviceTheListIsLoggedAndDropped) {
    IDirect3DDevice2* real = engine3->D3DDevice.Detach();
    TPrimitiveRenderer r(engine3.get(), 4, 1);
    r.SetTextureSlot(0, nullptr, RECT{0, 0, 1, 1});
    r.RenderAll(); // an empty list says nothing
    Square(r, 0, 0, 4, 0, pbOpaque, 0);
    r.RenderAll();
    engine3->D3DDevice.Attach(real);
    EXPECT_EQ(r.Count, 0);
    EXPECT_EQ(Log(), "debug#00001 ... Primitives: Direct3Dデバイスがないので描画できません\r\n");
}

TEST_F(PrimitivesTest, EachDrawStartsFromTheDefaultFloatingPointState) {
    ProbeDevice probe;
    int roundingAfter = 0, flagsAfter = 0;
    ThroughProbe(probe, [&](TPrimitiveRenderer& r) {
        std::fesetround(FE_UPWARD);
        std::feraiseexcept(FE_OVERFLOW);
        r.RenderAll();
        roundingAfter = std::fegetround();
        flagsAfter = std::fetestexcept(FE_ALL_EXCEPT);
    });
    EXPECT_EQ(probe.roundings, (std::vector<int>{FE_TONEAREST, FE_TONEAREST}));
    EXPECT_EQ(probe.flagsSeen, (std::vector<int>{0, 0}));
    EXPECT_EQ(roundingAfter, FE_TONEAREST);
    EXPECT_EQ(flagsAfter, 0);
}

TEST_F(PrimitivesTest, RaisingDrawLogsFpFaultAndHalts) {
    ProbeDevice probe;
    probe.raise = true;
    ThroughProbe(probe, [](TPrimitiveRenderer& r) { EXPECT_THROW(r.RenderAll(), Halted); });
    EXPECT_EQ(probe.roundings.size(), 1u); // nothing drawn after the fault
    EXPECT_EQ(Log(), "debug#00001 ... FP Fault\r\n");
}

// 5-6-5 channels widened to eight bits.
struct Rgb {
    int r, g, b;
};
Rgb Channels(DWORD p) {
    return Rgb{int((p >> 11) & 31) << 3, int((p >> 5) & 63) << 2, int(p & 31) << 3};
}

TEST_F(PrimitivesTest, SixAdditiveSquaresOfTheThirdPhaseAddUp) {
    InitMathTables();
    TDDDDTexture* texture = Texture(0, 0, 0);
    texture->LoadFromArchive(ZELKA_DAT_PATH, "boss2.bmp", 0, 0);
    ASSERT_EQ(texture->Width, 256);
    ASSERT_NE(texture->Handle, 0u);
    TPrimitiveRenderer r(engine3.get(), 16, 1);
    r.SetMaxZ(2);
    r.SetTextureSlot(0, texture, RECT{0, 0, 256, 256});
    const DWORD clock = 700; // a sixth of a turn and more: every square at its own angle
    // Each square alone, then all six: additive blending sums what each one adds.
    struct Probe {
        int x, y;
    };
    const Probe probes[] = {{200, 200}, {150, 230}, {260, 140}, {200, 60}, {90, 300}};
    std::vector<std::vector<DWORD>> alone(6);
    for (int i = 0; i < 6; ++i) {
        Clear();
        AddSixSquares(r, clock);
        for (int k = 0; k < 6; ++k)
            if (k != 5 - i) // the renderer draws the last added first; keep one square
                r.Items[std::size_t(k)].Z = 1000;
        r.RenderAll();
        for (const Probe& p : probes)
            alone[std::size_t(i)].push_back(Pixel(p.x, p.y));
    }
    Clear();
    AddSixSquares(r, clock);
    r.RenderAll();
    int lit = 0;
    for (std::size_t n = 0; n < std::size(probes); ++n) {
        Rgb sum{0, 0, 0};
        for (int i = 0; i < 6; ++i) {
            const Rgb c = Channels(alone[std::size_t(i)][n]);
            sum = Rgb{sum.r + c.r, sum.g + c.g, sum.b + c.b};
        }
        const Rgb all = Channels(Pixel(probes[n].x, probes[n].y));
        // Each addition may lose up to one step of 5-6-5 precision.
        EXPECT_NEAR(all.r, std::min(sum.r, 248), 6 * 8) << probes[n].x << "," << probes[n].y;
        EXPECT_NEAR(all.g, std::min(sum.g, 252), 6 * 4);
        EXPECT_NEAR(all.b, std::min(sum.b, 248), 6 * 8);
        lit += all.r + all.g + all.b > 0;
    }
    EXPECT_GE(lit, 4);

    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    engine3->BackBuffer->Surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
    QImage(static_cast<const uchar*>(desc.lpSurface), 400, 400, int(desc.lPitch),
           QImage::Format_RGB16)
        .save(QDir::temp().filePath("zelka-d3d-phase3.png"));
    engine3->BackBuffer->Surface->Unlock(nullptr);
}

} // namespace
