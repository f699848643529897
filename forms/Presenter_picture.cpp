#include "Presenter.h"

#include <cstring>

namespace presenting {

int BytesPerPixel(TPixelLayout layout) {
    switch (layout) {
    case TPixelLayout::Indexed8:
        return 1;
    case TPixelLayout::RGB565:
    case TPixelLayout::XRGB1555:
        return 2;
    case TPixelLayout::BGR888:
        return 3;
    case TPixelLayout::XRGB8888:
        return 4;
    }
    return 4;
}

QImage::Format QtFormat(TPixelLayout layout) {
    switch (layout) {
    case TPixelLayout::Indexed8:
        return QImage::Format_Indexed8;
    case TPixelLayout::RGB565:
        return QImage::Format_RGB16;
    case TPixelLayout::XRGB1555:
        return QImage::Format_RGB555;
    case TPixelLayout::BGR888:
        return QImage::Format_BGR888;
    case TPixelLayout::XRGB8888:
        return QImage::Format_RGB32;
    }
    return QImage::Format_Invalid;
}

void Picture::Assign(const TPixelView& view, const QRect& source) {
    const int bpp = BytesPerPixel(view.layout);
    width = source.width();
    height = source.height();
    layout = view.layout;
    pitch = (width * bpp + 3) & ~3;
    bytes.resize(static_cast<std::size_t>(pitch) * height);
    bits = bytes.data();
    for (int y = 0; y < height; ++y)
        std::memcpy(Row(y), view.Row(source.top() + y) + source.left() * bpp,
                    static_cast<std::size_t>(width) * bpp);
    if (layout == TPixelLayout::Indexed8) {
        colors.resize(256);
        for (int i = 0; i < 256; ++i)
            colors[i] = 0xFF000000u | (view.colorTable ? view.colorTable[i] : 0);
    }
}

QImage Picture::Image() const {
    QImage image(bits, width, height, pitch, QtFormat(layout));
    if (layout == TPixelLayout::Indexed8)
        image.setColorTable(colors);
    return image;
}

} // namespace presenting
