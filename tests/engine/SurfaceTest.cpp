// Surfaces: placement, pixel access, clipped copies onto the back buffer and the BMP loader.
#include "EngineTestSupport.h"
#include "platform/Classes.h"

#include <cstring>
#include <sys/resource.h>
#include <vector>

using directx::Adapter;

namespace {

// A BMP file: 14-byte file header, 40-byte info header, colour table, rows as given.
std::vector<std::uint8_t> Bmp(std::int32_t width, std::int32_t height, int bits,
                              const std::vector<std::uint8_t>& pixels, int tableEntries = -1) {
    if (tableEntries < 0)
        tableEntries = bits == 8 ? 256 : 0;
    const std::uint32_t offBits = 14 + 40 + 4 * tableEntries;
    std::vector<std::uint8_t> b;
    auto put16 = [&](std::uint32_t v) {
        b.push_back(v & 0xFF);
        b.push_back((v >> 8) & 0xFF);
    };
    auto put32 = [&](std::uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    put16(0x4D42);
    put32(offBits + static_cast<std::uint32_t>(pixels.size()));
    put32(0);
    put32(offBits);
    put32(40);
    put32(static_cast<std::uint32_t>(width));
    put32(static_cast<std::uint32_t>(height));
    put16(1);
    put16(bits);
    for (int i = 0; i < 6; ++i)
        put32(0);
    for (int i = 0; i < tableEntries; ++i)
        put32(static_cast<std::uint32_t>(i * 0x010101));
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

void Load(TDDDDGenSurface& surface, const std::vector<std::uint8_t>& bytes) {
    TMemoryStream stream(bytes);
    surface.LoadFromStream(stream);
}

class SurfaceTest : public EngineTest {
protected:
    // Pixel (x, y) of a source holds x + 100 * y.
    void FillCoded(TDDDDGenSurface& s) {
        for (int y = 0; y < s.Height; ++y)
            for (int x = 0; x < s.Width; ++x)
                s.SetPixel(x, y, static_cast<DWORD>(x + 100 * y + 1));
    }
    DWORD Back(int x, int y) { return engine.BackBuffer->GetPixel(x, y); }
};

TEST_F(SurfaceTest, PlacementFollowsTheEngineSetting) {
    struct Case {
        TDDDDSurfaceMemoryType type;
        bool fullScreen;
        DWORD backMemory;
        DWORD caps;
    };
    const Case cases[] = {
        {smtDefault, false, DDSCAPS_VIDEOMEMORY, 0x4040},
        {smtDefault, false, DDSCAPS_SYSTEMMEMORY, 0x840},
        {smtCompatible, false, DDSCAPS_VIDEOMEMORY, 0x840},
        {smtSystemMemory, false, DDSCAPS_VIDEOMEMORY, 0x840},
        {smtVideoMemory, false, DDSCAPS_SYSTEMMEMORY, 0x4040},
    };
    for (const Case& c : cases) {
        Open(64, 64, c.backMemory);
        engine.FullScreen = c.fullScreen;
        engine.SurfaceLocation = c.type;
        {
            TDDDDSurface surface(&engine, 8, 8, 0);
            EXPECT_EQ(surface.Desc.ddsCaps.dwCaps & 0x20004840, c.caps) << c.type;
            EXPECT_EQ(engine.SurfaceKeepers.size(), 1u);
        }
        EXPECT_TRUE(engine.SurfaceKeepers.empty());
        TearDown();
        SetUp();
    }
}

TEST_F(SurfaceTest, NoVideoMemoryLeftFallsBackToSystemMemorySilently) {
    Open(64, 64);
    Adapter().SetVideoMemory(0);
    engine.SurfaceLocation = smtVideoMemory;
    TDDDDSurface surface(&engine, 32, 32, 0);
    ASSERT_NE(surface.Surface, nullptr);
    EXPECT_EQ(surface.Desc.ddsCaps.dwCaps & (DDSCAPS_SYSTEMMEMORY | DDSCAPS_VIDEOMEMORY),
              DDSCAPS_SYSTEMMEMORY);
    EXPECT_EQ(Log(), "");
}

TEST_F(SurfaceTest, SecondCreationFailureHalts) {
    Open(64, 64);
    Adapter().FailNext("IDirectDraw2::CreateSurface", 2, DDERR_OUTOFMEMORY);
    EXPECT_THROW(TDDDDSurface(&engine, 8, 8, 0), Halted);
    EXPECT_EQ(Log(), "debug#00001 ... サーフェスを作れませんでした(Error Code(8007000E))\r\n");
}

TEST_F(SurfaceTest, RegisteringTwiceKeepsOneKeeperAtTheEnd) {
    Open(64, 64);
    TDDDDSurface a(&engine, 8, 8, 0);
    TDDDDSurface b(&engine, 8, 8, 0);
    engine.AddSurface(&a);
    ASSERT_EQ(engine.SurfaceKeepers.size(), 2u);
    EXPECT_EQ(engine.SurfaceKeepers[0]->Surface, &b);
    EXPECT_EQ(engine.SurfaceKeepers[1]->Surface, &a);
}

TEST_F(SurfaceTest, PixelAccessBoundsAndWidths) {
    struct Case {
        int bits;
        DWORD written;
        DWORD read;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {16, 0xFF12F800, 0xF800, {0x00, 0xF8}},
        {24, 0xFF123456, 0x123456, {0x56, 0x34, 0x12}},
        {32, 0x80123456, 0x80123456, {0x56, 0x34, 0x12, 0x80}},
    };
    for (const Case& c : cases) {
        Open(64, 64);
        IDirectDrawSurface* raw = Plain(4, 3, DDSCAPS_SYSTEMMEMORY, c.bits);
        {
            TDDDDGenSurface s(&engine, raw, 4, 3);
            s.SetPixel(3, 2, c.written);
            EXPECT_EQ(s.GetPixel(3, 2), c.read) << c.bits;
            DDSURFACEDESC desc{};
            s.Lock(desc);
            EXPECT_TRUE(s.Locked);
            const auto* p = static_cast<const std::uint8_t*>(desc.lpSurface) + 2 * desc.lPitch +
                            3 * (c.bits / 8);
            EXPECT_EQ(std::vector<std::uint8_t>(p, p + c.bytes.size()), c.bytes) << c.bits;
            EXPECT_EQ(s.GetPixel(3, 2), c.read); // through the held lock
            s.Unlock();
            EXPECT_FALSE(s.Locked);
        }
        raw->Release();
        TearDown();
        SetUp();
    }
}

TEST_F(SurfaceTest, PixelsOutsideAreRefusedWithALogLine) {
    Open(16, 8);
    TDDDDGenSurface& s = *engine.BackBuffer;
    s.SetPixel(15, 7, 0x1234);
    EXPECT_EQ(s.GetPixel(15, 7), 0x1234u);
    EXPECT_EQ(s.GetPixel(16, 0), 0u);
    s.SetPixel(0, -1, 0x5555);
    EXPECT_EQ(Log(), "debug#00001 ... サーフェス外のピクセルを参照しようとしました\r\n"
                     "debug#00002 ... サーフェス外のピクセルを変更しようとしました\r\n");
}

TEST_F(SurfaceTest, DrawFastClipsAtEveryEdge) {
    struct Case {
        int x, y;
        RECT src;
        // Back-buffer pixel -> expected source pixel (x, y), or (-1) for untouched.
        int bx, by, sx, sy;
    };
    const Case cases[] = {
        {-10, 0, {0, 0, 32, 32}, 0, 0, 10, 0},   // left edge: columns 10.. at 0
        {-10, 0, {0, 0, 32, 32}, 21, 5, 31, 5},  // the last source column
        {-10, 0, {0, 0, 32, 32}, 22, 0, -1, -1}, // nothing beyond it
        {50, 50, {0, 0, 32, 32}, 63, 63, 13, 13},
        {0, -30, {32, 32, 0, 0}, 3, 1, 3, 31}, // a reversed rectangle is normalised
    };
    for (const Case& c : cases) {
        Open(64, 64);
        IDirectDrawSurface* raw = Plain(32, 32);
        {
            TDDDDGenSurface s(&engine, raw, 32, 32);
            FillCoded(s);
            EXPECT_EQ(s.DrawFast(c.x, c.y, c.src, DDBLTFAST_WAIT), DD_OK);
            const DWORD want = c.sx < 0 ? 0 : static_cast<DWORD>(c.sx + 100 * c.sy + 1);
            EXPECT_EQ(Back(c.bx, c.by), want) << c.x << "," << c.y << " at " << c.bx;
        }
        raw->Release();
        TearDown();
        SetUp();
    }
}

TEST_F(SurfaceTest, KeyedDrawFastLeavesKeyPixels) {
    Open(64, 64);
    IDirectDrawSurface* raw = Plain(32, 32);
    TDDDDGenSurface s(&engine, raw, 32, 32);
    FillCoded(s);
    s.SetPixel(12, 0, 0);
    DDCOLORKEY key{0, 0};
    raw->SetColorKey(DDCKEY_SRCBLT, &key);
    engine.BackBuffer->SetPixel(2, 0, 0x777);
    EXPECT_EQ(s.DrawFast(-10, 0, RECT{0, 0, 32, 32}, DDBLTFAST_SRCCOLORKEY), DD_OK);
    EXPECT_EQ(Back(1, 0), 12u);
    EXPECT_EQ(Back(2, 0), 0x777u); // the key pixel (source column 12) left the destination
    EXPECT_EQ(Back(3, 0), 14u);
    raw->Release();
}

TEST_F(SurfaceTest, DrawCutsTheSourceInProportion) {
    struct Case {
        RECT dst;
        RECT src;
        DWORD fx;
        int bx, sx; // back-buffer column -> expected source column on row 0 (-1: untouched)
    };
    const Case cases[] = {
        // 100 source columns over 200 destination columns from -50: the left edge moves 25.
        {{-50, 0, 150, 1}, {0, 0, 100, 1}, 0, 0, 25},
        {{-50, 0, 150, 1}, {0, 0, 100, 1}, 0, 2, 26},
        {{-50, 0, 150, 1}, {0, 0, 100, 1}, 0, 63, 56},
        {{0, 0, 10, 1}, {0, 0, 10, 1}, DDBLTFX_MIRRORLEFTRIGHT, 0, 90},
        {{0, 0, 10, 1}, {0, 0, 10, 1}, DDBLTFX_MIRRORLEFTRIGHT | DDBLTFX_MIRRORUPDOWN, 0, 0},
        {{70, 0, 90, 1}, {0, 0, 10, 1}, 0, 63, -1}, // wholly right of the clip
        {{5, 0, 5, 1}, {0, 0, 10, 1}, 0, 5, -1},    // empty destination: no division by zero
    };
    for (const Case& c : cases) {
        Open(64, 64);
        IDirectDrawSurface* raw = Plain(100, 1);
        {
            TDDDDGenSurface s(&engine, raw, 100, 1);
            FillCoded(s);
            DDBLTFX fx{};
            fx.dwSize = sizeof fx;
            fx.dwDDFX = c.fx;
            EXPECT_EQ(s.Draw(c.dst, c.src, DDBLT_WAIT, fx), DD_OK);
            const DWORD want = c.sx < 0 ? 0 : static_cast<DWORD>(c.sx + 1);
            EXPECT_EQ(Back(c.bx, 0), want) << c.dst.left << " fx " << c.fx << " at " << c.bx;
        }
        raw->Release();
        TearDown();
        SetUp();
    }
}

TEST_F(SurfaceTest, MalformedFilesAreLoggedAndLeaveTheSurface) {
    std::vector<std::uint8_t> notBm = Bmp(2, 2, 24, std::vector<std::uint8_t>(16, 0xFF));
    notBm[0] = 'M';
    std::vector<std::uint8_t> shortInfo = Bmp(2, 2, 24, {});
    shortInfo.resize(30);
    std::vector<std::uint8_t> badPixels = Bmp(2, 2, 24, {});
    badPixels[30] = 9; // compression nobody decodes
    struct Case {
        std::vector<std::uint8_t> bytes;
        const char* message;
    };
    const Case cases[] = {
        {{'B', 'M', 0, 0}, "ビットマップの読みこみ中に、エラーが発生しました"},
        {notBm, "おかしなBMPファイルです"},
        {shortInfo, "LoadBMP中に、読み込みエラーが発生しました"},
        {badPixels, "不正なビットマップです"},
    };
    Open(4, 4);
    engine.BackBuffer->SetPixel(0, 0, 0x1111);
    std::string expected;
    int line = 0;
    for (const Case& c : cases) {
        Load(*engine.BackBuffer, c.bytes);
        expected += "debug#0000" + std::to_string(++line) + " ... " + c.message + "\r\n";
        EXPECT_EQ(Log(), expected);
        EXPECT_EQ(engine.BackBuffer->GetPixel(0, 0), 0x1111u);
    }
}

TEST_F(SurfaceTest, EightBitFilesOnAnEightBitDisplayCopyRowsBottomUp) {
    struct Case {
        std::int32_t height;
        // Surface rows 0..3, first byte of each after the load (0xEE: untouched).
        std::vector<std::uint8_t> firstBytes;
    };
    const Case cases[] = {
        {6, {3, 2, 1, 0}},              // taller: only the file's lowest four rows
        {2, {0xEE, 0xEE, 1, 0}},        // shorter: the bottom rows
        {-2, {0xEE, 0xEE, 0xEE, 0xEE}}, // top-down: nothing
    };
    Adapter().SetDesktopBitCount(8);
    for (const Case& c : cases) {
        Open(4, 4, DDSCAPS_SYSTEMMEMORY, 8);
        for (int y = 0; y < 4; ++y)
            engine.BackBuffer->SetPixel(0, y, 0xEE);
        const int rows = c.height < 0 ? -c.height : c.height;
        std::vector<std::uint8_t> pixels;
        for (int r = 0; r < rows; ++r)
            for (int x = 0; x < 4; ++x) // width 3 padded to 4
                pixels.push_back(static_cast<std::uint8_t>(x == 0 ? r : 0x40 + x));
        Load(*engine.BackBuffer, Bmp(3, c.height, 8, pixels));
        for (int y = 0; y < 4; ++y)
            EXPECT_EQ(engine.BackBuffer->GetPixel(0, y), c.firstBytes[y]) << c.height << " " << y;
        EXPECT_EQ(Log(), "");
        TearDown();
        SetUp();
        Adapter().SetDesktopBitCount(8);
    }
}

TEST_F(SurfaceTest, SizesInTheHeaderAreCheckedAgainstTheBytesBeforeMemoryIsTaken) {
    // About 1 KB of file each, on both loaders: the direct 8-bit one and the decoder.
    struct Case {
        std::int32_t width, height;
        int bits, displayBits;
        const char* message;
    } cases[] = {
        {0x20000000, 1, 8, 8, "LoadBMP中に、読み込みエラーが発生しました"},
        {0x7FFFFFFF, 2, 8, 8, "LoadBMP中に、読み込みエラーが発生しました"},
        {0x20000000, 1, 8, 16, "不正なビットマップです"},
        {30000, 30000, 24, 16, "不正なビットマップです"},
        {4, -0x40000000, 24, 16, "不正なビットマップです"},
    };
    for (const Case& c : cases) {
        Adapter().SetDesktopBitCount(c.displayBits);
        Open(4, 4, DDSCAPS_SYSTEMMEMORY, c.displayBits);
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        Load(*engine.BackBuffer, Bmp(c.width, c.height, c.bits, std::vector<std::uint8_t>(64, 1)));
        getrusage(RUSAGE_SELF, &after);
        EXPECT_EQ(Log(), std::string("debug#00001 ... ") + c.message + "\r\n") << c.width;
        // The process's peak grows by no row or picture of the stated size.
        EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 32 * 1024) << c.width;
        TearDown();
        SetUp();
    }
}

TEST_F(SurfaceTest, ReadErrorOnTheDirectPathUnlocksTheSurface) {
    Adapter().SetDesktopBitCount(8);
    Open(4, 4, DDSCAPS_SYSTEMMEMORY, 8);
    std::vector<std::uint8_t> file = Bmp(4, 4, 8, std::vector<std::uint8_t>(16, 7));
    file.resize(file.size() - 6); // the third row is cut short
    Load(*engine.BackBuffer, file);
    EXPECT_EQ(Log(), "debug#00001 ... LoadBMP中に、読み込みエラーが発生しました\r\n");
    EXPECT_EQ(engine.BackBuffer->GetPixel(0, 3), 7u); // readable again: the lock was given back
    DDSURFACEDESC desc{};
    engine.BackBuffer->Lock(desc);
    engine.BackBuffer->Unlock();
}

TEST_F(SurfaceTest, OtherFilesAreStretchedToTheSurface) {
    // 2 x 2 at 24 bits, bottom-up BGR rows padded to 8 bytes: red, green / blue, white.
    const std::vector<std::uint8_t> pixels = {0xFF, 0, 0,    0xFF, 0xFF, 0xFF, 0, 0,
                                              0,    0, 0xFF, 0,    0xFF, 0,    0, 0};
    Open(4, 4);
    Load(*engine.BackBuffer, Bmp(2, 2, 24, pixels));
    EXPECT_EQ(Log(), "");
    struct Case {
        int x, y;
        DWORD rgb565;
    };
    const Case cases[] = {{0, 0, 0xF800}, {3, 1, 0x07E0}, {1, 3, 0x001F}, {2, 2, 0xFFFF}};
    for (const Case& c : cases)
        EXPECT_EQ(Back(c.x, c.y), c.rgb565) << c.x << "," << c.y;
}

TEST_F(SurfaceTest, FrontEndsRememberTheSourceAndLogFailures) {
    Open(64, 64);
    TDDDDSurface s(&engine, 100, 100, 0);
    s.LoadFromArchive(ZELKA_DAT_PATH, "samp4.bmp");
    EXPECT_EQ(s.Origin, TSurfaceOrigin(TArchiveEntry{ZELKA_DAT_PATH, "samp4.bmp"}));
    EXPECT_EQ(Log(), "");
    bool anyColour = false;
    for (int x = 0; x < 100 && !anyColour; x += 7)
        for (int y = 0; y < 100 && !anyColour; y += 7)
            anyColour = s.GetPixel(x, y) != 0;
    EXPECT_TRUE(anyColour);

    s.LoadFromArchive(ZELKA_DAT_PATH, "missing.bmp");
    s.LoadFromFile("/nonexistent/a.bmp");
    EXPECT_EQ(s.Origin, TSurfaceOrigin(TPictureFile{"/nonexistent/a.bmp"}));
    EXPECT_EQ(Log(), "debug#00001 ... アーカイブからのビットマップの読み取りに失敗しました\r\n"
                     "debug#00002 ... /nonexistent/a.bmpが、見つかりません\r\n");
}

TEST_F(SurfaceTest, LostSurfaceLoadsNothing) {
    Open(4, 4);
    engine.BackBuffer->SetPixel(0, 0, 0x2222);
    Adapter().LoseAllSurfaces();
    EXPECT_TRUE(engine.BackBuffer->IsLost());
    Load(*engine.BackBuffer, {'x'});
    EXPECT_EQ(Log(), "");
    engine.BackBuffer->RestoreIfLost();
    EXPECT_FALSE(engine.BackBuffer->IsLost());
}

} // namespace
