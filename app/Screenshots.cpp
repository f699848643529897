#include "Screenshots.h"

#include <QDir>
#include <QPainter>
#include <QWidget>
#include <cstdio>

#include "Unit1.h"

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

bool SaveScreenshots(const QString& folder) {
    QDir().mkpath(folder);
    struct Shot {
        const char* name;
        QWidget* window;
    } shots[] = {
        {"TForm1", Form1},
    };
    for (const Shot& shot : shots) {
        const QString path = QDir(folder).filePath(QString(shot.name) + ".png");
        if (!GrabWindow(*shot.window).save(path)) {
            std::fprintf(stderr, "zelka: cannot write %s\n", qPrintable(path));
            return false;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return true;
}
