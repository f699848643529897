// The DirectDraw test's frame on a full-screen 640x480x16 engine: the top layer and the sprite
// drawn last are where they belong, and the frame is written out as a picture.
#include "EngineTestSupport.h"
#include "SceneSupport.h"
#include "forms/Forms.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <vector>

using directx::Adapter;

namespace {

class SceneFrameTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        form.resize(800, 600);
    }
    void TearDown() override {
        scene.reset();
        engine2.reset();
        EngineTest::TearDown();
    }
    TDDDD& FullScreen() {
        engine2 = std::make_unique<TDDDD>(&form);
        engine2->SetDisplayMode(dmWin800x600x16);
        form.show();
        form.CreationEnded();
        engine2->InitializeScreen(true, 640, 480, 16, 0, "");
        return *engine2;
    }
    // The back buffer as a picture (5-6-5 pixels).
    QImage BackImage(TDDDD& e) {
        DDSURFACEDESC desc{};
        desc.dwSize = sizeof desc;
        e.BackBuffer->Surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
        QImage image(static_cast<const uchar*>(desc.lpSurface), int(desc.dwWidth),
                     int(desc.dwHeight), int(desc.lPitch), QImage::Format_RGB16);
        QImage copy = image.copy();
        e.BackBuffer->Surface->Unlock(nullptr);
        return copy;
    }

    TForm form;
    std::unique_ptr<TDDDD> engine2;
    std::unique_ptr<DirectDrawScene> scene;
};

TEST_F(SceneFrameTest, FourLayersAndTheSpritesDrawOneFrame) {
    TDDDD& e = FullScreen();
    ASSERT_TRUE(e.FullScreen);
    ASSERT_EQ(e.BackBuffer->Width, 640);
    RandSeed = 12345;
    scene = std::make_unique<DirectDrawScene>(e, ZELKA_DAT_PATH);
    scene->Place();
    e.ClearBackBuffer();
    scene->Draw(1);
    EXPECT_EQ(Log(), "");

    // Which pixels some sprite covers (its whole 32 x 32 cell).
    std::vector<bool> covered(640 * 480);
    for (int i = 0; i < 301; ++i) {
        const TDDDDSprReg& r = *scene->sprites->GetReg(i);
        for (int y = std::max(r.Y, 0); y < std::min(r.Y + 32, 480); ++y)
            for (int x = std::max(r.X, 0); x < std::min(r.X + 32, 640); ++x)
                covered[std::size_t(y) * 640 + std::size_t(x)] = true;
    }
    // Where no sprite lies and the top layer's picture is not the key, it shows.
    TDDDDBG& top = *scene->layers[3];
    EXPECT_EQ(top.ScrollY, 3);
    int shown = 0, checked = 0;
    for (int y = 0; y < 480; y += 7)
        for (int x = 0; x < 640; x += 5) {
            if (covered[std::size_t(y) * 640 + std::size_t(x)])
                continue;
            const DWORD want = scene->samp3->GetPixel(x % 100, (y + top.ScrollY) % 100);
            if (want == 0)
                continue;
            ++checked;
            shown += e.BackBuffer->GetPixel(x, y) == want;
        }
    EXPECT_GT(checked, 500);
    EXPECT_EQ(shown, checked);

    // Sprite 0 is drawn last of all: its pixels lie on top wherever its shape has them.
    const TDDDDSprReg& first = *scene->sprites->GetReg(0);
    ASSERT_LT(first.IShape, 5);
    int spritePixels = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const int bx = first.X + x, by = first.Y + y;
            const DWORD want = scene->sheet->GetPixel(32 * first.IShape + x, y);
            if (want == 0 || bx < 0 || by < 0 || bx >= 640 || by >= 480)
                continue;
            ++spritePixels;
            EXPECT_EQ(e.BackBuffer->GetPixel(bx, by), want) << bx << "," << by;
        }
    EXPECT_GT(spritePixels, 50);

    BackImage(e).save(QDir::temp().filePath("zelka-ddraw-frame.png"));
    e.Present();
    QApplication::processEvents();
    const QImage shown2 = form.grab().toImage();
    EXPECT_FALSE(shown2.isNull());
    shown2.save(QDir::temp().filePath("zelka-ddraw-frame-window.png"));
    scene.reset();
    e.Destroying = true;
}

} // namespace
