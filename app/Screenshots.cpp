#include "Screenshots.h"

#include <QDir>
#include <QPainter>
#include <QWidget>
#include <cstdio>
#include <functional>

#include "Unit1.h"
#include "gfxbench/Unit2.h"
#include "platform/MMSystem.h"

QImage GrabWindow(QWidget& window) {
    window.ensurePolished();
    QImage image = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QRegion region = window.mask();
    if (!region.isEmpty()) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (!region.contains(QPoint(x, y)))
                    image.setPixel(x, y, qRgba(0, 0, 0, 0));
    }
    return image;
}

namespace {

// The GDI test window in its sprite phase. The test runs on a scripted clock that moves 100 ms
// a reading, so each phase ends after a few dozen shapes or frames; the window is grabbed once
// the sprites have spread over it. The main window's score panel is left as it was.
QImage GrabSpritePhase() {
    constexpr int kFramesBeforeGrab = 90;
    TForm2& form = *Form2;
    const QString score = Form1->Panel2->text();
    form.SetWidth(ScreenWidth());
    form.SetHeight(ScreenHeight());
    form.SetLeft(0);
    form.SetTop(0);
    form.show();
    QImage shot;
    int frames = 0;
    form.StageHook = [&](TGdiStage stage) {
        if (stage == TGdiStage::FrameShown && ++frames == kFramesBeforeGrab)
            shot = GrabWindow(form);
    };
    {
        DWORD now = 0;
        ScriptedClock clock([&now](std::uint64_t) { return now += 100; });
        form.DrawProc();
    }
    form.StageHook = nullptr;
    form.hide();
    Form1->Panel2->setText(score);
    return shot;
}

} // namespace

bool SaveScreenshots(const QString& folder) {
    QDir().mkpath(folder);
    struct Shot {
        const char* name;
        std::function<QImage()> grab;
    } shots[] = {
        {"TForm1", [] { return GrabWindow(*Form1); }},
        {"TForm2", GrabSpritePhase},
    };
    for (const Shot& shot : shots) {
        const QString path = QDir(folder).filePath(QString(shot.name) + ".png");
        if (!shot.grab().save(path)) {
            std::fprintf(stderr, "zelka: cannot write %s\n", qPrintable(path));
            return false;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return true;
}
