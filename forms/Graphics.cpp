#include "Graphics.h"

#include "platform/Classes.h"
#include "platform/SysUtils.h"

#include <QFile>
#include <QImage>
#include <QPainter>

namespace {

QColor ToQColor(TColor color) {
    return QColor(GetRValue(color), GetGValue(color), GetBValue(color));
}

QRect ToQRect(const TRect& rect) {
    return QRect(rect.Left, rect.Top, rect.Width(), rect.Height());
}

TRect ToTRect(const QRect& rect) {
    return Rect(rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height());
}

// The raster operation as a composition mode of the raster painter.
bool CompositionFor(DWORD rop, QPainter::CompositionMode& mode) {
    switch (rop) {
    case SRCCOPY:
        mode = QPainter::CompositionMode_Source;
        return true;
    case SRCAND:
        mode = QPainter::RasterOp_SourceAndDestination;
        return true;
    case SRCPAINT:
        mode = QPainter::RasterOp_SourceOrDestination;
        return true;
    default:
        return false;
    }
}

} // namespace

TCanvas::TCanvas(QImage& target) : image_(&target) {}

TCanvas::~TCanvas() = default;

QPainter& TCanvas::Painter() {
    if (!painter_) {
        painter_ = std::make_unique<QPainter>(image_);
        // Window-system drawing: whole pixels, no smoothing.
        painter_->setRenderHint(QPainter::Antialiasing, false);
        ApplyPen();
        ApplyBrush();
    }
    return *painter_;
}

void TCanvas::Release() {
    painter_.reset();
}

void TCanvas::ApplyPen() {
    // A flat cap leaves out the line's end point, as the window system's lines do.
    QPen pen(ToQColor(Pen.Color), Pen.Width < 1 ? 1 : Pen.Width, Qt::SolidLine, Qt::FlatCap,
             Qt::MiterJoin);
    if (painter_->pen() != pen)
        painter_->setPen(pen);
}

void TCanvas::ApplyBrush() {
    const QColor colour = ToQColor(Brush.Color);
    if (painter_->brush().color() != colour || painter_->brush().style() != Qt::SolidPattern)
        painter_->setBrush(colour);
}

void TCanvas::Changed(const TRect& rect) {
    if (!OnChange)
        return;
    const QRect clipped = ToQRect(rect) & image_->rect();
    if (!clipped.isEmpty())
        OnChange(ToTRect(clipped));
}

void TCanvas::MoveTo(int x, int y) {
    penX_ = x;
    penY_ = y;
}

void TCanvas::LineTo(int x, int y) {
    QPainter& p = Painter();
    ApplyPen();
    p.drawLine(penX_, penY_, x, y);
    const int reach = (Pen.Width < 1 ? 1 : Pen.Width) / 2 + 1;
    Changed(Rect(std::min(penX_, x) - reach, std::min(penY_, y) - reach,
                 std::max(penX_, x) + reach + 1, std::max(penY_, y) + reach + 1));
    penX_ = x;
    penY_ = y;
}

void TCanvas::Rectangle(int left, int top, int right, int bottom) {
    const TRect rect = Rect(left, top, right, bottom);
    if (rect.IsEmpty())
        return;
    QPainter& p = Painter();
    ApplyPen();
    ApplyBrush();
    // The pen's outline runs along the inside of the right and bottom edges.
    p.drawRect(left, top, rect.Width() - 1, rect.Height() - 1);
    Changed(rect);
}

void TCanvas::Ellipse(int left, int top, int right, int bottom) {
    const TRect rect = Rect(left, top, right, bottom);
    if (rect.IsEmpty())
        return;
    QPainter& p = Painter();
    ApplyPen();
    ApplyBrush();
    p.drawEllipse(left, top, rect.Width() - 1, rect.Height() - 1);
    Changed(rect);
}

void TCanvas::FillRect(const TRect& rect) {
    if (rect.IsEmpty())
        return;
    Painter().fillRect(ToQRect(rect), ToQColor(Brush.Color));
    Changed(rect);
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect) {
    QPainter::CompositionMode mode;
    if (dest.IsEmpty() || sourceRect.IsEmpty() || !CompositionFor(CopyMode, mode))
        return;
    // Drawing an image onto itself needs a copy of the part read.
    const QImage picture = &source == this ? image_->copy(ToQRect(sourceRect)) : QImage();
    QPainter& p = Painter();
    p.setCompositionMode(mode);
    if (picture.isNull())
        p.drawImage(ToQRect(dest), *source.image_, ToQRect(sourceRect));
    else
        p.drawImage(ToQRect(dest), picture);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    Changed(dest);
}

int TCanvas::Width() const {
    return image_->width();
}
int TCanvas::Height() const {
    return image_->height();
}

TColor TCanvas::Pixel(int x, int y) const {
    if (!image_->valid(x, y))
        return CLR_INVALID;
    const QRgb rgb = image_->pixel(x, y);
    return RGB(static_cast<BYTE>(qRed(rgb)), static_cast<BYTE>(qGreen(rgb)),
               static_cast<BYTE>(qBlue(rgb)));
}

void TCanvas::SetPixel(int x, int y, TColor color) {
    if (!image_->valid(x, y))
        return;
    // Through the open painter: writing to the image directly could detach its pixels from
    // the painter while a copy shares them.
    Painter().fillRect(x, y, 1, 1, ToQColor(color));
    Changed(Rect(x, y, x + 1, y + 1));
}

BOOL BitBlt(TCanvas& dest, int x, int y, int width, int height, TCanvas& source, int xSource,
            int ySource, DWORD rop) {
    QPainter::CompositionMode mode;
    if (!CompositionFor(rop, mode))
        return false;
    const QRect block = QRect(xSource, ySource, width, height) & source.image_->rect();
    if (block.isEmpty())
        return true;
    const QPoint to(x + block.x() - xSource, y + block.y() - ySource);
    const QImage copy = &source == &dest ? source.image_->copy(block) : QImage();
    QPainter& p = dest.Painter();
    p.setCompositionMode(mode);
    if (copy.isNull())
        p.drawImage(to, *source.image_, block);
    else
        p.drawImage(to, copy);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    dest.Changed(Rect(to.x(), to.y(), to.x() + block.width(), to.y() + block.height()));
    return true;
}

TBitmap::TBitmap() : TBitmap(0, 0) {}

TBitmap::TBitmap(int width, int height)
    : image_(std::make_unique<QImage>()), canvas_(std::make_unique<TCanvas>(*image_)) {
    SetSize(width, height);
}

TBitmap::~TBitmap() = default;

void TBitmap::LoadFromFile(const std::string& path) {
    if (path.rfind(":/", 0) == 0) { // a resource of the program, trusted
        QFile resource(QString::fromStdString(path));
        const QByteArray bytes =
            resource.open(QIODevice::ReadOnly) ? resource.readAll() : QByteArray();
        if (!Decode(bytes.constData(), static_cast<std::size_t>(bytes.size())))
            throw Exception("Cannot read the picture " + path);
        return;
    }
    TFileStream file(path, TFileStream::fmOpenRead); // regular files only
    const std::int64_t size = file.Size();
    if (size > kLargestPictureFile)
        throw Exception("Cannot read the picture " + path + ": " + std::to_string(size) +
                        " bytes is too large for a picture");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (file.Read(bytes.data(), size) != size || !Decode(bytes.data(), bytes.size()))
        throw Exception("Cannot read the picture " + path);
}

bool TBitmap::LoadFromMemory(const void* data, std::size_t size) {
    return Decode(data, size);
}

bool TBitmap::LoadFromResource(const std::string& name) {
    if (name.empty())
        return false;
    QFile file(QStringLiteral(":/bitmaps/") + QString::fromStdString(name));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    return Decode(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

namespace {

std::uint32_t LittleEndian(const uchar* p, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

// Whether a BMP's header describes a picture its bytes can hold: pixel rows that are there
// (or, packed with run lengths, at most 255 pixels per two bytes) and no more than 64 M
// pixels. Anything not a BMP is left to the decoder.
bool PlausibleBitmap(const uchar* bytes, std::size_t size) {
    if (size < 2 || bytes[0] != 'B' || bytes[1] != 'M')
        return true;
    if (size < 26)
        return false;
    const std::uint32_t headerSize = LittleEndian(bytes + 14, 4);
    std::int64_t width = 0, height = 0;
    std::uint32_t bits = 0, compression = 0;
    if (headerSize == 12) {
        width = LittleEndian(bytes + 18, 2);
        height = LittleEndian(bytes + 20, 2);
        bits = LittleEndian(bytes + 24, 2);
    } else {
        if (size < 34)
            return false;
        width = static_cast<std::int32_t>(LittleEndian(bytes + 18, 4));
        height = static_cast<std::int32_t>(LittleEndian(bytes + 22, 4));
        bits = LittleEndian(bytes + 28, 2);
        compression = LittleEndian(bytes + 30, 4);
    }
    height = height < 0 ? -height : height;
    constexpr std::int64_t kMostPixels = std::int64_t{1} << 26;
    if (width <= 0 || height <= 0 || width > kMostPixels / height)
        return false;
    const std::uint32_t offBits = LittleEndian(bytes + 10, 4);
    const auto data = static_cast<std::int64_t>(size) - std::min<std::int64_t>(offBits, size);
    if (compression == 1 || compression == 2) // RLE8, RLE4
        return width * height <= 128 * std::max<std::int64_t>(data, 2);
    if (compression != 0 && compression != 3) // JPEG or PNG inside: the decoder's own limits
        return true;
    const std::int64_t row = (width * bits + 31) / 32 * 4;
    return row * (height - 1) + (width * bits + 7) / 8 <= data;
}

} // namespace

bool TBitmap::Decode(const void* data, std::size_t size) {
    QImage picture;
    if (size > 0x7FFFFFFF || !PlausibleBitmap(static_cast<const uchar*>(data), size) ||
        !picture.loadFromData(static_cast<const uchar*>(data), static_cast<int>(size)))
        return false;
    const auto* bytes = static_cast<const uchar*>(data);
    int bits = picture.depth();
    // A BMP's own depth: Qt hands 16- and 24-bit files over as 32-bit pictures.
    if (size >= 30 && bytes[0] == 'B' && bytes[1] == 'M') {
        const std::uint32_t headerSize = bytes[14] | (bytes[15] << 8) | (bytes[16] << 16) |
                                         (static_cast<std::uint32_t>(bytes[17]) << 24);
        const std::size_t at = headerSize == 12 ? 24 : 28;
        bits = bytes[at] | (bytes[at + 1] << 8);
    }
    std::vector<DWORD> table;
    for (const QRgb entry : picture.colorTable())
        table.push_back(static_cast<DWORD>(entry) & 0xFFFFFF);
    Assign(picture);
    bitsPerPixel_ = bits;
    colorTable_ = std::move(table);
    return true;
}

void TBitmap::Assign(const QImage& picture) {
    canvas_->Release();
    *image_ = picture.convertToFormat(QImage::Format_RGB32);
    bitsPerPixel_ = 32;
    colorTable_.clear();
}

void TBitmap::SetSize(int width, int height) {
    canvas_->Release();
    bitsPerPixel_ = 32;
    colorTable_.clear();
    if (width <= 0 || height <= 0) {
        *image_ = QImage();
        return;
    }
    *image_ = QImage(width, height, QImage::Format_RGB32);
    image_->fill(Qt::black);
}

int TBitmap::Width() const {
    return image_->width();
}
int TBitmap::Height() const {
    return image_->height();
}
