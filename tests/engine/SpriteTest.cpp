// Sprite sets and background layers: level tables, drawing order, warnings, retried copies,
// scaled sprites, wrapping, the cells that cover the screen and rejected chips.
#include "EngineTestSupport.h"
#include "engine/ddddut.h"

#include <algorithm>
#include <climits>
#include <vector>

using directx::Adapter;

namespace {

class SpriteTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        // The layers cover the display's resolution; make it the DirectDraw test's.
        Adapter().ChangeMode(directx::DisplayMode{640, 480, 16});
    }
    void TearDown() override {
        surfaces.clear();
        for (IDirectDrawSurface* raw : raws)
            raw->Release();
        raws.clear();
        Adapter().ChangeMode(Adapter().DesktopMode());
        EngineTest::TearDown();
    }
    // A colour-keyed (key 0) source whose pixel (x, y) holds code(x, y).
    template <typename Code> TDDDDGenSurface* Source(int width, int height, Code code) {
        IDirectDrawSurface* raw = Plain(width, height);
        raws.push_back(raw);
        DDCOLORKEY key{0, 0};
        raw->SetColorKey(DDCKEY_SRCBLT, &key);
        surfaces.push_back(std::make_unique<TDDDDGenSurface>(&engine, raw, width, height));
        TDDDDGenSurface* s = surfaces.back().get();
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                s->SetPixel(x, y, code(x, y));
        return s;
    }
    TDDDDGenSurface* Solid(int width, int height, DWORD value) {
        return Source(width, height, [value](int, int) { return value; });
    }
    DWORD Back(int x, int y) { return engine.BackBuffer->GetPixel(x, y); }
    long Count(const std::string& call) const {
        const auto& calls = Adapter().Calls();
        return std::count(calls.begin(), calls.end(), call);
    }

    std::vector<IDirectDrawSurface*> raws;
    std::vector<std::unique_ptr<TDDDDGenSurface>> surfaces;
};

TEST_F(SpriteTest, NewSetHasItsDefaultsAndLevelTable) {
    struct Case {
        int sprites, zShift;
    };
    for (const Case c :
         {Case{1, 0}, Case{0, 0}, Case{2, 1}, Case{301, 9}, Case{512, 9}, Case{513, 10}}) {
        TDDDDSprite set(c.sprites, 7);
        EXPECT_EQ(set.ZShift, c.zShift) << c.sprites;
        EXPECT_EQ(set.MaxZ, 0);
        EXPECT_EQ(set.Buckets.Slots(), std::size_t{1} << c.zShift);
        EXPECT_EQ(set.Buckets.Levels(), 1u);
        set.SetMaxZ(3);
        EXPECT_EQ(set.Buckets.Slots(), std::size_t{4} << c.zShift);
        EXPECT_EQ(set.Buckets.Levels(), 4u);
        EXPECT_EQ(set.Regs.size(), static_cast<std::size_t>(c.sprites));
    }
    TDDDDSprite set(3, 2);
    EXPECT_EQ(set.BltFx.dwSize, 100u);
    EXPECT_EQ(set.BltFx.dwDDFX, 0u);
    ASSERT_EQ(set.Shapes.size(), 2u);
    EXPECT_EQ(set.Shapes[1].Surface, nullptr);
    EXPECT_EQ(set.Shapes[1].Rect.right, 0);
    const TDDDDSprReg& r = *set.GetReg(2);
    EXPECT_EQ(r.Owner, &set);
    EXPECT_EQ(std::vector<int>({r.ScaleXNum, r.ScaleXDen, r.ScaleYNum, r.ScaleYDen, r.IShape,
                                r.ShapeOffset, r.X, r.Y, r.Z}),
              std::vector<int>({1, 1, 1, 1, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(r.Visible || r.StretchX || r.StretchY);
}

TEST_F(SpriteTest, LowerLevelsFirstAndTheLowestNumberOnTopWithinALevel) {
    struct Case {
        int z3, z7;
        DWORD top; // the value of the sprite that ends up visible
    };
    const Case cases[] = {{0, 0, 0x333}, {1, 1, 0x333}, {1, 0, 0x333}, {0, 1, 0x777}};
    for (const Case& c : cases) {
        Open(64, 64);
        TDDDDSprite set(10, 2);
        set.SetMaxZ(1);
        set.SetShape(0, Solid(8, 8, 0x333), RECT{0, 0, 8, 8});
        set.SetShape(1, Solid(8, 8, 0x777), RECT{0, 0, 8, 8});
        for (int i : {3, 7}) {
            TDDDDSprReg& r = *set.GetReg(i);
            r.Visible = true;
            r.IShape = i == 3 ? 0 : 1;
            r.X = 10;
            r.Y = 20;
            r.Z = i == 3 ? c.z3 : c.z7;
        }
        set.DrawAll();
        EXPECT_EQ(Back(10, 20), c.top) << c.z3 << "/" << c.z7;
        EXPECT_EQ(Back(17, 27), c.top);
        EXPECT_EQ(Back(18, 20), 0u);
        EXPECT_EQ(Log(), "");
        TearDown();
        SetUp();
    }
}

TEST_F(SpriteTest, BadLevelsAndShapesAreLoggedWithTheirValuesAndSkipped) {
    struct Case {
        int z, iShape, shapeOffset;
        bool visible;
        std::string log; // the whole log after one DrawAll
    };
    const Case cases[] = {
        {3, 0, 0, true, "debug#00001 ... Z=3は無効です、Z値は0から2の範囲にしてください\r\n"},
        {-1, 0, 0, true, "debug#00001 ... Z=-1は無効です、Z値は0から2の範囲にしてください\r\n"},
        {3, 0, 0, false, ""}, // hidden sprites are not looked at
        {0, 5, 2, true,
         "debug#00001 ... DDDDSprite.IShape=7は無効です、IShapeは0から5の範囲にしてください\r\n"},
        {0, -1, 0, true,
         "debug#00001 ... DDDDSprite.IShape=-1は無効です、IShapeは0から5の範囲にしてください\r\n"},
        {2, 3, 1, true, "debug#00001 ... DDDDSprite.Shape[4]に使うサーフェスが見付かりません\r\n"},
        {2, 5, 0, true, ""},
    };
    for (const Case& c : cases) {
        Open(64, 64);
        TDDDDSprite set(3, 6);
        set.SetMaxZ(2);
        for (int s : {0, 1, 2, 3, 5})
            set.SetShape(s, Solid(4, 4, 0x100 + s), RECT{0, 0, 4, 4});
        for (int i = 0; i < 3; ++i) {
            TDDDDSprReg& r = *set.GetReg(i);
            r.Visible = true;
            r.X = 10 * i;
        }
        TDDDDSprReg& odd = *set.GetReg(1);
        odd.Z = c.z;
        odd.IShape = c.iShape;
        odd.ShapeOffset = c.shapeOffset;
        odd.Visible = c.visible;
        set.DrawAll();
        EXPECT_EQ(Log(), c.log) << c.z << " " << c.iShape;
        // The others are drawn whatever happens to sprite 1.
        EXPECT_EQ(Back(0, 0), 0x100u);
        EXPECT_EQ(Back(20, 0), 0x100u);
        const bool drawn = c.log.empty() && c.visible;
        EXPECT_EQ(Back(10, 0), drawn ? 0x100u + c.iShape + c.shapeOffset : 0u);
        // Once per DrawAll, not once for ever.
        set.DrawAll();
        EXPECT_EQ(LogLineCount, c.log.empty() ? 0 : 2);
        TearDown();
        SetUp();
    }
}

TEST_F(SpriteTest, CopiesAreTriedWithoutWaitingThenOnceWithWaiting) {
    struct Case {
        bool stretch;
        int failures;
        long calls;
        bool drawn;
    };
    const Case cases[] = {
        {false, 0, 1, true}, {false, 1, 2, true}, {false, 2, 2, false},
        {true, 0, 1, true},  {true, 1, 2, true},  {true, 2, 2, false},
    };
    for (const Case& c : cases) {
        Open(64, 64);
        TDDDDSprite set(1, 1);
        set.SetShape(0, Solid(4, 4, 0x42), RECT{0, 0, 4, 4});
        TDDDDSprReg& r = *set.GetReg(0);
        r.Visible = true;
        r.StretchX = c.stretch;
        const char* method = c.stretch ? "IDirectDrawSurface::Blt" : "IDirectDrawSurface::BltFast";
        if (c.failures)
            Adapter().FailNext(method, c.failures, DDERR_WASSTILLDRAWING);
        Adapter().RecordCalls(true);
        set.DrawAll();
        EXPECT_EQ(Count(method), c.calls) << c.stretch << " " << c.failures;
        EXPECT_EQ(Back(3, 3), c.drawn ? 0x42u : 0u);
        EXPECT_EQ(Log(), ""); // a failed retry is not reported
        TearDown();
        SetUp();
    }
}

TEST_F(SpriteTest, ScaledSpritesCoverTheirScaledRectangleKeyed) {
    struct Case {
        int xNum, xDen, yNum, yDen;
        bool stretchX, stretchY;
        int right, bottom; // exclusive extent drawn from (8, 8)
    };
    const Case cases[] = {
        {2, 1, 1, 1, true, false, 8 + 16, 8 + 8},
        {1, 2, 3, 1, false, true, 8 + 4, 8 + 24},
        {3, 2, 1, 3, true, true, 8 + 12, 8 + 2},  // 8 * 1 div 3 = 2, truncated
        {2, 1, 2, 1, false, false, 8 + 8, 8 + 8}, // scale ignored without a stretch flag
    };
    for (const Case& c : cases) {
        Open(64, 64);
        TDDDDSprite set(1, 1);
        // A ring of key pixels around a solid inside: the key leaves the border out.
        set.SetShape(
            0,
            Source(10, 10,
                   [](int x, int y) { return x == 0 || y == 0 || x == 9 || y == 9 ? 0u : 0x55u; }),
            RECT{1, 1, 9, 9});
        TDDDDSprReg& r = *set.GetReg(0);
        r.Visible = true;
        r.X = r.Y = 8;
        r.ScaleXNum = c.xNum;
        r.ScaleXDen = c.xDen;
        r.ScaleYNum = c.yNum;
        r.ScaleYDen = c.yDen;
        r.StretchX = c.stretchX;
        r.StretchY = c.stretchY;
        set.DrawAll();
        EXPECT_EQ(Back(8, 8), 0x55u) << c.xNum << "/" << c.xDen;
        EXPECT_EQ(Back(c.right - 1, c.bottom - 1), 0x55u);
        EXPECT_EQ(Back(c.right, c.bottom - 1), 0u);
        EXPECT_EQ(Back(c.right - 1, c.bottom), 0u);
        EXPECT_EQ(Back(7, 8), 0u);
        TearDown();
        SetUp();
    }
}

TEST_F(SpriteTest, ZeroScaleDenominatorIsLoggedNotDivided) {
    Open(64, 64);
    TDDDDSprite set(1, 1);
    set.SetShape(0, Solid(4, 4, 0x42), RECT{0, 0, 4, 4});
    TDDDDSprReg& r = *set.GetReg(0);
    r.Visible = r.StretchY = true;
    r.ScaleYDen = 0;
    set.DrawAll();
    EXPECT_EQ(Back(0, 0), 0u);
    EXPECT_EQ(Log(), "debug#00001 ... DDDDSprite.ScaleXDen=1, "
                     "ScaleYDen=0は無効です、分母は0以外にしてください\r\n");
}

TEST_F(SpriteTest, IndexesOutsideTheSetAreRefused) {
    Open(16, 16);
    TDDDDSprite set(2, 2);
    EXPECT_EQ(set.GetReg(2), nullptr);
    EXPECT_EQ(set.GetReg(-1), nullptr);
    set.SetShape(2, Solid(4, 4, 1), RECT{0, 0, 4, 4});
    TDDDDBG bg(2, 2, 8, 8);
    bg.SetChip(1024, surfaces[0].get(), 0, 0, true);
    bg.SetCell(2, 0, 0);
    bg.SetCell(0, -1, 0);
    EXPECT_EQ(bg.GetCell(2, 0), TDDDDBG::EmptyCell);
    EXPECT_EQ(bg.GetCell(1, 1), TDDDDBG::EmptyCell); // a new map is empty
    EXPECT_EQ(
        Log(),
        "debug#00001 ... DDDDSprite.GetReg: Index=2は無効です、0から1の範囲にしてください\r\n"
        "debug#00002 ... DDDDSprite.GetReg: Index=-1は無効です、0から1の範囲にしてください\r\n"
        "debug#00003 ... DDDDSprite.SetShape: Index=2は無効です、0から1の範囲にしてください\r\n"
        "debug#00004 ... DDDDBG BGチップ1024番は無効です。0..1023の範囲で指定してください\r\n"
        "debug#00005 ... DDDDBG マップのセル(2, 0)は範囲外です\r\n"
        "debug#00006 ... DDDDBG マップのセル(0, -1)は範囲外です\r\n");
}

// ---- backgrounds ----

TEST_F(SpriteTest, ScrollPositionWrapsIntoTheMap) {
    struct Case {
        int scrollX, scrollY;
        int chipX, chipY; // chip pixel shown at the top-left corner
    };
    const Case cases[] = {
        {0, 0, 0, 0},
        {-1, 0, 99, 0},
        {250, 0, 50, 0},
        {0, -1, 0, 99},
        {-201, 37, 99, 37},
        {INT_MIN, 0, 52, 0}, // -2147483648 mod 100 = 52 after wrapping
        {INT_MAX, INT_MAX, 47, 47},
    };
    for (const Case& c : cases) {
        Open(64, 64);
        TDDDDBG bg(1, 1, 100, 100);
        bg.SetChip(0, Source(100, 100, [](int x, int y) { return DWORD(x + 100 * y + 1); }), 0, 0,
                   false);
        bg.SetCell(0, 0, 0);
        bg.ScrollX = c.scrollX;
        bg.ScrollY = c.scrollY;
        bg.DrawBG();
        EXPECT_EQ(Back(0, 0), DWORD(c.chipX + 100 * c.chipY + 1)) << c.scrollX << "," << c.scrollY;
        // One pixel right is the next map pixel, wrapping at the map's edge.
        EXPECT_EQ(Back(1, 0), DWORD((c.chipX + 1) % 100 + 100 * c.chipY + 1));
        EXPECT_EQ(Log(), "");
        TearDown();
        SetUp();
    }
}

TEST_F(SpriteTest, CellsCoverTheDisplayResolution) {
    struct Case {
        int mapWidth, chipWidth, scrollX;
        long columns;
    };
    const Case cases[] = {
        {1, 100, 250, 7}, // (640 + 100 + 50 - 1) div 100
        {1, 100, 0, 7},   {1, 100, -1, 8}, {2, 128, 0, 5}, {2, 128, 255, 6}, {3, 640, 5, 2},
    };
    for (const Case& c : cases) {
        Open(640, 480);
        TDDDDBG bg(c.mapWidth, 1, c.chipWidth, 480); // one row of chips covers the height
        TDDDDGenSurface* chip = Solid(c.chipWidth, 480, 0x11);
        bg.SetChip(0, chip, 0, 0, false);
        for (int col = 0; col < c.mapWidth; ++col)
            bg.SetCell(col, 0, 0);
        bg.ScrollX = c.scrollX;
        Adapter().RecordCalls(true);
        bg.DrawBG();
        EXPECT_EQ(Count("IDirectDrawSurface::BltFast"), c.columns)
            << c.chipWidth << " " << c.scrollX;
        EXPECT_EQ(Back(639, 479), 0x11u);
        TearDown();
        SetUp();
    }
}

TEST_F(SpriteTest, MapCellsAreWalkedRowByRowAndWrap) {
    Open(640, 480);
    // 2 x 2 cells of 10 x 10: chip n is solid n + 1.
    TDDDDBG bg(2, 2, 10, 10);
    for (int n = 0; n < 4; ++n)
        bg.SetChip(n, Solid(10, 10, n + 1), 0, 0, false);
    bg.SetCell(0, 0, 0);
    bg.SetCell(1, 0, 1);
    bg.SetCell(0, 1, 2);
    bg.SetCell(1, 1, 3);
    EXPECT_EQ(bg.Map, (std::vector<std::uint16_t>{0, 1, 2, 3}));
    EXPECT_EQ(bg.TotalWidth, 20);
    EXPECT_EQ(bg.TotalHeight, 20);
    bg.ScrollX = 15;
    bg.ScrollY = -5;
    bg.DrawBG();
    struct Probe {
        int x, y;
        DWORD value;
    };
    // Map pixel (15, 15) at the corner: cell (1, 1) for 5 pixels, then the map repeats.
    for (const Probe p : {Probe{0, 0, 4}, Probe{4, 4, 4}, Probe{5, 0, 3}, Probe{15, 0, 4},
                          Probe{0, 5, 2}, Probe{5, 5, 1}, Probe{639, 479, 4}, Probe{634, 474, 1}})
        EXPECT_EQ(Back(p.x, p.y), p.value) << p.x << "," << p.y;
}

TEST_F(SpriteTest, RejectedAndEmptyCellsSkipOnlyThemselves) {
    struct Case {
        std::uint16_t middle;
        DWORD drawn; // what the middle cell shows
        std::string log;
    };
    const Case cases[] = {
        {0, 0x21, ""},
        {TDDDDBG::EmptyCell, 0x7, ""},
        {1024, 0x7,
         "debug#00001 ... DDDDBG BGチップ1024番は無効です。0..1023の範囲で指定してください\r\n"},
        {5, 0x7, "debug#00001 ... DDDDBG BGチップ5番に使うサーフェスが見付かりません\r\n"},
        {1023, 0x7, "debug#00001 ... DDDDBG BGチップ1023番に使うサーフェスが見付かりません\r\n"},
    };
    for (const Case& c : cases) {
        Open(640, 480);
        engine.BackBuffer->SetPixel(300, 10, 0x7);
        // Three cells of 213 + one column of the next repeat cover 640 pixels.
        TDDDDBG bg(3, 1, 213, 480);
        bg.SetChip(0, Solid(213, 480, 0x21), 0, 0, false);
        bg.SetCell(0, 0, 0);
        bg.SetCell(1, 0, c.middle);
        bg.SetCell(2, 0, 0);
        bg.DrawBG();
        EXPECT_EQ(Back(300, 10), c.drawn) << c.middle;
        EXPECT_EQ(Back(212, 10), 0x21u); // the cell before
        EXPECT_EQ(Back(426, 10), 0x21u); // the next cell, at its own position
        EXPECT_EQ(Back(639, 10), 0x21u);
        EXPECT_EQ(Log(), c.log);
        TearDown();
        SetUp();
    }
}

TEST_F(SpriteTest, TransparentChipsKeepKeyPixelsOpaqueChipsCopyThem) {
    struct Case {
        bool transparent;
        DWORD keyPixel;
    };
    for (const Case c : {Case{true, 0x9}, Case{false, 0}}) {
        Open(640, 480);
        for (int x = 0; x < 4; ++x)
            engine.BackBuffer->SetPixel(x, 0, 0x9);
        TDDDDBG bg(1, 1, 2, 2);
        // Column 0 is the key (0), column 1 solid.
        bg.SetChip(0, Source(2, 2, [](int x, int) { return x ? 0x30u : 0u; }), 0, 0, c.transparent);
        bg.SetCell(0, 0, 0);
        bg.DrawBG();
        EXPECT_EQ(Back(0, 0), c.keyPixel) << c.transparent;
        EXPECT_EQ(Back(2, 0), c.keyPixel);
        EXPECT_EQ(Back(1, 0), 0x30u);
        TearDown();
        SetUp();
    }
}

TEST_F(SpriteTest, HiddenOrSizelessLayersDrawAndLogNothing) {
    struct Case {
        int mapWidth, chipWidth;
        bool visible;
    };
    for (const Case c : {Case{1, 100, false}, Case{0, 100, true}, Case{1, 0, true}}) {
        Open(640, 480);
        TDDDDBG bg(c.mapWidth, 1, c.chipWidth, 100);
        bg.Map.assign(bg.Map.size(), 1024); // would be reported if drawn
        bg.Visible = c.visible;
        Adapter().RecordCalls(true);
        bg.DrawBG();
        EXPECT_TRUE(Adapter().Calls().empty());
        EXPECT_EQ(Log(), "");
        TearDown();
        SetUp();
    }
}

} // namespace
