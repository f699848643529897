// Keepers: surfaces and textures come back by themselves after surface loss and after a
// re-initialisation, in their orders, and the scene's texture draws the same afterwards.
#include "TextureTestSupport.h"
#include "tools/ArchivePacker.h"

#include <QDir>

using directx::Adapter;

namespace {

class KeeperTest : public TextureEngineTest {
protected:
    // The surface's pixels as 5-6-5 colours, whatever the display's format, so pictures of
    // a 16-bit and a deeper mode compare equal.
    static std::vector<DWORD> Colours(TDDDDGenSurface& s) {
        DDSURFACEDESC desc{};
        s.GetSurfaceDesc(desc);
        const auto format = directx::PixelFormat::FromDD(desc.ddpfPixelFormat);
        EXPECT_TRUE(format.has_value());
        const directx::ColorConverter converter(*format);
        std::vector<DWORD> out;
        for (DWORD pixel : Pixels(s, s.Width, s.Height)) {
            const DWORD rgb = converter.ToRGB(pixel, nullptr);
            out.push_back((rgb >> 19 & 0x1F) << 11 | (rgb >> 10 & 0x3F) << 5 | (rgb >> 3 & 0x1F));
        }
        return out;
    }
    static void Scribble(TDDDDGenSurface& s) {
        for (int y = 0; y < s.Height; ++y)
            for (int x = 0; x < s.Width; ++x)
                s.SetPixel(x, y, 0x1234);
    }
    static void SavePng(const std::vector<DWORD>& rgb565, int width, int height,
                        const std::string& name) {
        QImage image(width, height, QImage::Format_RGB16);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                reinterpret_cast<std::uint16_t*>(image.scanLine(y))[x] =
                    static_cast<std::uint16_t>(rgb565[std::size_t(y) * width + x]);
        if (const char* dir = std::getenv("ZELKA_DEMO_DIR"))
            image.save(QDir(dir).filePath(QString::fromStdString(name)));
    }
};

TEST_F(KeeperTest, LostSurfacesAndTexturesShowTheSamePixelsAfterTheRestoreWalk) {
    for (const TD3DOptions options : {TD3DOptions{0}, TD3DOptions{DontUseHAL}}) {
        {
            TDDDD& engine3 = Start(options);
            Offer({F565()});
            TDDDDSurface surface(&engine3, 100, 100, 0);
            surface.LoadFromArchive(ZELKA_DAT_PATH, "samp4.bmp");
            TDDDDTexture texture(&engine3);
            texture.LoadFromArchive(ZELKA_DAT_PATH, "boss2.bmp", 0, 0);
            TDDDDTexture never(&engine3); // created, never loaded: skipped
            const auto surfacePixels = Pixels(surface, 100, 100);
            const auto texturePixels = Pixels(*texture.DeviceGenSurface, 256, 256);
            // The surface and what the device draws from are spoilt; only the reload and the
            // transfer bring them back.
            Scribble(surface);
            if (texture.DeviceSurface != texture.WorkSurface)
                Scribble(*texture.DeviceGenSurface);
            Adapter().LoseAllSurfaces();
            ASSERT_TRUE(surface.IsLost());
            ASSERT_TRUE(texture.DeviceGenSurface->IsLost());
            traces.clear();
            engine3.RestoreSurfaces();
            EXPECT_EQ(Log(), "");
            EXPECT_FALSE(surface.IsLost());
            EXPECT_FALSE(texture.DeviceGenSurface->IsLost());
            EXPECT_FALSE(texture.WorkGenSurface->IsLost());
            EXPECT_EQ(Pixels(surface, 100, 100), surfacePixels) << int(options);
            EXPECT_EQ(Pixels(*texture.DeviceGenSurface, 256, 256), texturePixels) << int(options);
            // Surfaces first, then the one loaded texture.
            EXPECT_LT(TraceIndex("サーフェスを復元します"), TraceIndex("テクスチャを復元します"));
            EXPECT_EQ(std::count(traces.begin(), traces.end(), "テクスチャを復元します"), 1);

            // Nothing lost: the walk touches nothing.
            traces.clear();
            engine3.RestoreKeptObjects();
            EXPECT_EQ(std::count(traces.begin(), traces.end(), "サーフェスを復元します"), 0);
        }
        TearDown();
        SetUp();
    }
}

TEST_F(KeeperTest, ReinitialisationRebuildsEverythingWithTheSamePixels) {
    TDDDD& engine3 = Start();
    Offer({F565(), F4444()});
    engine3.InitializeScreen(false, 320, 240, 16, 0, "");
    TDDDDSurface surface(&engine3, 100, 100, 0);
    surface.LoadFromArchive(ZELKA_DAT_PATH, "samp4.bmp");
    const std::string bitmap = Write(
        "b.bmp", Bmp(3, 2, 24, [](int x, int y) { return 0x201008u * DWORD(x + 3 * y + 1); }));
    const std::string pixels = Write("p.bmp", Bmp(3, 2, 24, [](int x, int) { return 0x80u << x; }));
    const std::string alpha =
        Write("a.bmp", Bmp(
                           3, 2, 8, [](int x, int y) { return DWORD(0x40 * x + 0x10 * y); },
                           std::vector<std::uint32_t>(256, 0)));
    TDDDDTexture fromArchive(&engine3), fromFile(&engine3), pair(&engine3), never(&engine3);
    fromArchive.LoadFromArchive(ZELKA_DAT_PATH, "boss2.bmp", 0, 0);
    fromFile.LoadFromFile(bitmap, 1, 1);
    pair.LoadPixelMap(pixels, alpha, -1, -1);
    EXPECT_EQ(Log(), "");
    const auto surfaceColours = Colours(surface);
    const auto archivePixels = Pixels(*fromArchive.DeviceGenSurface, 256, 256);
    const auto filePixels = Pixels(*fromFile.DeviceGenSurface, 3, 2);
    const auto pairPixels = Pixels(*pair.DeviceGenSurface, 3, 2);
    IDirectDrawSurface* oldTextureSurface = fromArchive.DeviceSurface;

    struct Mode {
        bool fullScreen;
        int width, height, bits;
    };
    for (const Mode m : {Mode{true, 640, 480, 16}, Mode{false, 320, 240, 16},
                         Mode{true, 800, 600, 32}, Mode{false, 256, 256, 16}}) {
        bool ownedAtCleanUp = true;
        engine3.OnCleanUp = [&](void*) { ownedAtCleanUp = fromArchive.OwnsSurfaces; };
        traces.clear();
        engine3.InitializeScreen(m.fullScreen, m.width, m.height, m.bits, 0, "");
        EXPECT_EQ(Log(), "");
        EXPECT_FALSE(ownedAtCleanUp) << m.width; // forgotten before DirectDraw went
        EXPECT_EQ(engine3.BitCount, m.bits);
        EXPECT_NE(fromArchive.DeviceSurface, oldTextureSurface);
        oldTextureSurface = fromArchive.DeviceSurface;
        EXPECT_TRUE(fromArchive.OwnsSurfaces);
        EXPECT_FALSE(never.Loaded);
        // The surface takes the new display's format with the same picture.
        DDSURFACEDESC desc{};
        surface.GetSurfaceDesc(desc);
        EXPECT_EQ(int(desc.ddpfPixelFormat.dwRGBBitCount), m.bits);
        EXPECT_EQ(Colours(surface), surfaceColours) << m.width;
        EXPECT_EQ(Pixels(*fromArchive.DeviceGenSurface, 256, 256), archivePixels) << m.width;
        EXPECT_EQ(Pixels(*fromFile.DeviceGenSurface, 3, 2), filePixels) << m.width;
        EXPECT_EQ(Pixels(*pair.DeviceGenSurface, 3, 2), pairPixels) << m.width;
        DDCOLORKEY key{};
        ASSERT_EQ(fromFile.DeviceSurface->GetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
        EXPECT_EQ(key.dwColorSpaceLowValue, filePixels[4]);
        EXPECT_TRUE(std::holds_alternative<TPixelMapFiles>(pair.Origin));
        EXPECT_EQ(pair.DeviceGenSurface->GetPixel(2, 1) >> 12, 0x9u); // alpha 0x90 of 0xFF
        // Textures are rebuilt before surfaces.
        const std::size_t surfaceRebuilt = TraceIndex("サーフェスを再構築します");
        ASSERT_LT(surfaceRebuilt, traces.size());
        const std::size_t lastTexture =
            traces.size() - 1 -
            std::size_t(std::find(traces.rbegin(), traces.rend(), "テクスチャを復元します") -
                        traces.rbegin());
        EXPECT_LT(lastTexture, surfaceRebuilt);
        EXPECT_EQ(std::count(traces.begin(), traces.end(), "テクスチャを復元します"), 3);
        EXPECT_EQ(TempFiles(), std::vector<std::string>{});
    }
    engine3.OnCleanUp = nullptr;
}

TEST_F(KeeperTest, EveryTextureOriginIsLoadedAgainByANewSetUp) {
    TDDDD& engine3 = Start();
    Offer({F565(), F4444()});
    const auto rgb = [](int x, int y) { return 0x302010u * DWORD(x + 2 * y + 1); };
    const auto a = [](int x, int y) { return DWORD(0x30 * x + 0x50 * y); };
    const std::vector<std::uint32_t> grey = [] {
        std::vector<std::uint32_t> table;
        for (std::uint32_t i = 0; i < 256; ++i)
            table.push_back(i * 0x010101);
        return table;
    }();
    const Bytes pixelBytes = Bmp(3, 2, 24, rgb), alphaBytes = Bmp(3, 2, 8, a, grey);
    const std::string pixels = Write("p.bmp", pixelBytes), alpha = Write("a.bmp", alphaBytes);
    const std::string archive =
        Write("pair.dat", BuildArchive({{"p.bmp", pixelBytes}, {"a.bmp", alphaBytes}}, true));
    const TTextureOrigin origins[] = {
        TPictureFile{pixels},
        TArchiveEntry{archive, "p.bmp"},
        TPixelMapFiles{{pixels}, {alpha}},
        TPixelMapEntries{{archive, "p.bmp"}, {archive, "a.bmp"}},
    };
    for (const TTextureOrigin& origin : origins) {
        TDDDDTexture texture(&engine3);
        texture.Load(origin, 2, 1);
        ASSERT_EQ(texture.Origin, origin) << origin.index();
        const auto before = Pixels(*texture.DeviceGenSurface, 3, 2);
        DDCOLORKEY keyBefore{};
        texture.DeviceSurface->GetColorKey(DDCKEY_SRCBLT, &keyBefore);
        Scribble(*texture.DeviceGenSurface);
        engine3.InitializeScreen(false, 200 + int(origin.index()), 150, 16, 0, "");
        EXPECT_EQ(Log(), "") << origin.index();
        EXPECT_EQ(texture.Origin, origin) << origin.index();
        EXPECT_EQ(Pixels(*texture.DeviceGenSurface, 3, 2), before) << origin.index();
        // A format with alpha only where a pixel map was loaded.
        DDSURFACEDESC desc{};
        texture.DeviceGenSurface->GetSurfaceDesc(desc);
        EXPECT_EQ((desc.ddpfPixelFormat.dwFlags & DDPF_ALPHAPIXELS) != 0, origin.index() >= 3)
            << origin.index();
        DDCOLORKEY keyAfter{};
        texture.DeviceSurface->GetColorKey(DDCKEY_SRCBLT, &keyAfter);
        EXPECT_EQ(keyAfter.dwColorSpaceLowValue, keyBefore.dwColorSpaceLowValue);
        EXPECT_EQ(keyAfter.dwColorSpaceLowValue, before[5]);
        EXPECT_EQ(TempFiles(), std::vector<std::string>{});
    }
    // A load that fails keeps the origin of the image still held.
    TDDDDTexture texture(&engine3);
    texture.LoadFromFile(pixels, -1, -1);
    texture.LoadFromArchive(archive, "missing.bmp", -1, -1);
    EXPECT_EQ(texture.Origin, TTextureOrigin(TPictureFile{pixels}));
    FreshLog();
}

TEST_F(KeeperTest, EverySurfaceOriginIsLoadedAgainByANewSetUp) {
    TDDDD& engine3 = Start();
    const std::string file = Write(
        "b.bmp", Bmp(4, 4, 24, [](int x, int y) { return 0x081020u * DWORD(x + 4 * y + 1); }));
    using Load = std::function<void(TDDDDSurface&)>;
    const std::pair<Load, TSurfaceOrigin> cases[] = {
        {[&](TDDDDSurface& s) { s.LoadFromFile(file); }, TPictureFile{file}},
        {[](TDDDDSurface& s) { s.LoadFromArchive(ZELKA_DAT_PATH, "samp4.bmp"); },
         TArchiveEntry{ZELKA_DAT_PATH, "samp4.bmp"}},
        {[](TDDDDSurface&) {}, std::monostate{}},
    };
    for (const auto& [load, origin] : cases) {
        TDDDDSurface surface(&engine3, 4, 4, 0);
        load(surface);
        EXPECT_EQ(surface.Origin, origin);
        const auto before = Colours(surface);
        Scribble(surface);
        engine3.InitializeScreen(false, 160, 120, 32, 0, "");
        EXPECT_EQ(surface.Origin, origin);
        // The picture comes back; a surface never loaded has none to load.
        if (origin.index() != 0) {
            EXPECT_EQ(Colours(surface), before) << origin.index();
        }
        engine3.InitializeScreen(false, 128, 128, 16, 0, "");
    }
    EXPECT_EQ(Log(), "");
}

TEST_F(KeeperTest, RebuildFallsBackToSystemMemory) {
    TDDDD& engine3 = Start();
    Offer({F565()});
    engine3.SurfaceLocation = smtVideoMemory;
    TDDDDSurface surface(&engine3, 100, 100, 0x1F);
    surface.LoadFromArchive(ZELKA_DAT_PATH, "samp4.bmp");
    DDSCAPS caps{};
    surface.Surface->GetCaps(&caps);
    ASSERT_TRUE(caps.dwCaps & DDSCAPS_VIDEOMEMORY);
    const auto colours = Colours(surface);
    {
        TDDDDTexture texture(&engine3);
        texture.LoadFromArchive(ZELKA_DAT_PATH, "boss2.bmp", 0, 0);

        // A new mode whose video memory the back buffer and the Z-buffer use up.
        Adapter().SetVideoMemory(0);
        traces.clear();
        engine3.InitializeScreen(false, 320, 240, 16, 0, "");
        EXPECT_EQ(Log(), "");
        EXPECT_LT(TraceIndex("システムメモリにサーフェスを再構築します"), traces.size());
        surface.Surface->GetCaps(&caps);
        EXPECT_TRUE(caps.dwCaps & DDSCAPS_SYSTEMMEMORY);
        DDSURFACEDESC desc{};
        surface.GetSurfaceDesc(desc);
        EXPECT_EQ(desc.dwWidth, 100u);
        EXPECT_EQ(desc.dwHeight, 100u);
        DDCOLORKEY key{};
        ASSERT_EQ(surface.Surface->GetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
        EXPECT_EQ(key.dwColorSpaceLowValue, 0x1Fu);
        EXPECT_EQ(Colours(surface), colours);
        // Without video memory there is no hardware device; the texture lives in one surface.
        EXPECT_NE(engine3.D3DDeviceKind, TD3DDeviceKind::HAL);
        EXPECT_EQ(texture.DeviceSurface, texture.WorkSurface);
        EXPECT_EQ(texture.Width, 256);
    }

    // When system memory fails too, the rebuild halts with its message.
    Adapter().FailNext("IDirectDraw2::CreateSurface", 2, DDERR_OUTOFMEMORY);
    EXPECT_THROW(engine3.RebuildKeptObjects(), Halted);
    EXPECT_EQ(Log(), "debug#00001 ... サーフェスを作れませんでした(Error Code(8007000E))\r\n");
}

TEST_F(KeeperTest, FirstActivationNeitherInvalidatesNorRebuilds) {
    e = std::make_unique<TDDDD>(&form);
    e->Use3D = true;
    e->AutoDisplayModeInitialize = true;
    e->SetDisplayMode(dmWin800x600x16);
    TDDDDTexture texture(e.get());
    int rebuilds = 0;
    e->OnInit = [&](void*, bool) {
        // What the scene does: load once the first mode is up.
        Offer({F565()});
        texture.LoadFromArchive(ZELKA_DAT_PATH, "boss2.bmp", 0, 0);
        traces.clear();
    };
    e->OnChangeDisplayMode = [&](void*) { ++rebuilds; };
    form.CreationEnded();
    EXPECT_EQ(Log(), "");
    EXPECT_TRUE(texture.Loaded);
    EXPECT_TRUE(texture.OwnsSurfaces);
    EXPECT_EQ(rebuilds, 0);
    EXPECT_EQ(traces, std::vector<std::string>{});
    // Every later set-up forgets and rebuilds once.
    e->SetDisplayMode(dmWin640x480x16);
    EXPECT_EQ(rebuilds, 1);
    EXPECT_EQ(std::count(traces.begin(), traces.end(), "テクスチャを復元します"), 1);
    EXPECT_TRUE(texture.OwnsSurfaces);
}

TEST_F(KeeperTest, TexturesRegisterOnceAndLeaveTheirKeeperWhenDestroyed) {
    TDDDD& engine3 = Start();
    auto a = std::make_unique<TDDDDTexture>(&engine3);
    auto b = std::make_unique<TDDDDTexture>(&engine3);
    ASSERT_EQ(engine3.TextureKeepers.size(), 2u);
    EXPECT_EQ(engine3.TextureKeepers[0]->Texture, a.get());
    engine3.AddTexture(a.get()); // again: moves to the end, still one keeper
    ASSERT_EQ(engine3.TextureKeepers.size(), 2u);
    EXPECT_EQ(engine3.TextureKeepers[0]->Texture, b.get());
    EXPECT_EQ(engine3.TextureKeepers[1]->Texture, a.get());
    b.reset();
    ASSERT_EQ(engine3.TextureKeepers.size(), 1u);
    EXPECT_EQ(engine3.TextureKeepers[0]->Texture, a.get());
    a.reset();
    EXPECT_TRUE(engine3.TextureKeepers.empty());
}

TEST_F(KeeperTest, ForgottenTextureIsDestroyedWithoutReleasingDeadSurfaces) {
    TDDDD& engine3 = Start();
    Offer({Palettised8()});
    const std::string file =
        Write("e.bmp", Bmp(2, 2, 8, [](int x, int) { return DWORD(x); }, {0xFF0000, 0x00FF00}));
    auto texture = std::make_unique<TDDDDTexture>(&engine3);
    texture->LoadFromFile(file, -1, -1);
    ASSERT_NE(texture->Palette, nullptr);
    IDirectDrawSurface* device = texture->DeviceSurface;
    IDirectDrawPalette* palette = texture->Palette;
    device->AddRef(); // see what the texture gives back
    const ULONG held = device->Release();
    engine3.InvalidateTextures();
    EXPECT_FALSE(texture->OwnsSurfaces);
    device->AddRef();
    texture.reset();
    EXPECT_EQ(device->Release(), held); // the texture released nothing
    while (device->Release() > 0) {
    }
    // Nor its palette, which the release of DirectDraw would end; here the engine lives on,
    // so the test gives the texture's reference back.
    palette->Release();
}

TEST_F(KeeperTest, SceneTextureDrawsTheSameAfterLossAndModeChange) {
    TDDDD& engine3 = Start();
    ASSERT_EQ(engine3.D3DDeviceKind, TD3DDeviceKind::HAL);
    engine3.InitializeScreen(false, 256, 256, 16, 0, "");
    TDDDDTexture texture(&engine3); // the device's own formats, as the scene finds them
    texture.LoadFromArchive(ZELKA_DAT_PATH, "boss2.bmp", 0, 0);
    ASSERT_EQ(Log(), "");
    const std::vector<DWORD> first = DrawQuad(texture, 256, 256);
    // The picture is there: many colours, not the cleared back buffer.
    std::vector<DWORD> distinct = first;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    EXPECT_GT(distinct.size(), 64u);
    SavePng(first, 256, 256, "texture-boss2.png");

    Scribble(*texture.DeviceGenSurface);
    Adapter().LoseAllSurfaces();
    engine3.RestoreSurfaces();
    EXPECT_EQ(DrawQuad(texture, 256, 256), first);

    engine3.InitializeScreen(true, 640, 480, 16, 0, "");
    ASSERT_EQ(Log(), "");
    EXPECT_TRUE(engine3.FullScreen);
    const std::vector<DWORD> fullScreen = DrawQuad(texture, 256, 256);
    EXPECT_EQ(fullScreen, first);
    SavePng(fullScreen, 256, 256, "texture-boss2-fullscreen.png");

    engine3.InitializeScreen(false, 256, 256, 16, 0, "");
    EXPECT_EQ(DrawQuad(texture, 256, 256), first);
    EXPECT_EQ(Log(), "");
}

} // namespace
