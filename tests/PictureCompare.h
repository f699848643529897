#pragma once
// Comparisons of what a window shows with the picture it was given.
#include <QImage>
#include <QRect>

// Pixels of `shown` that are not what they should be: outside `dest`, black; inside, the pixel
// of `source` nearest the window pixel's centre or, with `slack`, one next to it (two
// nearest-pixel scalers differ only in how they round a centre on a source pixel's edge).
// Without `dest`, `shown` and `source` are compared pixel for pixel.
inline int Mismatches(const QImage& shown, const QImage& source, QRect dest = {}, int slack = 0) {
    if (dest.isNull() && shown.size() != source.size())
        return shown.width() * shown.height() + 1;
    dest = dest.isNull() ? shown.rect() : dest;
    int bad = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            const QRgb p = shown.pixel(x, y) & 0xFFFFFF;
            const int sx = int((x - dest.x() + 0.5) * source.width() / dest.width());
            const int sy = int((y - dest.y() + 0.5) * source.height() / dest.height());
            bool good = !dest.contains(x, y) && p == 0;
            for (int dy = -slack; dy <= slack && !good && dest.contains(x, y); ++dy)
                for (int dx = -slack; dx <= slack && !good; ++dx)
                    good = source.rect().contains(sx + dx, sy + dy) &&
                           p == (source.pixel(sx + dx, sy + dy) & 0xFFFFFF);
            bad += !good;
        }
    return bad;
}
