// Draws the main window's skin pictures into a folder: the background, the logo, the maker's
// banner, the four picture buttons in released and pressed looks, the window glyphs, and the
// GDI test's sprite with its mask.
// The pictures are committed under resources/skin/; run `make skin` to draw them again.
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

QString outDir;

QFont Face(int pixelSize, bool bold = true, double spacing = 100) {
    QFont font("IPAPGothic");
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setLetterSpacing(QFont::PercentageSpacing, spacing);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

QImage Canvas(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void Save(const QImage& image, const char* name) {
    const QString path = QDir(outDir).filePath(name);
    if (!image.convertToFormat(QImage::Format_ARGB32).save(path, "PNG")) {
        std::fprintf(stderr, "skingen: cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
}

// Text with a one-pixel dark shadow, centred in a rectangle unless told otherwise.
void ShadowText(QPainter& p, const QRectF& r, const QString& text, const QColor& colour,
                int align = Qt::AlignCenter) {
    p.setPen(QColor(0, 0, 0, 170));
    p.drawText(r.translated(1, 1), align, text);
    p.setPen(colour);
    p.drawText(r, align, text);
}

void Background() {
    const int w = 595, h = 442;
    QImage image = Canvas(w, h);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient base(0, 0, 0, h);
    base.setColorAt(0, QColor(0x2A, 0x36, 0x5C));
    base.setColorAt(0.45, QColor(0x14, 0x1B, 0x33));
    base.setColorAt(1, QColor(0x07, 0x0A, 0x16));
    QPainterPath outline;
    outline.addRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 25, 25);
    p.fillPath(outline, base);

    // Fine diagonal pin-stripes give the plate a brushed look.
    p.save();
    p.setClipPath(outline);
    p.setPen(QPen(QColor(255, 255, 255, 9), 1));
    for (int x = -h; x < w; x += 4)
        p.drawLine(x, h, x + h, 0);
    // A soft light from the upper left.
    QRadialGradient glow(140, 40, 360);
    glow.setColorAt(0, QColor(120, 160, 255, 60));
    glow.setColorAt(1, QColor(120, 160, 255, 0));
    p.fillRect(0, 0, w, h, glow);
    p.restore();

    // Title strip over the left groups.
    p.setFont(Face(15, true, 104));
    ShadowText(p, QRectF(52, 6, 80, 22), "ゼルカ", QColor(0xF4, 0xF7, 0xFF),
               Qt::AlignLeft | Qt::AlignVCenter);
    p.setFont(Face(9, true, 130));
    p.setPen(QColor(0x9F, 0xB8, 0xEE));
    p.drawText(QRectF(104, 11, 200, 14), Qt::AlignLeft | Qt::AlignVCenter, "PC BENCHMARK");
    p.setPen(QPen(QColor(0x6F, 0x8F, 0xD8, 150), 1));
    p.drawLine(QPointF(52, 28.5), QPointF(350, 28.5));

    // The right-hand plate behind the logo, the options and the picture buttons.
    QPainterPath plate;
    plate.addRoundedRect(QRectF(352.5, 18.5, 216, 404), 12, 12);
    QLinearGradient plateFill(0, 18, 0, 422);
    plateFill.setColorAt(0, QColor(255, 255, 255, 34));
    plateFill.setColorAt(1, QColor(255, 255, 255, 10));
    p.fillPath(plate, plateFill);
    p.setPen(QPen(QColor(0xA8, 0xC0, 0xF0, 90), 1));
    p.drawPath(plate);

    // A level meter under the results: a row of bars rising from blue to cyan.
    const int bars = 37;
    for (int i = 0; i < bars; ++i) {
        const double t = i / double(bars - 1);
        const double height = 8 + 26 * (0.5 - 0.5 * std::cos(t * 3.14159));
        const QColor colour = QColor::fromHsvF(0.62 - 0.14 * t, 0.8, 0.55 + 0.45 * t);
        const QRectF bar(50 + i * 8, 414 - height, 6, height);
        QLinearGradient g(bar.topLeft(), bar.bottomLeft());
        g.setColorAt(0, colour.lighter(135));
        g.setColorAt(1, colour.darker(160));
        p.fillRect(bar, g);
    }
    p.setFont(Face(9, true, 120));
    p.setPen(QColor(0x8F, 0xA8, 0xDE));
    p.drawText(QRectF(50, 416, 303, 14), Qt::AlignLeft | Qt::AlignVCenter,
               "SYSTEM PERFORMANCE ANALYZER");

    // A bevelled rim that follows the rounded window shape.
    QLinearGradient rim(0, 0, 0, h);
    rim.setColorAt(0, QColor(0xC8, 0xD6, 0xF4));
    rim.setColorAt(0.5, QColor(0x50, 0x66, 0x9C));
    rim.setColorAt(1, QColor(0x1A, 0x24, 0x44));
    p.setPen(QPen(QBrush(rim), 2.5));
    p.drawRoundedRect(QRectF(1.5, 1.5, w - 3, h - 3), 24, 24);
    p.setPen(QPen(QColor(0, 0, 0, 140), 1));
    p.drawRoundedRect(QRectF(4.5, 4.5, w - 9, h - 9), 21, 21);
    p.end();
    Save(image, "background.png");
}

void Logo() {
    QImage image = Canvas(200, 100);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // An orange swoosh behind the name.
    QPainterPath swoosh;
    swoosh.moveTo(6, 70);
    swoosh.cubicTo(60, 92, 150, 70, 196, 18);
    swoosh.cubicTo(150, 62, 70, 78, 6, 70);
    QLinearGradient orange(0, 0, 200, 0);
    orange.setColorAt(0, QColor(0xFF, 0x8A, 0x1E, 40));
    orange.setColorAt(1, QColor(0xFF, 0xB4, 0x3C, 230));
    p.fillPath(swoosh, orange);

    QPainterPath name;
    name.addText(8, 56, Face(46, true, 96), "ゼルカ");
    QLinearGradient chrome(0, 12, 0, 58);
    chrome.setColorAt(0, QColor(0xFF, 0xFF, 0xFF));
    chrome.setColorAt(0.48, QColor(0xA6, 0xE4, 0xFF));
    chrome.setColorAt(0.52, QColor(0x38, 0x8C, 0xE8));
    chrome.setColorAt(1, QColor(0x9E, 0xD8, 0xFF));
    p.setPen(QPen(QColor(0x06, 0x10, 0x30), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(name.translated(2, 2));
    p.setPen(QPen(QColor(0x0A, 0x1C, 0x50), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(name);
    p.fillPath(name, chrome);

    p.setFont(Face(11, true, 150));
    ShadowText(p, QRectF(8, 62, 118, 16), "BENCHMARK", QColor(0xFF, 0xD0, 0x80));
    p.end();
    Save(image, "logo.png");
}

void Maker() {
    QImage image = Canvas(100, 50);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath badge;
    badge.addRoundedRect(QRectF(1.5, 4.5, 97, 41), 8, 8);
    QLinearGradient fill(0, 4, 0, 46);
    fill.setColorAt(0, QColor(0x3C, 0x4E, 0x7E));
    fill.setColorAt(1, QColor(0x18, 0x22, 0x40));
    p.fillPath(badge, fill);
    p.setPen(QPen(QColor(0xB0, 0xC4, 0xEE, 200), 1));
    p.drawPath(badge);
    // Emblem: a ring with a spark.
    p.setPen(QPen(QColor(0xFF, 0xB4, 0x3C), 2.4));
    p.drawEllipse(QRectF(8, 13, 20, 20));
    p.setBrush(QColor(0xFF, 0xE0, 0xA0));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(15, 20, 6, 6));
    QFont italic = Face(15, true, 100);
    italic.setItalic(true);
    p.setFont(italic);
    ShadowText(p, QRectF(30, 10, 66, 22), "Orvane", QColor(0xF0, 0xF4, 0xFF));
    p.setFont(Face(8, true, 130));
    p.setPen(QColor(0x9F, 0xB8, 0xEE));
    p.drawText(QRectF(30, 30, 66, 11), Qt::AlignCenter, "HOME PAGE");
    p.end();
    Save(image, "maker.png");
}

struct ButtonLook {
    const char* file;
    const char* caption;
    QColor top, bottom; // released gradient
};

void Button(const ButtonLook& look, bool pressed) {
    QImage image = Canvas(200, 30);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body(0.5, 0.5, 199, 29);
    QPainterPath shape;
    shape.addRoundedRect(body, 7, 7);
    QLinearGradient fill(0, 0, 0, 30);
    if (pressed) {
        fill.setColorAt(0, look.bottom.darker(150));
        fill.setColorAt(1, look.top.darker(115));
    } else {
        fill.setColorAt(0, look.top);
        fill.setColorAt(1, look.bottom);
    }
    p.fillPath(shape, fill);
    if (!pressed) { // glossy upper half
        QPainterPath gloss;
        gloss.addRoundedRect(QRectF(2, 1.5, 196, 13), 6, 6);
        QLinearGradient shine(0, 1, 0, 15);
        shine.setColorAt(0, QColor(255, 255, 255, 120));
        shine.setColorAt(1, QColor(255, 255, 255, 18));
        p.fillPath(gloss, shine);
    } else { // inner shadow along the top edge
        QLinearGradient shade(0, 0, 0, 8);
        shade.setColorAt(0, QColor(0, 0, 0, 110));
        shade.setColorAt(1, QColor(0, 0, 0, 0));
        p.save();
        p.setClipPath(shape);
        p.fillRect(QRectF(0, 0, 200, 8), shade);
        p.restore();
    }
    p.setPen(QPen(QColor(0x05, 0x0C, 0x24), 1));
    p.drawPath(shape);
    p.setFont(Face(13, true, 106));
    const QRectF textBox = pressed ? body.translated(1, 1) : body;
    ShadowText(p, textBox, look.caption, pressed ? QColor(0xDD, 0xE6, 0xFF) : Qt::white);
    p.end();
    Save(image, (std::string(look.file) + (pressed ? "_down.png" : "_up.png")).c_str());
}

// A small rounded glyph button with a drawn symbol or a word.
QImage GlyphBase(int w, int h) {
    QImage image = Canvas(w, h);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 5, 5);
    QLinearGradient fill(0, 0, 0, h);
    fill.setColorAt(0, QColor(0x6C, 0x86, 0xC4));
    fill.setColorAt(0.5, QColor(0x34, 0x4C, 0x8C));
    fill.setColorAt(1, QColor(0x1C, 0x2C, 0x5C));
    p.fillPath(shape, fill);
    p.setPen(QPen(QColor(0x05, 0x0C, 0x24), 1));
    p.drawPath(shape);
    return image;
}

void Glyphs() {
    {
        QImage image = GlyphBase(20, 20);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(6, 14), QPointF(14, 14));
        p.end();
        Save(image, "minimize.png");
    }
    {
        QImage image = GlyphBase(20, 20);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(0.5, 0.5, 19, 19), 5, 5);
        QLinearGradient red(0, 0, 0, 20);
        red.setColorAt(0, QColor(0xF0, 0x70, 0x60));
        red.setColorAt(1, QColor(0x9C, 0x14, 0x10));
        p.fillPath(shape, red);
        p.setPen(QPen(QColor(0x30, 0x04, 0x04), 1));
        p.drawPath(shape);
        p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(6, 6), QPointF(14, 14));
        p.drawLine(QPointF(14, 6), QPointF(6, 14));
        p.end();
        Save(image, "close.png");
    }
    for (auto [file, word, width] :
         {std::tuple{"help.png", "HELP", 50}, std::tuple{"about.png", "ABOUT ゼルカ", 100}}) {
        QImage image = GlyphBase(width, 20);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setFont(Face(10, true, 112));
        ShadowText(p, QRectF(0, 0, width, 20), word, Qt::white);
        p.end();
        Save(image, file);
    }
}

// The check boxes' indicator on the blue groups: a sunken white box, ticked or empty.
void CheckIndicators() {
    for (bool checked : {false, true}) {
        QImage image = Canvas(13, 13);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(QRectF(0, 0, 13, 13), QColor(0x40, 0x40, 0x40));
        p.fillRect(QRectF(1, 1, 12, 12), QColor(0xE0, 0xE0, 0xE0));
        p.fillRect(QRectF(1, 1, 11, 11), Qt::white);
        if (checked) {
            p.setPen(
                QPen(QColor(0x10, 0x10, 0x10), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            const QPointF tick[] = {{3.2, 6.6}, {5.4, 9.0}, {9.8, 3.8}};
            p.drawPolyline(tick, 3);
        }
        p.end();
        Save(image, checked ? "check_on.png" : "check_off.png");
    }
}

// The sprite's 256 colours: black first (the transparent surroundings), then ramps for the
// steel body, the red lamp and cheeks, the golden spikes and the greys of eyes and shine.
QList<QRgb> SpritePalette() {
    QList<QRgb> palette{qRgb(0, 0, 0)};
    auto ramp = [&palette](int count, QColor from, QColor mid, QColor to) {
        for (int i = 0; i < count; ++i) {
            const double t = count == 1 ? 0 : i / double(count - 1);
            const QColor a = t < 0.5 ? from : mid;
            const QColor b = t < 0.5 ? mid : to;
            const double u = t < 0.5 ? t * 2 : (t - 0.5) * 2;
            palette << qRgb(int(std::lround(a.red() + (b.red() - a.red()) * u)),
                            int(std::lround(a.green() + (b.green() - a.green()) * u)),
                            int(std::lround(a.blue() + (b.blue() - a.blue()) * u)));
        }
    };
    ramp(96, QColor(8, 14, 30), QColor(58, 104, 150), QColor(220, 240, 255));
    ramp(48, QColor(50, 0, 6), QColor(214, 30, 40), QColor(255, 200, 190));
    ramp(56, QColor(60, 34, 0), QColor(222, 150, 20), QColor(255, 246, 190));
    ramp(55, QColor(24, 24, 24), QColor(140, 140, 150), QColor(255, 255, 255));
    return palette;
}

int NearestIndex(const QList<QRgb>& palette, QRgb colour) {
    int best = 0;
    int bestDistance = INT32_MAX;
    for (int i = 0; i < palette.size(); ++i) {
        const int dr = qRed(palette[i]) - qRed(colour);
        const int dg = qGreen(palette[i]) - qGreen(colour);
        const int db = qBlue(palette[i]) - qBlue(colour);
        const int distance = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

// The little sea mine that swims across the sprite phase: a steel ball with golden spikes, a
// red lamp on top, a face and a shine, drawn smooth on a transparent 100 × 100 picture.
QImage DrawMine() {
    QImage image = Canvas(100, 100);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(50, 55);
    const double radius = 30;
    const QColor outline(8, 14, 30);

    // Spikes first, so the ball covers their roots.
    for (int i = 0; i < 8; ++i) {
        const double angle = (i * 45 + 22.5) * 3.14159265 / 180;
        const QPointF dir(std::cos(angle), std::sin(angle));
        const QPointF root = centre + dir * (radius - 4);
        const QPointF tip = centre + dir * (radius + 11);
        p.setPen(QPen(outline, 8.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(root, tip);
        p.setPen(QPen(QColor(222, 150, 20), 5.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(root, tip);
        QRadialGradient knob(tip - QPointF(1.2, 1.2), 5);
        knob.setColorAt(0, QColor(255, 246, 190));
        knob.setColorAt(1, QColor(200, 120, 10));
        p.setPen(QPen(outline, 1.6));
        p.setBrush(knob);
        p.drawEllipse(tip, 4.6, 4.6);
    }
    // The lamp on top, on a short neck.
    p.setPen(QPen(outline, 1.8));
    p.setBrush(QColor(90, 130, 170));
    p.drawRoundedRect(QRectF(43, 17, 14, 10), 3, 3);
    QRadialGradient lamp(QPointF(48, 10), 9);
    lamp.setColorAt(0, QColor(255, 200, 190));
    lamp.setColorAt(0.5, QColor(230, 40, 46));
    lamp.setColorAt(1, QColor(110, 0, 10));
    p.setBrush(lamp);
    p.drawEllipse(QPointF(50, 13), 7.5, 7.5);

    // The ball.
    QRadialGradient steel(centre - QPointF(11, 12), radius * 1.5);
    steel.setColorAt(0, QColor(190, 225, 250));
    steel.setColorAt(0.35, QColor(88, 140, 190));
    steel.setColorAt(0.8, QColor(30, 60, 100));
    steel.setColorAt(1, QColor(14, 26, 52));
    p.setPen(QPen(outline, 2.2));
    p.setBrush(steel);
    p.drawEllipse(centre, radius, radius);
    // A rivet belt round the middle.
    p.setPen(QPen(QColor(20, 40, 72), 1.4));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(centre.x() - radius, centre.y() - 9, 2 * radius, 34), 200 * 16, 140 * 16);
    for (int i = 0; i < 5; ++i) {
        const double a = (205 + i * 32.5) * 3.14159265 / 180;
        const QPointF rivet(centre.x() + radius * std::cos(a), centre.y() + 8 - 17 * std::sin(a));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(150, 190, 225));
        p.drawEllipse(rivet, 1.6, 1.6);
    }
    // Shine.
    p.setBrush(QColor(255, 255, 255, 210));
    p.drawEllipse(QPointF(37, 38), 6, 4);

    // The face: two eyes with pupils looking ahead, cheeks and a smile.
    for (double x : {40.0, 58.0}) {
        p.setPen(QPen(outline, 1.5));
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(x, 54), 5.5, 6.5);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(12, 12, 24));
        p.drawEllipse(QPointF(x - 1.5, 55), 3, 3.8);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(x - 2.5, 53.3), 1.1, 1.1);
    }
    p.setBrush(QColor(240, 110, 120));
    p.drawEllipse(QPointF(32, 64), 4, 2.5);
    p.drawEllipse(QPointF(66, 64), 4, 2.5);
    p.setPen(QPen(outline, 2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(42, 58, 14, 10), 200 * 16, 140 * 16);
    p.end();
    return image;
}

// An uncompressed palette BMP (8 or 1 bits a pixel), written byte by byte so the rows'
// padding is zero and the files are the same on every run.
void SaveBmp(const QImage& image, const char* name) {
    const int bits = image.depth();
    const int colours = int(image.colorCount());
    const int rowBytes = (image.width() * bits + 31) / 32 * 4;
    const int offset = 14 + 40 + 4 * colours;
    QByteArray out;
    auto u16 = [&out](int v) {
        out.append(char(v & 0xFF));
        out.append(char((v >> 8) & 0xFF));
    };
    auto u32 = [&](int v) {
        u16(v & 0xFFFF);
        u16((v >> 16) & 0xFFFF);
    };
    out.append("BM");
    u32(offset + rowBytes * image.height());
    u32(0);
    u32(offset);
    u32(40);
    u32(image.width());
    u32(image.height());
    u16(1);
    u16(bits);
    u32(0); // uncompressed
    u32(rowBytes * image.height());
    u32(3780); // 96 dots per inch
    u32(3780);
    u32(colours);
    u32(colours);
    for (QRgb c : image.colorTable()) {
        out.append(char(qBlue(c)));
        out.append(char(qGreen(c)));
        out.append(char(qRed(c)));
        out.append('\0');
    }
    for (int y = image.height() - 1; y >= 0; --y) {
        QByteArray row(rowBytes, '\0');
        for (int x = 0; x < image.width(); ++x) {
            const int index = image.pixelIndex(x, y);
            if (bits == 8)
                row[x] = char(index);
            else if (index)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        }
        out.append(row);
    }
    QFile file(QDir(outDir).filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size()) {
        std::fprintf(stderr, "skingen: cannot write %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
}

// The sprite in 256 colours and its mask in two: where the drawing covers at least half a
// pixel it is opaque (mask black, colour kept), elsewhere transparent (mask white, colour
// black), so the mask is exactly the sprite's shape.
void Sprite() {
    const QImage drawing = DrawMine().convertToFormat(QImage::Format_ARGB32);
    const QList<QRgb> palette = SpritePalette();
    QImage colour(drawing.size(), QImage::Format_Indexed8);
    colour.setColorTable(palette);
    QImage mask(drawing.size(), QImage::Format_Mono);
    mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < drawing.height(); ++y) {
        for (int x = 0; x < drawing.width(); ++x) {
            const QRgb pixel = drawing.pixel(x, y);
            const bool opaque = qAlpha(pixel) >= 128;
            colour.setPixel(x, y, opaque ? uint(NearestIndex(palette, pixel)) : 0u);
            mask.setPixel(x, y, opaque ? 0u : 1u);
        }
    }
    SaveBmp(colour, "mine1.bmp");
    SaveBmp(mask, "mine2.bmp");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: skingen OUTPUT-FOLDER\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outDir);
    Background();
    Logo();
    Maker();
    const ButtonLook buttons[] = {
        {"ranking", "ランキング投稿", QColor(0x5C, 0x86, 0xDC), QColor(0x1C, 0x36, 0x86)},
        {"text", "テキスト出力", QColor(0x5C, 0x86, 0xDC), QColor(0x1C, 0x36, 0x86)},
        {"report", "結果レポート", QColor(0x5C, 0x86, 0xDC), QColor(0x1C, 0x36, 0x86)},
        {"start", "ベンチスタート", QColor(0xFF, 0xA0, 0x3C), QColor(0xB8, 0x3C, 0x0C)},
    };
    for (const ButtonLook& look : buttons) {
        Button(look, false);
        Button(look, true);
    }
    Glyphs();
    CheckIndicators();
    Sprite();
    return 0;
}
