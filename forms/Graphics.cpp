#include "Graphics.h"

#include "Windows.h"
#include "platform/BitmapHeader.h"
#include "platform/Classes.h"
#include "platform/Processor.h"
#include "platform/SysUtils.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

namespace {

std::uint32_t Pixel32(TColor color) {
    return 0xFF000000u | std::uint32_t{GetRValue(color)} << 16 |
           std::uint32_t{GetGValue(color)} << 8 | GetBValue(color);
}

#if defined(__x86_64__)
// Rows of a block in 32-byte stores, aligned but for the first and the last of each row (which
// may overlap the others).
__attribute__((target("avx2"))) void FillBlockWide(std::uint32_t* row, std::ptrdiff_t stride,
                                                   int count, int rows, std::uint32_t value) {
    const __m256i v = _mm256_set1_epi32(static_cast<int>(value));
    for (; rows > 0; --rows, row += stride) {
        std::uint32_t* const end = row + count;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(row), v);
        auto* at = reinterpret_cast<std::uint32_t*>((reinterpret_cast<std::uintptr_t>(row) + 32) &
                                                    ~std::uintptr_t{31});
        for (; at + 8 <= end; at += 8)
            _mm256_store_si256(reinterpret_cast<__m256i*>(at), v);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(end - 8), v);
    }
}
#endif

// Filling is bound by how fast the processor stores: the widest stores it has, chosen once per
// block, not per row.
void FillBlock(std::uint32_t* row, std::ptrdiff_t stride, int count, int rows,
               std::uint32_t value) {
#if defined(__x86_64__)
    if (count >= 8 && WideVectorsInUse()) {
        FillBlockWide(row, stride, count, rows, value);
        return;
    }
#endif
    for (; rows > 0; --rows, row += stride)
        std::fill_n(row, count, value);
}

// Row [from, to) of y set to the value, clipped to the picture.
void Span(const TCanvas::Raster& r, int y, int from, int to, std::uint32_t value) {
    if (y < 0 || y >= r.height)
        return;
    from = std::max(from, 0);
    to = std::min(to, r.width);
    if (from < to)
        FillBlock(r.Row(y) + from, 0, to - from, 1, value);
}

// The rectangle clipped to the picture once, then filled as one block.
void Fill(const TCanvas::Raster& r, const TRect& rect, std::uint32_t value) {
    const int top = std::max<int>(rect.Top, 0), bottom = std::min<int>(rect.Bottom, r.height);
    const int left = std::max<int>(rect.Left, 0), right = std::min<int>(rect.Right, r.width);
    if (top < bottom && left < right)
        FillBlock(r.Row(top) + left, r.pitch / 4, right - left, bottom - top, value);
}

// Rows of a block combined by a raster operation: the rows may not overlap.
void CombineRows(const TCanvas::Raster& to, QPoint at, const TCanvas::Raster& from, QRect block,
                 DWORD rop) {
    const int width = block.width();
    for (int row = 0; row < block.height(); ++row) {
        std::uint32_t* __restrict d = to.Row(at.y() + row) + at.x();
        const std::uint32_t* __restrict s = from.Row(block.y() + row) + block.x();
        switch (rop) {
        case SRCCOPY:
            std::memcpy(d, s, std::size_t(width) * sizeof *d);
            break;
        case SRCAND:
            for (int i = 0; i < width; ++i)
                d[i] &= s[i];
            break;
        case SRCPAINT:
            for (int i = 0; i < width; ++i)
                d[i] |= s[i];
            break;
        }
    }
}

// `block` of the source at `at` of the destination, both cut to what lies inside the
// destination; false when nothing does.
bool ClipToDestination(const TCanvas::Raster& dest, QPoint& at, QRect& block) {
    const QRect target = QRect(at, block.size()) & QRect(0, 0, dest.width, dest.height);
    if (target.isEmpty())
        return false;
    block = QRect(block.topLeft() + (target.topLeft() - at), target.size());
    at = target.topLeft();
    return true;
}

// The rows of an ellipse from its centre outwards, in doubled coordinates (the centre at 0, v
// growing by 2 a row): each row's widest half-span u, of the parity it starts with, the
// largest with u² b² + v² a² <= a² b² (below 0 when there is none). Kept as the midpoint
// algorithm keeps it: the equation's value and its steps updated by additions alone as u
// falls and v grows. Value holds a² b² and more: 64 bits for boxes up to 2^15.
template <typename Value> class EllipseRows {
public:
    EllipseRows(std::int64_t a, std::int64_t b, std::int64_t u, std::int64_t v)
        : u_(u), a2_(Value(a) * a), b2_(Value(b) * b) {
        f_ = Value(u) * u * b2_ + Value(v) * v * a2_ - a2_ * b2_;
        uStep_ = b2_ * (4 - 4 * u); // (u - 2)² - u², times b²
        vStep_ = a2_ * (4 * v + 4); // (v + 2)² - v², times a²
    }
    // The current row's half-span (below 0 when nothing of the row is inside); then the next.
    std::int64_t Next() {
        while (u_ >= 0 && f_ > 0) {
            f_ += uStep_;
            uStep_ += 8 * b2_;
            u_ -= 2;
        }
        f_ += vStep_;
        vStep_ += 8 * a2_;
        return u_;
    }

private:
    std::int64_t u_;
    Value a2_, b2_, f_, uStep_, vStep_;
};

// An ellipse filling the box, outlined with a pen of width `pen` along the inside of the box's
// right and bottom edges as the painter's is, computed row by row at every call in doubled
// integer coordinates (the box's centre at 0) and written as spans of outline and inside.
// The pen covers the path through the centres of the box's outer pixels by half its width
// each side: a pixel is inside when its centre is. The brush fills what a wider pen leaves
// inside; a 1-pixel pen's outline is what has no neighbour inside above, below or beside it,
// as the painter's thin outline is. A 1 x 1 box, a path of no length, draws nothing, as the
// painter's does.
template <typename Value>
void FillEllipse(const TCanvas::Raster& r, const TRect& box, int pen, std::uint32_t penValue,
                 std::uint32_t brushValue) {
    const std::int64_t w = std::int64_t(box.Width()) - 1, h = std::int64_t(box.Height()) - 1;
    const std::int64_t reach = pen / 2 + 1;
    if (box.Right + reach <= 0 || box.Bottom + reach <= 0 || box.Left - reach >= r.width ||
        box.Top - reach >= r.height)
        return;
    const bool thin = pen <= 1;
    if (w == 0 && h == 0)
        return;
    const std::int64_t v0 = h & 1; // v has the parity of h, u that of w
    // The largest half-span of the parity of w not above `limit`.
    const auto widest = [w](std::int64_t limit) { return limit - ((limit - w) & 1); };
    EllipseRows<Value> outer(w + pen, h + pen, widest(w + pen), v0);
    const std::int64_t innerA = std::max<std::int64_t>(w - pen, 0),
                       innerB = std::max<std::int64_t>(h - pen, 0);
    EllipseRows<Value> inner(innerA, innerB, widest(innerA), v0);
    const bool hollow = !thin && (w < pen || h < pen);
    const std::int64_t lastV = h + pen; // rows beyond have nothing
    const auto clamp = [&r](std::int64_t x) {
        return int(std::clamp<std::int64_t>(x, 0, std::int64_t(r.width)));
    };
    // The first column of half-span u and the column after its last, clipped.
    const auto first = [&](std::int64_t u) { return clamp(box.Left - (u - w) / 2); };
    const auto end = [&](std::int64_t u) { return clamp(box.Left + (u + w) / 2 + 1); };
    // Columns [from, to) of a row, clipped already: a few pixels stored one by one.
    const auto store = [](std::uint32_t* row, int from, int to, std::uint32_t value) {
        if (to - from >= 8)
            FillBlock(row + from, 0, to - from, 1, value);
        else
            for (int x = from; x < to; ++x)
                row[x] = value;
    };
    // Rows v and -v: the outline out to half-span `outside`, the brush within `inside` (none
    // below 0).
    const auto rows = [&](std::int64_t v, std::int64_t outside, std::int64_t inside) {
        const int from = first(outside), to = end(outside);
        const int in = inside >= 0 ? first(inside) : to, out = inside >= 0 ? end(inside) : to;
        const auto draw = [&](std::int64_t y) {
            if (y < 0 || y >= r.height)
                return;
            std::uint32_t* row = r.Row(int(y));
            store(row, from, in, penValue);
            store(row, in, out, brushValue);
            store(row, out, to, penValue);
        };
        draw(box.Top + (h + v) / 2);
        if (v != 0)
            draw(box.Top + (h - v) / 2);
    };
    std::int64_t v = v0, outside = outer.Next();
    std::int64_t inside = thin || hollow ? -1 : inner.Next();
    while (v <= lastV && outside >= 0) {
        const std::int64_t nextOutside = v + 2 <= lastV ? outer.Next() : -1;
        if (thin)
            inside = std::min(outside - 2, nextOutside);
        rows(v, outside, inside);
        v += 2;
        outside = nextOutside;
        if (!thin && !hollow)
            inside = inner.Next();
    }
}

} // namespace

TCanvas::TCanvas(QImage& target) : image_(&target) {}

TCanvas::~TCanvas() = default;

QPainter& TCanvas::Painter() {
    if (painter_ && painterBits_ != image_->constBits())
        painter_.reset(); // the pixels were detached under the painter
    if (!painter_) {
        painter_ = std::make_unique<QPainter>(image_);
        painterBits_ = image_->constBits();
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

template <typename WriteDirect, typename Paint>
void TCanvas::Draw(const TRect& area, WriteDirect&& direct, Paint&& paint) {
    const QRect clipped = ToQRect(area) & image_->rect();
    if (Live && !image_->isDetached()) {
        // A copy shares the picture: the first write would move it to memory of its own, away
        // from what the live picture reads (and the copy may free). It moves here, published.
        painter_.reset();
        Live->Replace([this] {
            image_->detach();
            return TPixelView{
                {image_->constBits(), image_->bytesPerLine(), image_->width(), image_->height()},
                TPixelLayout::XRGB8888,
                nullptr};
        });
    }
    const auto write = [&] {
        Raster r;
        if (!Direct(r) || !direct(static_cast<const Raster&>(r)))
            paint(Painter());
    };
    if (Live)
        Live->Write(RECT{clipped.left(), clipped.top(), clipped.left() + clipped.width(),
                         clipped.top() + clipped.height()},
                    write);
    else
        write();
    if (OnChange && !clipped.isEmpty())
        OnChange(ToTRect(clipped));
}

bool TCanvas::Direct(Raster& raster) {
    if (image_->format() != QImage::Format_RGB32 || image_->isNull())
        return false;
    raster.bits = image_->bits(); // detaches a shared picture
    if (painter_ && painterBits_ != raster.bits)
        painter_.reset();
    raster.pitch = image_->bytesPerLine();
    raster.width = image_->width();
    raster.height = image_->height();
    return true;
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

TRect TCanvas::Outlined(const TRect& box) const {
    // A wide pen's outline is centred on the path through the box's outer pixels.
    const int grow = Pen.Width > 1 ? Pen.Width / 2 + 1 : 0;
    return Rect(box.Left - grow, box.Top - grow, box.Right + grow, box.Bottom + grow);
}

void TCanvas::MoveTo(int x, int y) {
    penX_ = x;
    penY_ = y;
}

void TCanvas::LineTo(int x, int y) {
    const int reach = (Pen.Width < 1 ? 1 : Pen.Width) / 2 + 1;
    const TRect area = Rect(std::min(penX_, x) - reach, std::min(penY_, y) - reach,
                            std::max(penX_, x) + reach + 1, std::max(penY_, y) + reach + 1);
    const bool straight = SolidPen() && (y == penY_) != (x == penX_);
    Draw(
        area,
        [&](const Raster& r) {
            if (!straight)
                return false;
            // The painter's pixels: from the lower coordinate up to the higher, which is left
            // out whichever way the line runs.
            const std::uint32_t value = Pixel32(Pen.Color);
            if (y == penY_) {
                Span(r, y, std::min(penX_, x), std::max(penX_, x), value);
            } else if (x >= 0 && x < r.width) {
                const int from = std::min(penY_, y), to = std::max(penY_, y);
                for (int row = std::max(from, 0); row < std::min(to, r.height); ++row)
                    r.Row(row)[x] = value;
            }
            return true;
        },
        [&](QPainter& p) {
            ApplyPen();
            p.drawLine(penX_, penY_, x, y);
        });
    penX_ = x;
    penY_ = y;
}

void TCanvas::Rectangle(int left, int top, int right, int bottom) {
    const TRect rect = Rect(left, top, right, bottom);
    if (rect.IsEmpty())
        return;
    Draw(
        Outlined(rect),
        [&](const Raster& r) {
            // Inside the picture only: the painter leaves out a corner of an outline it clips.
            if (!SolidPen() || rect.Width() < 2 || rect.Height() < 2 || left < 0 || top < 0 ||
                right > r.width || bottom > r.height)
                return false;
            // The outline on the rectangle's outermost pixels, the brush inside.
            const std::uint32_t pen = Pixel32(Pen.Color);
            Span(r, top, left, right, pen);
            Span(r, bottom - 1, left, right, pen);
            for (int y = std::max(top + 1, 0); y < std::min(bottom - 1, r.height); ++y) {
                Span(r, y, left, left + 1, pen);
                Span(r, y, left + 1, right - 1, Pixel32(Brush.Color));
                Span(r, y, right - 1, right, pen);
            }
            return true;
        },
        [&](QPainter& p) {
            ApplyPen();
            ApplyBrush();
            // The pen's outline runs along the inside of the right and bottom edges.
            p.drawRect(left, top, rect.Width() - 1, rect.Height() - 1);
        });
}

void TCanvas::Ellipse(int left, int top, int right, int bottom) {
    const TRect rect = Rect(left, top, right, bottom);
    if (rect.IsEmpty())
        return;
    Draw(
        Outlined(rect),
        [&](const Raster& r) {
            // Boxes past a million pixels (never on a screen) are left to the painter.
            constexpr LONG kLargest = 1 << 20;
            if (rect.Width() > kLargest || rect.Height() > kLargest)
                return false;
            const int pen = Pen.Width < 1 ? 1 : Pen.Width;
            const auto fill = std::max<std::int64_t>(rect.Width(), rect.Height()) + pen < (1 << 15)
                                  ? FillEllipse<std::int64_t>
                                  : FillEllipse<__int128>;
            fill(r, rect, pen, Pixel32(Pen.Color), Pixel32(Brush.Color));
            return true;
        },
        [&](QPainter& p) {
            ApplyPen();
            ApplyBrush();
            p.drawEllipse(left, top, rect.Width() - 1, rect.Height() - 1);
        });
}

void TCanvas::FillRect(const TRect& rect) {
    if (rect.IsEmpty())
        return;
    Draw(
        rect,
        [&](const Raster& r) {
            Fill(r, rect, Pixel32(Brush.Color));
            return true;
        },
        [&](QPainter& p) { p.fillRect(ToQRect(rect), ToQColor(Brush.Color)); });
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect) {
    QPainter::CompositionMode mode;
    if (dest.IsEmpty() || sourceRect.IsEmpty() || !CompositionFor(CopyMode, mode))
        return;
    if (dest.Width() == sourceRect.Width() && dest.Height() == sourceRect.Height()) {
        BitBlt(*this, dest.Left, dest.Top, dest.Width(), dest.Height(), source, sourceRect.Left,
               sourceRect.Top, CopyMode);
        return;
    }
    // Stretched: the painter's.
    Draw(
        dest, [](const Raster&) { return false; },
        [&](QPainter& p) {
            // Drawing an image onto itself needs a copy of the part read.
            const QImage picture = &source == this ? image_->copy(ToQRect(sourceRect)) : QImage();
            p.setCompositionMode(mode);
            if (picture.isNull())
                p.drawImage(ToQRect(dest), *source.image_, ToQRect(sourceRect));
            else
                p.drawImage(ToQRect(dest), picture);
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        });
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
    Draw(
        Rect(x, y, x + 1, y + 1),
        [&](const Raster& r) {
            r.Row(y)[x] = Pixel32(color);
            return true;
        },
        [&](QPainter& p) { p.fillRect(x, y, 1, 1, ToQColor(color)); });
}

BOOL BitBlt(TCanvas& dest, int x, int y, int width, int height, TCanvas& source, int xSource,
            int ySource, DWORD rop) {
    QPainter::CompositionMode mode;
    if (!CompositionFor(rop, mode))
        return false;
    QRect block = QRect(xSource, ySource, width, height) & source.image_->rect();
    if (block.isEmpty())
        return true;
    QPoint to(x + block.x() - xSource, y + block.y() - ySource);
    dest.Draw(
        Rect(to.x(), to.y(), to.x() + block.width(), to.y() + block.height()),
        [&](const TCanvas::Raster& into) {
            TCanvas::Raster from;
            if (&source == &dest || !source.Direct(from))
                return false;
            if (ClipToDestination(into, to, block))
                CombineRows(into, to, from, block, rop);
            return true;
        },
        [&](QPainter& p) {
            const QImage copy = &source == &dest ? source.image_->copy(block) : QImage();
            p.setCompositionMode(mode);
            if (copy.isNull())
                p.drawImage(to, *source.image_, block);
            else
                p.drawImage(to, copy);
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        });
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

// Whether a BMP's header describes a picture its bytes can hold: pixel rows that are there
// (or, packed with run lengths, at most 255 pixels per two bytes) and no more than 64 M
// pixels. Anything not a BMP is left to the decoder.
bool PlausibleBitmap(const uchar* bytes, std::size_t size) {
    if (!IsBitmapFile(bytes, size))
        return true;
    const std::optional<BitmapHeader> header = ReadBitmapHeader(bytes, size);
    if (!header)
        return false;
    const std::int64_t width = header->width;
    const std::int64_t height = std::abs(std::int64_t{header->height});
    const std::int64_t bits = header->bitCount;
    const std::uint32_t compression = header->compression;
    constexpr std::int64_t kMostPixels = std::int64_t{1} << 26;
    if (width <= 0 || height <= 0 || width > kMostPixels / height)
        return false;
    const auto data =
        static_cast<std::int64_t>(size) - std::min<std::int64_t>(header->offBits, size);
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
    if (const std::optional<BitmapHeader> header = ReadBitmapHeader(bytes, size))
        bits = header->bitCount;
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
