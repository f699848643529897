#pragma once
// An engine with Direct3D on a form, the texture formats its devices offer, BMP files built
// pixel by pixel, and a textured quad drawn through the device.
#include "EngineTestSupport.h"
#include "directx/Direct3DOffer.h"
#include "forms/Forms.h"
#include "tests/ScopedEnv.h"

#include <QImage>
#include <algorithm>
#include <functional>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& b, std::uint32_t v) {
    b.push_back(v & 0xFF);
    b.push_back((v >> 8) & 0xFF);
}
inline void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// A BMP file of 24 bits (colour(x, y) as 0x00RRGGBB) or of 8 bits (index(x, y) into the
// table), bottom-up unless the height is negative, rows padded to four bytes.
inline Bytes Bmp(std::int32_t width, std::int32_t height, int bits,
                 const std::function<std::uint32_t(int, int)>& value,
                 const std::vector<std::uint32_t>& table = {}) {
    const std::uint32_t offBits = 14 + 40 + 4 * static_cast<std::uint32_t>(table.size());
    const int rows = height < 0 ? -height : height;
    const std::uint32_t rowBytes = (width * (bits / 8) + 3) / 4 * 4;
    Bytes b;
    Put16(b, 0x4D42);
    Put32(b, offBits + rowBytes * rows);
    Put32(b, 0);
    Put32(b, offBits);
    Put32(b, 40);
    Put32(b, static_cast<std::uint32_t>(width));
    Put32(b, static_cast<std::uint32_t>(height));
    Put16(b, 1);
    Put16(b, bits);
    Put32(b, 0);
    Put32(b, rowBytes * rows);
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, static_cast<std::uint32_t>(table.size()));
    Put32(b, 0);
    for (std::uint32_t entry : table)
        Put32(b, entry);
    for (int k = 0; k < rows; ++k) {
        const int y = height < 0 ? k : rows - 1 - k;
        const std::size_t start = b.size();
        for (int x = 0; x < width; ++x) {
            const std::uint32_t v = value(x, y);
            if (bits == 24) {
                b.push_back(v & 0xFF);
                b.push_back((v >> 8) & 0xFF);
                b.push_back((v >> 16) & 0xFF);
            } else {
                b.push_back(v & 0xFF);
            }
        }
        // Padding bytes that are not zero, so a loader that reads them as pixels shows it.
        while ((b.size() - start) % 4)
            b.push_back(0xEE);
    }
    return b;
}

inline DDPIXELFORMAT Palettised8() {
    DDPIXELFORMAT f{};
    f.dwSize = sizeof f;
    f.dwFlags = DDPF_RGB | DDPF_PALETTEINDEXED8;
    f.dwRGBBitCount = 8;
    return f;
}
inline DDPIXELFORMAT F565() {
    return directx::TextureFormat(16, 0xF800, 0x07E0, 0x001F);
}
inline DDPIXELFORMAT F555() {
    return directx::TextureFormat(16, 0x7C00, 0x03E0, 0x001F);
}
inline DDPIXELFORMAT F1555() {
    return directx::TextureFormat(16, 0x7C00, 0x03E0, 0x001F, 0x8000);
}
inline DDPIXELFORMAT F4444() {
    return directx::TextureFormat(16, 0x0F00, 0x00F0, 0x000F, 0xF000);
}
inline DDPIXELFORMAT F24() {
    return directx::TextureFormat(24, 0xFF0000, 0x00FF00, 0x0000FF);
}
inline DDPIXELFORMAT F32() {
    return directx::TextureFormat(32, 0xFF0000, 0x00FF00, 0x0000FF);
}
inline DDPIXELFORMAT F8888() {
    return directx::TextureFormat(32, 0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000);
}

class TextureEngineTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        form.resize(320, 240);
        traces.clear();
        SetTraceSinkForTests([this](const std::string& t) { traces.push_back(t); });
        temp = std::make_unique<ScopedEnv>("TMPDIR", QByteArray::fromStdString(TempFolder()));
        std::filesystem::create_directories(TempFolder());
    }
    void TearDown() override {
        e.reset();
        temp.reset();
        EngineTest::TearDown();
    }
    // The next log line starts a new log.
    void FreshLog() {
        std::filesystem::remove(folder / "dddd.debug");
        SetDebugLogFolderForTests(folder.string());
        traces.clear();
    }
    std::string TempFolder() const { return (folder / "temp").string(); }
    // The engine after its first activation: a 128 x 128 window with Direct3D.
    TDDDD& Start(TD3DOptions options = 0) {
        e.reset(); // the form's events go back to it before a new engine takes them over
        e = std::make_unique<TDDDD>(&form);
        e->Use3D = true;
        e->D3DOptions = options;
        e->AutoDisplayModeInitialize = false;
        form.CreationEnded();
        return *e;
    }
    // Every device kind offers these texture formats, in this order.
    static void Offer(const std::vector<DDPIXELFORMAT>& formats) {
        for (directx::DeviceOffer& device : directx::Adapter().direct3d.devices)
            device.textureFormats = formats;
    }
    std::string Write(const std::string& name, const Bytes& bytes) const {
        const std::string path = (folder / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    // What lies in the temporary folder now.
    std::vector<std::string> TempFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(TempFolder()))
            names.push_back(entry.path().filename().string());
        return names;
    }
    std::size_t TraceIndex(const std::string& text, std::size_t from = 0) const {
        const auto found = std::find(traces.begin() + std::ptrdiff_t(from), traces.end(), text);
        return std::size_t(found - traces.begin());
    }
    static std::vector<DWORD> Pixels(TDDDDGenSurface& s, int width, int height) {
        std::vector<DWORD> out;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                out.push_back(s.GetPixel(x, y));
        return out;
    }
    // Draws the texture unfiltered and unmodulated over (0, 0, width, height) of the cleared
    // back buffer and returns the back buffer's pixels there.
    std::vector<DWORD> DrawQuad(TDDDDTexture& texture, int width, int height) {
        IDirect3DViewport2* viewport = nullptr;
        EXPECT_EQ(e->Direct3D->CreateViewport(&viewport, nullptr), DD_OK);
        EXPECT_EQ(e->D3DDevice->AddViewport(viewport), DD_OK);
        EXPECT_EQ(e->D3DDevice->SetCurrentViewport(viewport), DD_OK);
        D3DVIEWPORT2 data{44,
                          0,
                          0,
                          DWORD(e->ScreenWidth),
                          DWORD(e->ScreenHeight),
                          0,
                          0,
                          float(e->ScreenWidth),
                          float(e->ScreenHeight),
                          0,
                          1};
        EXPECT_EQ(viewport->SetViewport2(&data), DD_OK);
        e->ClearBackBuffer();
        IDirect3DDevice2* d = e->D3DDevice;
        d->SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, texture.Handle);
        d->SetRenderState(D3DRENDERSTATE_TEXTUREMAG, D3DFILTER_NEAREST);
        d->SetRenderState(D3DRENDERSTATE_TEXTUREMIN, D3DFILTER_NEAREST);
        d->SetRenderState(D3DRENDERSTATE_TEXTUREMAPBLEND, D3DTBLEND_DECAL);
        const float w = float(width), h = float(height);
        D3DTLVERTEX quad[4] = {MakeTLVertex(0, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0),
                               MakeTLVertex(w, 0, 0.5f, 1, 0xFFFFFFFF, 0, 1, 0),
                               MakeTLVertex(0, h, 0.5f, 1, 0xFFFFFFFF, 0, 0, 1),
                               MakeTLVertex(w, h, 0.5f, 1, 0xFFFFFFFF, 0, 1, 1)};
        EXPECT_EQ(d->BeginScene(), DD_OK);
        EXPECT_EQ(d->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, quad, 4, 0), DD_OK);
        EXPECT_EQ(d->EndScene(), DD_OK);
        d->SetRenderState(D3DRENDERSTATE_TEXTUREHANDLE, 0);
        d->DeleteViewport(viewport);
        viewport->Release();
        return Pixels(*e->BackBuffer, width, height);
    }

    TForm form;
    std::unique_ptr<TDDDD> e;
    std::vector<std::string> traces;
    std::unique_ptr<ScopedEnv> temp;
};
