#pragma once
// Drawing in the forms library's terms: colours as 0x00BBGGRR values, a canvas with a pen and
// a brush over Qt's raster painter, bitmaps over QImage, and block transfers with raster
// operations. The header is Qt-free so the layers below the windows can draw too; the few
// Qt-side accessors take forward-declared Qt types.
#include "platform/PixelBlock.h"
#include "platform/WinTypes.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QImage;
class QPainter;
class TLivePicture;

// A colour value 0x00BBGGRR.
using TColor = DWORD;

constexpr TColor RGB(BYTE red, BYTE green, BYTE blue) {
    return TColor{red} | (TColor{green} << 8) | (TColor{blue} << 16);
}
constexpr BYTE GetRValue(TColor color) {
    return static_cast<BYTE>(color);
}
constexpr BYTE GetGValue(TColor color) {
    return static_cast<BYTE>(color >> 8);
}
constexpr BYTE GetBValue(TColor color) {
    return static_cast<BYTE>(color >> 16);
}

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
// What a pixel read outside the picture gives.
constexpr TColor CLR_INVALID = 0xFFFFFFFF;

// Raster operations of the block transfer: destination := source, source AND destination,
// source OR destination.
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCPAINT = 0x00EE0086;

// A rectangle whose right and bottom edges are outside it.
struct TRect {
    LONG Left = 0;
    LONG Top = 0;
    LONG Right = 0;
    LONG Bottom = 0;
    LONG Width() const { return Right - Left; }
    LONG Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

constexpr TRect Rect(LONG left, LONG top, LONG right, LONG bottom) {
    return TRect{left, top, right, bottom};
}

struct TPen {
    TColor Color = clBlack;
    int Width = 1;
};

struct TBrush {
    TColor Color = clWhite;
};

// Draws on an image with the pen and brush as they are at each call. Coordinates follow the
// window system: a shape's right and bottom edges lie outside it, a line leaves out its end
// point. On a 32-bit picture, fills, 1-pixel axis-aligned lines and outlines and same-size
// block transfers write the pixels directly, exactly as the painter would draw them; ellipses
// are rasterised at every call from their box and pen, their edges within a pixel of the
// painter's and the same inside. The rest goes to the painter, which stays open between calls.
// Nothing drawn is remembered from one call to the next.
class TCanvas {
public:
    // The image must outlive the canvas and be a 32-bit RGB image.
    explicit TCanvas(QImage& target);
    ~TCanvas();
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    TPen Pen;
    TBrush Brush;
    // The raster operation of CopyRect.
    DWORD CopyMode = SRCCOPY;
    // Called after every drawing call with the pixels it may have changed (clipped to the
    // picture), e.g. to show them on the screen at once.
    std::function<void(const TRect&)> OnChange;
    // The live picture the image is, when another thread reads it between calls: every drawing
    // call is one of its writes (TLivePicture::Write), which reports the pixels the call may
    // have changed before the reader can read them.
    TLivePicture* Live = nullptr;

    void MoveTo(int x, int y);
    // A line from the pen position to (x, y) without its right or bottom end point (the end
    // point of a line drawn rightwards or downwards); the pen position moves there.
    void LineTo(int x, int y);
    // Outlined with the pen, filled with the brush.
    void Rectangle(int left, int top, int right, int bottom);
    void Ellipse(int left, int top, int right, int bottom);
    // Filled with the brush, no outline.
    void FillRect(const TRect& rect);
    // Copies (stretching where the sizes differ) with CopyMode.
    void CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect);

    int Width() const;
    int Height() const;
    // CLR_INVALID outside the picture.
    TColor Pixel(int x, int y) const;
    void SetPixel(int x, int y, TColor color);

    QImage& Image() { return *image_; }
    const QImage& Image() const { return *image_; }
    // Closes the painter so the image may be replaced or resized; the next call reopens it.
    void Release();

    // The pixels of a picture a canvas may write directly: 32-bit rows.
    struct Raster : PixelBlock {
        // Row y as 32-bit pixels.
        std::uint32_t* Row(int y) const { return Pixels<std::uint32_t>(y); }
    };

private:
    friend BOOL BitBlt(TCanvas&, int, int, int, int, TCanvas&, int, int, DWORD);
    QPainter& Painter();
    void ApplyPen();
    void ApplyBrush();
    // One drawing call that may change `area`: `direct` writes the pixels itself (given the
    // picture's raster when it is 32-bit RGB; it returns false to leave them to the painter),
    // else `paint` draws with the painter. The write is the live picture's when there is one;
    // OnChange learns `area` clipped to the picture afterwards.
    template <typename WriteDirect, typename Paint>
    void Draw(const TRect& area, WriteDirect&& direct, Paint&& paint);
    // False when the picture is not 32-bit RGB; detaching the pixels closes the painter.
    bool Direct(Raster& raster);
    bool SolidPen() const { return Pen.Width <= 1; }
    // The pixels a shape outlined with the pen in the box may change.
    TRect Outlined(const TRect& box) const;

    QImage* image_;
    std::unique_ptr<QPainter> painter_;
    const void* painterBits_ = nullptr;
    int penX_ = 0;
    int penY_ = 0;
};

// Copies a width × height block from (xSource, ySource) on the source canvas to (x, y) on the
// destination, combined by the raster operation (SRCCOPY, SRCAND or SRCPAINT). Only the part
// of the block that lies inside the source picture is transferred; destination pixels whose
// source lies outside it stay as they were. Returns 0 for another operation.
BOOL BitBlt(TCanvas& dest, int x, int y, int width, int height, TCanvas& source, int xSource,
            int ySource, DWORD rop);

// A picture in memory with its canvas. Pictures are held as 32-bit RGB whatever their file's
// depth, so every canvas operation and raster operation works on them the same way.
// The largest picture file read: the program's pictures are a few hundred kilobytes, and a
// 4096 x 4096 picture at 24 bits is 48 MiB.
inline constexpr std::int64_t kLargestPictureFile = std::int64_t{64} << 20;

class TBitmap {
public:
    TBitmap();
    TBitmap(int width, int height); // black
    ~TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    // Reads a BMP or PNG file (or a Qt resource path); raises Exception when it cannot, also
    // for anything but a regular file and a file above kLargestPictureFile.
    void LoadFromFile(const std::string& path);
    // Decodes a BMP or PNG held in memory; false (picture unchanged) when it cannot, also for
    // a BMP whose header claims more pixels than its bytes can hold.
    bool LoadFromMemory(const void* data, std::size_t size);
    // Takes a copy of the picture, converted to 32-bit RGB.
    void Assign(const QImage& picture);
    // A new size; the content is lost and the picture is black.
    void SetSize(int width, int height);

    // A bitmap resource of the program: the Qt resource ":/bitmaps/" + name. False (picture
    // unchanged) when there is none or it cannot be decoded.
    bool LoadFromResource(const std::string& name);

    int Width() const;
    int Height() const;
    bool Empty() const { return Width() == 0 || Height() == 0; }
    // The depth the picture's file stored it in (a BMP's own bits per pixel), 32 for a picture
    // made or assigned here.
    int BitsPerPixel() const { return bitsPerPixel_; }
    // The file's colour table as 0x00RRGGBB values; empty when the file had none.
    const std::vector<DWORD>& ColorTable() const { return colorTable_; }
    TCanvas& Canvas() { return *canvas_; }
    QImage& Image() { return *image_; }
    const QImage& Image() const { return *image_; }

private:
    bool Decode(const void* data, std::size_t size);
    std::unique_ptr<QImage> image_;
    std::unique_ptr<TCanvas> canvas_;
    int bitsPerPixel_ = 32;
    std::vector<DWORD> colorTable_;
};
