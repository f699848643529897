#pragma once
// A full-screen DirectDraw flipping chain drawn on the GPU (llvmpipe taken as hardware) on a
// shown window, and the pictures to compare what the window shows with.
#include "DirectDrawTestSupport.h"
#include "directx/SoftSurface.h"
#include "forms/Forms.h"
#include "forms/Presenter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <cstring>
#include <optional>
#include <utility>

class FlipChainOnScreen : public DirectDrawTest {
protected:
    // The GPU road on the window system's display `platform`, and a shown window of the
    // screen's size in full screen.
    void Start(const char* platform, QSize size) {
        road.emplace();
        ASSERT_EQ(road->Failure(), "");
        ASSERT_EQ(gpu::ChosenRoad().device->GetDisplay().Platform(), platform);
        DirectDrawTest::SetUp();
        CreateDirectDraw();
        screen.emplace();
        screen->setGeometry(QRect(QPoint(0, 0), size));
        screen->show();
        window = WindowHandle(&*screen);
        ASSERT_EQ(dd->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
        size_ = size;
    }
    void TearDown() override {
        if (!road)
            return; // skipped
        LeaveMode();
        if (dd)
            dd->SetCooperativeLevel(window, DDSCL_NORMAL);
        DirectDrawTest::TearDown();
        screen.reset();
        road.reset();
    }
    void EnterMode(int width, int height, int bits) {
        ASSERT_EQ(dd->SetDisplayMode(DWORD(width), DWORD(height), DWORD(bits), 0, 0), DD_OK);
        QElapsedTimer waited; // until the window system gave it the screen
        waited.start();
        do
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        while (screen->size() != size_ && waited.elapsed() < 10000);
        front = CreatePrimary(DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX, 1);
        DDSCAPS caps{DDSCAPS_BACKBUFFER};
        ASSERT_EQ(front->GetAttachedSurface(&caps, &back), DD_OK);
        ASSERT_TRUE(static_cast<SoftSurface*>(back)->OnGpu());
        if (bits == 8) {
            PALETTEENTRY entries[256];
            for (int i = 0; i < 256; ++i)
                entries[i] = PALETTEENTRY{BYTE(i), BYTE(255 - i), BYTE(i * 7), 0};
            ASSERT_EQ(
                dd->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, &palette, nullptr),
                DD_OK);
            ASSERT_EQ(front->SetPalette(palette), DD_OK);
        }
    }
    void LeaveMode() {
        if (palette)
            std::exchange(palette, nullptr)->Release();
        if (back)
            std::exchange(back, nullptr)->Release();
        if (front)
            std::exchange(front, nullptr)->Release();
    }
    // A frame with detail in every pixel (written by a lock) under fills drawn on the GPU.
    void DrawFrame(int seed) {
        DDSURFACEDESC desc{};
        desc.dwSize = sizeof desc;
        ASSERT_EQ(back->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
        const int bytes = int(desc.ddpfPixelFormat.dwRGBBitCount / 8);
        const DWORD mask = ~0u >> (32 - 8 * bytes);
        for (DWORD y = 0; y < desc.dwHeight; ++y)
            for (DWORD x = 0; x < desc.dwWidth; ++x) {
                const DWORD value = x * 2654435761u ^ y * 40503u ^ DWORD(seed) * 977u;
                std::memcpy(static_cast<BYTE*>(desc.lpSurface) + y * desc.lPitch + x * bytes,
                            &value, std::size_t(bytes));
            }
        ASSERT_EQ(back->Unlock(nullptr), DD_OK);
        for (int i = 0; i < 12; ++i) {
            RECT rect{i * 37 + seed, i * 23, i * 37 + seed + 40, i * 23 + 30};
            DDBLTFX fx = FillFx(DWORD(0x1234 * (i + 1) + seed) & mask);
            ASSERT_EQ(back->Blt(&rect, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx), DD_OK);
        }
        ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    }
    // The front, in the colours the software road converts it to.
    QImage Source() {
        const TPixelView view = static_cast<SoftSurface*>(front)->View();
        QImage picture(view.bits, view.width, view.height, int(view.pitch),
                       presenting::QtFormat(view.layout));
        QList<QRgb> colors;
        for (int i = 0; view.colorTable && i < 256; ++i)
            colors.push_back(0xFF000000u | view.colorTable[i]);
        picture.setColorTable(colors);
        return picture.convertToFormat(QImage::Format_RGB32);
    }
    QRect Dest(QSize picture) const {
        const QSize fitted = picture.scaled(screen->size(), Qt::KeepAspectRatio);
        return QRect(QPoint((screen->width() - fitted.width()) / 2,
                            (screen->height() - fitted.height()) / 2),
                     fitted);
    }
    // The front composed as the software road composes it.
    QImage Expected() {
        QImage composed(screen->size(), QImage::Format_RGB32);
        composed.fill(Qt::black);
        QPainter(&composed).drawImage(Dest(Source().size()), Source());
        return composed;
    }
    std::optional<GpuRoad> road;
    std::optional<TForm> screen;
    HWND window = nullptr;
    IDirectDrawSurface* front = nullptr;
    IDirectDrawSurface* back = nullptr;
    IDirectDrawPalette* palette = nullptr;
    QSize size_;
};
