// Textures: the format choice, the loaders and what they refuse, the colour key, the two
// surface arrangements, and the temporary copy of archive entries.
#include "TextureTestSupport.h"
#include "tools/ArchivePacker.h"

#include <optional>

using directx::Adapter;

namespace {

struct Masks {
    DWORD bits, a, r, g, b;
    friend bool operator==(const Masks&, const Masks&) = default;
};
Masks Of(const DDPIXELFORMAT& f) {
    return {f.dwRGBBitCount, f.dwRGBAlphaBitMask, f.dwRBitMask, f.dwGBitMask, f.dwBBitMask};
}
std::ostream& operator<<(std::ostream& out, const Masks& m) {
    return out << m.bits << std::hex << " a" << m.a << " r" << m.r << " g" << m.g << " b" << m.b;
}

DDPIXELFORMAT Palettised4() {
    DDPIXELFORMAT f{};
    f.dwSize = sizeof f;
    f.dwFlags = DDPF_RGB | DDPF_PALETTEINDEXED4;
    f.dwRGBBitCount = 4;
    return f;
}
DDPIXELFORMAT NotRgb16() {
    DDPIXELFORMAT f = F565();
    f.dwFlags = 0;
    return f;
}
DDPIXELFORMAT Alpha8Only() {
    DDPIXELFORMAT f{};
    f.dwSize = sizeof f;
    f.dwFlags = DDPF_RGB | DDPF_ALPHAPIXELS;
    f.dwRGBBitCount = 8;
    f.dwRGBAlphaBitMask = 0xFF;
    return f;
}

class TextureTest : public TextureEngineTest {
protected:
    // A pixel map and its alpha channel as files in the test folder.
    std::pair<std::string, std::string> PixelMapFiles(int width, int height,
                                                      const std::function<DWORD(int, int)>& rgb,
                                                      const std::function<DWORD(int, int)>& a) {
        return {Write("pixels.bmp", Bmp(width, height, 24, rgb)),
                Write("alpha.bmp", Bmp(width, height, 8, a, Grey()))};
    }
    static std::vector<std::uint32_t> Grey() {
        std::vector<std::uint32_t> table;
        for (std::uint32_t i = 0; i < 256; ++i)
            table.push_back(i * 0x010101);
        return table;
    }
    std::string Halts(const std::function<void()>& load) {
        try {
            load();
        } catch (const Halted&) {
            return Log();
        }
        return "no halt; log: " + Log();
    }
};

TEST_F(TextureTest, OrdinaryChoiceKeepsTheFirstUnlessALaterOneIsDeepEnoughAndCloser) {
    struct Case {
        const char* what;
        int wanted;
        std::vector<DDPIXELFORMAT> offered;
        Masks chosen;
    };
    const Case cases[] = {
        {"worked example", 24, {Palettised8(), F565(), F32(), F24()}, Of(F24())},
        {"565 then 32: the tie keeps 565", 24, {F565(), F32()}, Of(F565())},
        {"32 then 565: fewer bits never replace", 24, {F32(), F565()}, Of(F32())},
        {"8-bit bitmap: palettised wins", 8, {F565(), Palettised8(), F24()}, Of(Palettised8())},
        {"formats with alpha are skipped", 16, {F1555(), F4444(), F555()}, Of(F555())},
        {"4-bit palettised and non-RGB are skipped",
         16,
         {Palettised4(), NotRgb16(), F24()},
         Of(F24())},
        {"nothing qualifies", 24, {F1555(), Palettised4()}, Masks{}},
    };
    TDDDD& engine3 = Start();
    for (const Case& c : cases) {
        Offer(c.offered);
        TDDDDTexture texture(&engine3);
        traces.clear();
        EXPECT_EQ(Of(texture.ChooseTextureFormat(c.wanted)), c.chosen) << c.what;
    }
    EXPECT_EQ(traces, std::vector<std::string>{}); // the last case enumerates nothing usable
    Offer({F4444(), F565()});
    TDDDDTexture texture(&engine3);
    texture.ChooseTextureFormat(16);
    EXPECT_EQ(traces, std::vector<std::string>{"列挙されたテクスチャフォーマット...BitCount=16 "
                                               "Mask=(00000000,0000f800,000007e0,0000001f)"});
}

TEST_F(TextureTest, AlphaChoiceFollowsTheDesktopAndPrefersMoreAlphaBits) {
    struct Case {
        const char* what;
        int desktop;
        std::vector<DDPIXELFORMAT> offered;
        Masks chosen;
    };
    const Case cases[] = {
        {"16-bit desktop, 1555 first", 16, {F1555(), F4444()}, Of(F4444())},
        {"16-bit desktop, 4444 first", 16, {F4444(), F1555()}, Of(F4444())},
        {"24-bit desktop: 16 and 32 tie, more alpha wins", 24, {F4444(), F8888()}, Of(F8888())},
        {"24-bit desktop, 8888 first", 24, {F8888(), F4444()}, Of(F8888())},
        {"32-bit desktop: closer wins", 32, {F1555(), F8888(), F4444()}, Of(F8888())},
        {"16-bit desktop: closer wins over more alpha", 16, {F8888(), F1555()}, Of(F1555())},
        {"no alpha, or fewer than 16 bits", 16, {F565(), Alpha8Only(), F32()}, Masks{}},
    };
    for (const Case& c : cases) {
        Adapter().SetDesktopBitCount(c.desktop);
        TDDDD& engine3 = Start();
        Offer(c.offered);
        TDDDDTexture texture(&engine3);
        EXPECT_EQ(Of(texture.ChooseAlphaTextureFormat()), c.chosen) << c.what;
    }
}

TEST_F(TextureTest, EightBitBitmapGetsAPaletteFromItsColourTable) {
    std::vector<std::uint32_t> table;
    for (std::uint32_t i = 0; i < 16; ++i)
        table.push_back((i * 16) << 16 | (255 - i * 16) << 8 | (i * 7)); // 0x00RRGGBB
    const std::string file =
        Write("eight.bmp", Bmp(
                               4, 4, 8, [](int x, int y) { return DWORD(x + 4 * y); }, table));
    TDDDD& engine3 = Start();
    Offer({F565(), Palettised8()});
    TDDDDTexture texture(&engine3);
    texture.LoadFromFile(file, -1, -1);
    EXPECT_EQ(Log(), "");
    ASSERT_NE(texture.Palette, nullptr);
    PALETTEENTRY entries[256];
    ASSERT_EQ(texture.Palette->GetEntries(0, 0, 256, entries), DD_OK);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(entries[i].peRed, i * 16) << i;
        EXPECT_EQ(entries[i].peGreen, 255 - i * 16) << i;
        EXPECT_EQ(entries[i].peBlue, i * 7) << i;
        EXPECT_EQ(entries[i].peFlags, 0) << i;
    }
    DDSURFACEDESC desc{};
    texture.DeviceGenSurface->GetSurfaceDesc(desc);
    EXPECT_EQ(desc.ddpfPixelFormat.dwRGBBitCount, 8u);
    EXPECT_TRUE(desc.ddpfPixelFormat.dwFlags & DDPF_PALETTEINDEXED8);
    // Every pixel is the index of its colour; the image stands upright.
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(texture.WorkGenSurface->GetPixel(x, y), DWORD(x + 4 * y)) << x << "," << y;
    EXPECT_EQ(TraceIndex("テクスチャフォーマットが決定されました...BitCount=8 "
                         "Mask=(00000000,00000000,00000000,00000000)") < traces.size(),
              true);
}

TEST_F(TextureTest, OrdinaryBitmapLandsInTheChosenFormatWithSpareBitsCleared) {
    const auto colour = [](int x, int y) { return DWORD(0x102030 * (x + 1) + 0x400000 * y); };
    const std::string file = Write("colour.bmp", Bmp(5, 3, 24, colour));
    struct Case {
        DDPIXELFORMAT format;
        std::function<DWORD(DWORD)> pack;
    };
    const Case cases[] = {
        {F32(), [](DWORD rgb) { return rgb & 0xFFFFFF; }},
        {F24(), [](DWORD rgb) { return rgb & 0xFFFFFF; }},
        {F555(),
         [](DWORD rgb) {
             return ((rgb >> 19) & 0x1F) << 10 | ((rgb >> 11) & 0x1F) << 5 | ((rgb >> 3) & 0x1F);
         }},
    };
    TDDDD& engine3 = Start();
    for (const Case& c : cases) {
        Offer({c.format});
        TDDDDTexture texture(&engine3);
        texture.LoadFromFile(file, -1, -1);
        EXPECT_EQ(texture.Width, 5);
        EXPECT_EQ(texture.Height, 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(texture.WorkGenSurface->GetPixel(x, y), c.pack(colour(x, y) & 0xFFFFFF))
                    << c.format.dwRGBBitCount << " " << x << "," << y;
        EXPECT_NE(texture.Handle, 0u);
        EXPECT_EQ(texture.Origin, TTextureOrigin(TPictureFile{file}));
    }
    EXPECT_EQ(Log(), "");
}

TEST_F(TextureTest, PixelMapChannelsAreShiftedIntoTheFormat) {
    struct Case {
        DDPIXELFORMAT format;
        DWORD expected;
    };
    // A = 0xFF, R = 0x80, G = 0x40, B = 0x20.
    const Case cases[] = {
        {F4444(), 0xF842},
        {F1555(), 0xC104},
        {F8888(), 0xFF804020},
    };
    const auto [pixels, alpha] = PixelMapFiles(
        1, 1, [](int, int) { return DWORD(0x804020); }, [](int, int) { return 0xFFu; });
    TDDDD& engine3 = Start();
    for (const Case& c : cases) {
        Offer({c.format});
        TDDDDTexture texture(&engine3);
        texture.LoadPixelMap(pixels, alpha, -1, -1);
        EXPECT_EQ(texture.WorkGenSurface->GetPixel(0, 0), c.expected) << std::hex << c.expected;
        EXPECT_EQ(texture.Origin, TTextureOrigin(TPixelMapFiles{{pixels}, {alpha}}));
    }
    EXPECT_EQ(Log(), "");
}

TEST_F(TextureTest, PixelMapRowsSkipTheirPaddingAndLandUpright) {
    // 3 pixels wide: pixel rows of 9 + 3 bytes, alpha rows of 3 + 1.
    const auto rgb = [](int x, int y) {
        return DWORD(0x100000 * (x + 1) + 0x1000 * (y + 1) + 0x11);
    };
    const auto a = [](int x, int y) { return DWORD(0x30 * x + 0x80 * y); };
    for (const int height : {2, -2}) {
        const auto [pixels, alpha] = PixelMapFiles(3, height, rgb, a);
        TDDDD& engine3 = Start();
        Offer({F8888()});
        TDDDDTexture texture(&engine3);
        texture.LoadPixelMap(pixels, alpha, -1, -1);
        ASSERT_EQ(texture.Width, 3);
        ASSERT_EQ(texture.Height, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(texture.WorkGenSurface->GetPixel(x, y), (a(x, y) << 24) | rgb(x, y))
                    << height << ": " << x << "," << y;
        EXPECT_EQ(Log(), "");
    }
}

TEST_F(TextureTest, RefusedInputsAreLoggedAndHalt) {
    const auto rgb = [](int, int) { return DWORD(0x123456); };
    const auto a = [](int, int) { return DWORD(7); };
    const std::string pixel24 = Write("p24.bmp", Bmp(64, 64, 24, rgb));
    const std::string pixel8 = Write("p8.bmp", Bmp(64, 64, 8, a, Grey()));
    const std::string alpha8 = Write("a8.bmp", Bmp(64, 64, 8, a, Grey()));
    const std::string alpha24 = Write("a24.bmp", Bmp(64, 64, 24, rgb));
    const std::string alphaShort = Write("a64x32.bmp", Bmp(64, 32, 8, a, Grey()));
    Bytes cut = Bmp(64, 64, 24, rgb);
    cut.resize(cut.size() - 100);
    const std::string pixelCut = Write("cut.bmp", cut);
    const std::string notBitmap = Write("text.bmp", Bytes{'h', 'e', 'l', 'l', 'o'});
    const std::string missing = (folder / "missing.bmp").string();
    const std::string archive =
        Write("pair.dat", BuildArchive({{"p.bmp", Bmp(2, 2, 24, rgb)}}, false));
    struct Case {
        const char* what;
        std::function<void(TDDDDTexture&)> load;
        std::string line;
    };
    const Case cases[] = {
        {"8-bit pixel map", [&](TDDDDTexture& t) { t.LoadPixelMap(pixel8, alpha8, -1, -1); },
         "ピクセルマップは、24ビットのビットマップで頼みます(Error Code(1))"},
        {"24-bit alpha channel", [&](TDDDDTexture& t) { t.LoadPixelMap(pixel24, alpha24, -1, -1); },
         "αチャンネルは、8ビットのビットマップで頼みます(Error Code(1))"},
        {"sizes differ", [&](TDDDDTexture& t) { t.LoadPixelMap(pixel24, alphaShort, -1, -1); },
         "αチャンネルと、ピクセルマップのサイズが違います(Error Code(1))"},
        {"pixel map shorter than its header says",
         [&](TDDDDTexture& t) { t.LoadPixelMap(pixelCut, alpha8, -1, -1); },
         "ピクセルマップのデータが足りません(Error Code(1))"},
        {"missing alpha file", [&](TDDDDTexture& t) { t.LoadPixelMap(pixel24, missing, -1, -1); },
         missing + "が、開けません(Error Code(1))"},
        {"missing alpha entry",
         [&](TDDDDTexture& t) {
             t.LoadPixelMapFromArchive(archive, archive, "p.bmp", "a.bmp", -1, -1);
         },
         archive + "からのa.bmpの展開に失敗しました(Error Code(1))"},
        {"not a bitmap", [&](TDDDDTexture& t) { t.LoadFromFile(notBitmap, -1, -1); },
         notBitmap + "がビットマップファイルとして開けません"},
        {"no qualifying format",
         [&](TDDDDTexture& t) {
             Offer({F1555()});
             t.LoadFromFile(pixel24, -1, -1);
         },
         "テクスチャ用デバイスサーフェスの作成に失敗しました(Error Code(80070057))"},
    };
    for (const Case& c : cases) {
        {
            TDDDD& engine3 = Start();
            Offer({F565(), F4444()});
            TDDDDTexture texture(&engine3);
            EXPECT_EQ(Halts([&] { c.load(texture); }), "debug#00001 ... " + c.line + "\r\n")
                << c.what;
            EXPECT_FALSE(texture.Loaded) << c.what;
        }
        FreshLog();
    }
}

TEST_F(TextureTest, ArchiveFailuresAreLoggedAndLeaveTheTexture) {
    const std::string good = Write("good.bmp", Bmp(2, 2, 24, [](int, int) { return 0x00FF00u; }));
    struct Case {
        const char* what;
        std::function<void(TDDDDTexture&)> load;
        std::string line;
    };
    const Case cases[] = {
        {"missing archive",
         [&](TDDDDTexture& t) { t.LoadFromArchive((folder / "none.dat").string(), "a.bmp", 0, 0); },
         "アーカイブファイル " + (folder / "none.dat").string() +
             " からの a.bmp のオープンに失敗しました"},
        {"missing entry",
         [&](TDDDDTexture& t) { t.LoadFromArchive(ZELKA_DAT_PATH, "x.bmp", 0, 0); },
         std::string("アーカイブファイル ") + ZELKA_DAT_PATH +
             " からの x.bmp のオープンに失敗しました"},
        {"no temporary folder",
         [&](TDDDDTexture& t) {
             ScopedEnv gone("TMPDIR", QByteArray::fromStdString((folder / "gone").string()));
             t.LoadFromArchive(ZELKA_DAT_PATH, "boss2.bmp", 0, 0);
         },
         "テクスチャデータの展開に失敗しました"},
        {"no temporary folder for a pixel map",
         [&](TDDDDTexture& t) {
             ScopedEnv gone("TMPDIR", QByteArray::fromStdString((folder / "gone").string()));
             t.LoadPixelMapFromArchive(ZELKA_DAT_PATH, ZELKA_DAT_PATH, "boss2.bmp", "samp4.bmp", 0,
                                       0);
         },
         "テンポラリファイルの作成に失敗しました"},
    };
    for (const Case& c : cases) {
        {
            TDDDD& engine3 = Start();
            Offer({F565()});
            TDDDDTexture texture(&engine3);
            texture.LoadFromFile(good, 1, 1);
            IDirectDrawSurface* before = texture.DeviceSurface;
            c.load(texture);
            EXPECT_EQ(Log(), "debug#00001 ... " + c.line + "\r\n") << c.what;
            EXPECT_EQ(texture.DeviceSurface, before) << c.what;
            EXPECT_EQ(texture.Origin, TTextureOrigin(TPictureFile{good})) << c.what;
            EXPECT_EQ(TempFiles(), std::vector<std::string>{}) << c.what;
        }
        FreshLog();
    }
}

TEST_F(TextureTest, ColourKeyComesFromTheKeyPixel) {
    const auto colour = [](int x, int y) {
        return x == 0 && y == 0 ? 0xFF00FFu : 0x00FF00u * (y + 1) / 2;
    };
    const std::string file = Write("key.bmp", Bmp(3, 3, 24, colour));
    struct Case {
        int keyX, keyY;
        bool keyed;
        DWORD key;
    };
    const Case cases[] = {
        {-1, -1, false, 0},   {-1, 0, false, 0},    {0, -1, false, 0},
        {0, 0, true, 0xF81F}, {2, 1, true, 0x07E0},
    };
    TDDDD& engine3 = Start();
    Offer({F565()});
    for (const Case& c : cases) {
        TDDDDTexture texture(&engine3);
        texture.LoadFromFile(file, c.keyX, c.keyY);
        DDCOLORKEY key{};
        const HRESULT got = texture.DeviceSurface->GetColorKey(DDCKEY_SRCBLT, &key);
        EXPECT_EQ(got == DD_OK, c.keyed) << c.keyX << "," << c.keyY;
        if (c.keyed) {
            EXPECT_EQ(key.dwColorSpaceLowValue, c.key) << c.keyX << "," << c.keyY;
            EXPECT_EQ(key.dwColorSpaceHighValue, c.key) << c.keyX << "," << c.keyY;
        }
        EXPECT_EQ(texture.KeyX, c.keyX);
        EXPECT_EQ(texture.KeyY, c.keyY);
    }
    // A pixel map's key holds the key pixel's alpha bits too.
    Offer({F4444()});
    const auto [pixels, alpha] = PixelMapFiles(
        2, 2, [](int, int) { return 0x804020u; }, [](int x, int) { return x ? 0u : 0xFFu; });
    TDDDDTexture texture(&engine3);
    texture.LoadPixelMap(pixels, alpha, 0, 0);
    DDCOLORKEY key{};
    ASSERT_EQ(texture.DeviceSurface->GetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
    EXPECT_EQ(key.dwColorSpaceLowValue, 0xF842u);
}

TEST_F(TextureTest, HardwareDeviceHasTwoSurfacesOthersOne) {
    const std::string file =
        Write("two.bmp", Bmp(4, 2, 24, [](int x, int) { return 0x3366CCu * x; }));
    struct Case {
        TD3DOptions options;
        TD3DDeviceKind kind;
    };
    const Case cases[] = {{0, TD3DDeviceKind::HAL},
                          {DontUseHAL, TD3DDeviceKind::MMX},
                          {DontUseHAL | DontUseMMX, TD3DDeviceKind::RGBEmulation}};
    for (const Case& c : cases) {
        {
            TDDDD& engine3 = Start(c.options);
            ASSERT_EQ(engine3.D3DDeviceKind, c.kind);
            Offer({F565()});
            TDDDDTexture texture(&engine3);
            texture.LoadFromFile(file, -1, -1);
            DDSCAPS deviceCaps{}, workCaps{};
            texture.DeviceSurface->GetCaps(&deviceCaps);
            texture.WorkSurface->GetCaps(&workCaps);
            EXPECT_TRUE(workCaps.dwCaps & DDSCAPS_SYSTEMMEMORY) << int(c.kind);
            EXPECT_TRUE(deviceCaps.dwCaps & DDSCAPS_TEXTURE) << int(c.kind);
            const bool hal = c.kind == TD3DDeviceKind::HAL;
            EXPECT_EQ(texture.DeviceSurface != texture.WorkSurface, hal) << int(c.kind);
            EXPECT_EQ((deviceCaps.dwCaps & DDSCAPS_VIDEOMEMORY) != 0, hal) << int(c.kind);
            // The device surface holds the image, moved there on load.
            EXPECT_EQ(Pixels(*texture.DeviceGenSurface, 4, 2),
                      Pixels(*texture.WorkGenSurface, 4, 2));
            EXPECT_EQ(texture.DeviceGenSurface->GetPixel(1, 0), 0x3339u) << int(c.kind);

            Adapter().RecordCalls(true);
            Adapter().ClearCalls();
            texture.Transfer();
            const auto& calls = Adapter().Calls();
            EXPECT_EQ(std::count(calls.begin(), calls.end(), "IDirect3DTexture2::Load"),
                      hal ? 1 : 0)
                << int(c.kind);
            Adapter().ClearCalls();
            Adapter().LoseAllSurfaces();
            texture.RestoreTexture();
            EXPECT_EQ(std::count(calls.begin(), calls.end(), "IDirectDrawSurface::Restore"),
                      hal ? 2 : 1)
                << int(c.kind);
            EXPECT_EQ(std::count(calls.begin(), calls.end(), "IDirect3DTexture2::Load"),
                      hal ? 1 : 0)
                << int(c.kind);
            Adapter().RecordCalls(false);
        }
        FreshLog();
    }
}

TEST_F(TextureTest, ReloadReplacesImageSurfacesAndPalette) {
    const std::string eight =
        Write("eight.bmp", Bmp(2, 2, 8, [](int x, int) { return DWORD(x); }, {0xFF0000, 0x0000FF}));
    const auto colour = [](int x, int) { return DWORD(0x00FF00 >> (8 * x)); };
    const std::string deep = Write("deep.bmp", Bmp(3, 1, 24, colour));
    TDDDD& engine3 = Start();
    ASSERT_EQ(engine3.D3DDeviceKind, TD3DDeviceKind::HAL);
    Offer({F565(), Palettised8()});
    TDDDDTexture texture(&engine3);
    texture.LoadFromFile(eight, -1, -1);
    ASSERT_NE(texture.Palette, nullptr);
    IDirectDrawSurface* oldDevice = texture.DeviceSurface;
    IDirectDrawSurface* oldWork = texture.WorkSurface;
    oldDevice->AddRef();
    oldWork->AddRef();
    texture.LoadFromFile(deep, -1, -1);
    EXPECT_EQ(oldDevice->Release(), 0u); // the texture gave its references back
    EXPECT_EQ(oldWork->Release(), 0u);
    EXPECT_EQ(texture.Palette, nullptr);
    EXPECT_EQ(texture.Width, 3);
    EXPECT_EQ(texture.Height, 1);
    // The new image is in the device surface at once, without a separate transfer.
    EXPECT_EQ(Pixels(*texture.DeviceGenSurface, 3, 1),
              (std::vector<DWORD>{0x07E0, 0x001F, 0x0000}));
    EXPECT_EQ(Log(), "");
}

TEST_F(TextureTest, NoAlphaFormatLoadsThePixelMapWithoutAlpha) {
    const auto rgb = [](int x, int) { return x ? 0x0000FFu : 0xFF0000u; };
    const auto a = [](int, int) { return 0x80u; };
    const Bytes pixels = Bmp(2, 1, 24, rgb), alpha = Bmp(2, 1, 8, a, Grey());
    const std::string archive =
        Write("pair.dat", BuildArchive({{"p.bmp", pixels}, {"a.bmp", alpha}}, true));
    Adapter().direct3d.RemoveAlphaTextureFormats();
    TDDDD& engine3 = Start();
    TDDDDTexture texture(&engine3);
    texture.LoadPixelMapFromArchive(archive, archive, "p.bmp", "a.bmp", -1, -1);
    EXPECT_EQ(Log(), "");
    EXPECT_LT(
        TraceIndex("αをサポートしたテクスチャフォーマットが見つからないので、α無しで読みこみます"),
        traces.size());
    const TTextureOrigin pair = TPixelMapEntries{{archive, "p.bmp"}, {archive, "a.bmp"}};
    EXPECT_EQ(texture.Origin, pair);
    DDSURFACEDESC desc{};
    texture.DeviceGenSurface->GetSurfaceDesc(desc);
    EXPECT_EQ(desc.ddpfPixelFormat.dwFlags & DDPF_ALPHAPIXELS, 0u);
    EXPECT_EQ(desc.ddpfPixelFormat.dwRGBBitCount, 24u); // the closest one to the 24-bit file
    EXPECT_EQ(texture.WorkGenSurface->GetPixel(0, 0), 0xFF0000u);
    EXPECT_EQ(texture.WorkGenSurface->GetPixel(1, 0), 0x0000FFu);
    EXPECT_EQ(TempFiles(), std::vector<std::string>{});

    // A re-initialisation takes the same way again.
    traces.clear();
    engine3.InitializeScreen(false, 256, 256, 16, 0, "");
    EXPECT_EQ(Log(), "");
    EXPECT_LT(
        TraceIndex("αをサポートしたテクスチャフォーマットが見つからないので、α無しで読みこみます"),
        traces.size());
    EXPECT_EQ(texture.Origin, pair);
    EXPECT_TRUE(texture.OwnsSurfaces);
    EXPECT_EQ(texture.WorkGenSurface->GetPixel(0, 0), 0xFF0000u);
    EXPECT_EQ(texture.WorkGenSurface->GetPixel(1, 0), 0x0000FFu);
    EXPECT_EQ(TempFiles(), std::vector<std::string>{});
}

TEST_F(TextureTest, TemporaryCopyIsRemovedAfterEveryLoad) {
    TDDDD& engine3 = Start();
    Offer({F565()});
    {
        TDDDDTexture texture(&engine3);
        // The file loaded was a fresh "tmp" file in the temporary folder (seen while the
        // format is chosen), gone now.
        std::vector<std::string> during;
        SetTraceSinkForTests([&](const std::string& t) {
            if (t.rfind("テクスチャフォーマットが決定されました", 0) == 0)
                during = TempFiles();
        });
        texture.LoadFromArchive(ZELKA_DAT_PATH, "boss2.bmp", 0, 0);
        SetTraceSinkForTests([this](const std::string& t) { traces.push_back(t); });
        EXPECT_EQ(Log(), "");
        ASSERT_EQ(during.size(), 1u);
        EXPECT_EQ(during[0].substr(0, 3), "tmp");
        EXPECT_EQ(texture.Origin, TTextureOrigin(TArchiveEntry{ZELKA_DAT_PATH, "boss2.bmp"}));
        EXPECT_EQ(texture.Width, 256);
        EXPECT_EQ(TempFiles(), std::vector<std::string>{});
    }
    // A load that halts half-way leaves nothing behind either.
    const char* faults[] = {"IDirectDraw2::CreateSurface", "IDirectDrawSurface::GetDC",
                            "IDirect3DTexture2::GetHandle"};
    for (const char* fault : faults) {
        TDDDDTexture texture(&engine3);
        Adapter().FailNext(fault, 1, DDERR_GENERIC);
        EXPECT_THROW(texture.LoadFromArchive(ZELKA_DAT_PATH, "boss2.bmp", 0, 0), Halted) << fault;
        EXPECT_EQ(TempFiles(), std::vector<std::string>{}) << fault;
        Offer({F4444()});
        Adapter().FailNext(fault, 1, DDERR_GENERIC);
        EXPECT_THROW(texture.LoadPixelMapFromArchive(ZELKA_DAT_PATH, ZELKA_DAT_PATH, "boss2.bmp",
                                                     "samp4.bmp", 0, 0),
                     Halted)
            << fault;
        EXPECT_EQ(TempFiles(), std::vector<std::string>{}) << fault;
        Offer({F565()});
    }
}

TEST_F(TextureTest, HaltingLoadLeavesNoTemporaryFileBehindWhenTheProcessEnds) {
#ifdef __SANITIZE_ADDRESS__
    // The leak checker reports what a real halt leaves to the end of the process and changes
    // the halting child's exit code; the ordinary build runs this test.
    GTEST_SKIP() << "not in a sanitizer build";
#endif
    // The halting process is started afresh: a child forked from a process that has run other
    // tests waits at its end for threads it does not have. It works in this test's folders,
    // handed over through the environment, and keeps the GUI's runtime folder out of them.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::optional<ScopedEnv> parent; // the child runs this body again and keeps the parent's
    if (!std::getenv("ZELKA_HALT_TEST_FOLDER"))
        parent.emplace("ZELKA_HALT_TEST_FOLDER", QByteArray::fromStdString(folder.string()));
    std::filesystem::create_directories(folder / "runtime");
    std::filesystem::permissions(folder / "runtime", std::filesystem::perms::owner_all);
    ScopedEnv runtime("XDG_RUNTIME_DIR", QByteArray::fromStdString((folder / "runtime").string()));
    TDDDD& engine3 = Start();
    Offer({F565()});
    TDDDDTexture texture(&engine3);
    // The real halt: the process ends in the middle of the load, with no unwinding.
    EXPECT_EXIT(
        {
            const std::filesystem::path parentFolder = std::getenv("ZELKA_HALT_TEST_FOLDER");
            if (parentFolder != folder) {
                std::filesystem::remove_all(folder); // made inside the parent's temporary folder
                setenv("TMPDIR", (parentFolder / "temp").c_str(), 1);
                SetDebugLogFolderForTests(parentFolder.string());
            }
            SetHaltAction(nullptr);
            Adapter().FailNext("IDirect3DTexture2::GetHandle", 1, DDERR_GENERIC);
            texture.LoadFromArchive(ZELKA_DAT_PATH, "boss2.bmp", 0, 0);
        },
        ::testing::ExitedWithCode(kHaltExitCode), "zelka: halted: ");
    EXPECT_EQ(TempFiles(), std::vector<std::string>{});
    EXPECT_EQ(Log(),
              "debug#00001 ... テクスチャのハンドルが得られませんでした(Error Code(80004005))\r\n");
}

TEST_F(TextureTest, CheckedStepsHaltWithTheirMessages) {
    const std::string file = Write("c.bmp", Bmp(2, 2, 24, [](int, int) { return 0x808080u; }));
    struct Case {
        const char* fault;
        DDPIXELFORMAT format;
        bool reloadAfterLoss; // fail inside the restore of a loaded, lost texture instead
        int pass;             // calls of the method that succeed before the failing one
        std::string line;
    };
    const Case cases[] = {
        {"IDirectDraw2::CreateSurface", F565(), false, 0,
         "テクスチャ用デバイスサーフェスの作成に失敗しました(Error Code(80004005))"},
        {"IDirectDraw2::CreateSurface", F565(), false, 1,
         "テクスチャ用作業サーフェスの作成に失敗しました(Error Code(80004005))"},
        {"IDirectDraw2::CreatePalette", Palettised8(), false, 0,
         "テクスチャ用パレットの作成に失敗しました(Error Code(80004005))"},
        {"IDirectDrawSurface::GetDC", F565(), false, 0,
         "テクスチャ用作業サーフェスのデバイスコンテキスト取得に失敗しました(Error "
         "Code(80004005))"},
        {"IDirect3DTexture2::GetHandle", F565(), false, 0,
         "テクスチャのハンドルが得られませんでした(Error Code(80004005))"},
        {"IDirect3DTexture2::Load", F565(), false, 0,
         "テクスチャの転送に失敗しました(Error Code(80004005))"},
        {"IDirectDrawSurface::Restore", F565(), false, 0,
         "テクスチャ用デバイスサーフェスの復元に失敗しました(Error Code(80004005))"},
        {"IDirectDrawSurface::Restore", F565(), true, 0,
         "テクスチャ用作業サーフェスの復元に失敗しました(Error Code(80004005))"},
    };
    for (const Case& c : cases) {
        {
            TDDDD& engine3 = Start();
            ASSERT_EQ(engine3.D3DDeviceKind, TD3DDeviceKind::HAL);
            Offer({c.format});
            TDDDDTexture texture(&engine3);
            if (c.reloadAfterLoss) {
                texture.LoadFromFile(file, -1, -1);
                Adapter().LoseAllSurfaces();
            }
            Adapter().FailNext(c.fault, 1, DDERR_GENERIC, c.pass);
            EXPECT_EQ(Halts([&] {
                          if (c.reloadAfterLoss)
                              texture.RestoreTexture();
                          else
                              texture.LoadFromFile(file, -1, -1);
                      }),
                      "debug#00001 ... " + c.line + "\r\n")
                << c.fault;
        }
        FreshLog();
    }
}

} // namespace
