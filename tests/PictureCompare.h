#pragma once
// Comparisons of what a window shows with the picture it was given.
#include <QImage>
#include <QRect>

// Pixels that differ from the expected picture at the same place.
inline int Mismatches(const QImage& shown, const QImage& expected) {
    if (shown.size() != expected.size())
        return shown.width() * shown.height() + 1;
    int bad = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            bad += (shown.pixel(x, y) & 0xFFFFFF) != (expected.pixel(x, y) & 0xFFFFFF);
    return bad;
}

// Window pixels of a scaled picture that are neither black outside `dest` nor, inside it, one of
// the source pixels next to (or at) the one nearest the pixel's centre: nearest-pixel scalers
// differ only in how they round a centre that falls within rounding of a source pixel's edge.
inline int ScaledMismatches(const QImage& shown, const QImage& source, const QRect& dest) {
    int bad = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            const QRgb p = shown.pixel(x, y) & 0xFFFFFF;
            if (!dest.contains(x, y)) {
                bad += p != 0;
                continue;
            }
            const int sx = int((x - dest.x() + 0.5) * source.width() / dest.width());
            const int sy = int((y - dest.y() + 0.5) * source.height() / dest.height());
            bool near = false;
            for (int dy = -1; dy <= 1 && !near; ++dy)
                for (int dx = -1; dx <= 1 && !near; ++dx)
                    near = source.rect().contains(sx + dx, sy + dy) &&
                           p == (source.pixel(sx + dx, sy + dy) & 0xFFFFFF);
            bad += !near;
        }
    return bad;
}
