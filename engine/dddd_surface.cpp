// Surfaces: the wrapper of any DirectDraw surface, the application's off-screen surfaces, the
// BMP loader, pixel access, clipped copies onto the back buffer, and the device-context canvas.
#include "DArc.h"
#include "dddd.h"
#include "dddd_private.h"
#include "forms/Graphics.h"
#include "platform/BitmapHeader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

using dddd::ClipFast;
using dddd::ClipScaled;
using dddd::FreshDesc;

namespace {

void Normalise(RECT& r) {
    if (r.bottom < r.top)
        std::swap(r.top, r.bottom);
    if (r.right < r.left)
        std::swap(r.left, r.right);
}

RECT ClipOf(const TDDDDGenSurface& dest) {
    if (dest.UseClipRect)
        return dest.ClipRect;
    return RECT{0, 0, dest.Width, dest.Height};
}

bool ReadAll(TStream& stream, void* buffer, std::int64_t count) {
    return stream.Read(buffer, count) == count;
}

} // namespace

// ---- TDDDDGenSurface ----

TDDDDGenSurface::TDDDDGenSurface(TDDDD* engine, IDirectDrawSurface* surface, int width, int height)
    : Surface(surface), Width(width), Height(height), Engine(engine) {
    Desc.dwSize = sizeof(DDSURFACEDESC);
    Desc.dwFlags = DDSD_ALL;
}

void TDDDDGenSurface::LoadFromFile(const std::string& fileName) {
    std::unique_ptr<TFileStream> stream;
    try {
        stream = std::make_unique<TFileStream>(fileName, TFileStream::fmOpenRead);
    } catch (const Exception&) {
        WriteDebugLog(fileName + "が、見つかりません");
        return;
    }
    LoadFromStream(*stream);
}

void TDDDDGenSurface::LoadFromArchive(const std::string& archiveName,
                                      const std::string& entryName) {
    std::unique_ptr<TMemoryStream> stream;
    try {
        stream = OpenArchiveEntry(archiveName, entryName);
    } catch (const Exception&) {
        WriteDebugLog("アーカイブからのビットマップの読み取りに失敗しました");
        return;
    }
    LoadFromStream(*stream);
}

void TDDDDGenSurface::LoadFromStream(TStream& stream) {
    // A picture too large for the memory left ends this load, not the program.
    try {
        LoadBitmap(stream);
    } catch (const std::bad_alloc&) {
        WriteDebugLog("ビットマップの読みこみ中に、エラーが発生しました");
    }
}

void TDDDDGenSurface::LoadBitmap(TStream& stream) {
    if (IsLost())
        return;
    BYTE headers[kBitmapHeadersSize];
    if (!ReadAll(stream, headers, kBitmapFileHeaderSize)) {
        WriteDebugLog("ビットマップの読みこみ中に、エラーが発生しました");
        return;
    }
    if (!IsBitmapFile(headers, kBitmapFileHeaderSize)) {
        WriteDebugLog("おかしなBMPファイルです");
        return;
    }
    if (!ReadAll(stream, headers + kBitmapFileHeaderSize,
                 kBitmapHeadersSize - kBitmapFileHeaderSize)) {
        WriteDebugLog("LoadBMP中に、読み込みエラーが発生しました");
        return;
    }
    const int bytesPerPixel = Engine->GetDesktopBitCount() / 8;
    const std::optional<BitmapHeader> header = ReadBitmapHeader(headers, sizeof headers);
    if (header && header->bitCount == 8 && bytesPerPixel == 1) {
        LoadDirect8(stream, header->offBits, header->width, header->height);
        return;
    }
    LoadDecoded(stream);
}

void TDDDDGenSurface::LoadDirect8(TStream& stream, std::int64_t bitsOffset, std::int32_t width,
                                  std::int32_t height) {
    std::vector<BYTE> colourTable(1024);
    if (!ReadAll(stream, colourTable.data(), 1024)) {
        WriteDebugLog("LoadBMP中に、読み込みエラーが発生しました");
        return;
    }
    stream.Seek(bitsOffset, TSeekOrigin::soBeginning);
    const std::int64_t rowLength = (std::int64_t{width} + 3) / 4 * 4;
    // The row buffer is sized from the header: the file must hold at least one such row.
    if (width < 0 || bitsOffset > stream.Size() || rowLength > stream.Size() - bitsOffset) {
        WriteDebugLog("LoadBMP中に、読み込みエラーが発生しました");
        return;
    }
    std::vector<BYTE> row(static_cast<std::size_t>(rowLength));
    DDSURFACEDESC desc = FreshDesc();
    CheckResult(Surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr),
                "LoadBMP中にサーフェスがロックできませんでした");
    const std::int64_t copyLength = std::min<std::int64_t>(rowLength, desc.lPitch);
    const std::int64_t rows = std::min<std::int64_t>(desc.dwHeight, height);
    BYTE* dest = static_cast<BYTE*>(desc.lpSurface) +
                 (static_cast<std::int64_t>(desc.dwHeight) - 1) * desc.lPitch;
    for (std::int64_t i = 0; i < rows; ++i, dest -= desc.lPitch) {
        if (!ReadAll(stream, row.data(), rowLength)) {
            // The row buffer goes with its vector; the lock must not outlive the load.
            Surface->Unlock(nullptr);
            WriteDebugLog("LoadBMP中に、読み込みエラーが発生しました");
            return;
        }
        std::memcpy(dest, row.data(), static_cast<std::size_t>(copyLength));
    }
    CheckResult(Surface->Unlock(nullptr), "LoadBMP中にサーフェスがアンロックできませんでした");
}

void TDDDDGenSurface::LoadDecoded(TStream& stream) {
    stream.Seek(0, TSeekOrigin::soBeginning);
    const std::int64_t size = stream.Size();
    if (size > kLargestPictureFile) {
        WriteDebugLog("不正なビットマップです");
        return;
    }
    std::vector<BYTE> bytes(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
    TBitmap bitmap;
    if (!ReadAll(stream, bytes.data(), size) ||
        !bitmap.LoadFromMemory(bytes.data(), bytes.size())) {
        WriteDebugLog("不正なビットマップです");
        return;
    }
    TDDDDCanvas canvas(*this);
    if (TCanvas* target = canvas.Handle())
        target->CopyRect(Rect(0, 0, Width, Height), bitmap.Canvas(),
                         Rect(0, 0, bitmap.Width(), bitmap.Height()));
}

void TDDDDGenSurface::Lock(DDSURFACEDESC& desc) {
    CheckResult(Surface->Lock(nullptr, &Desc, DDLOCK_WAIT, nullptr),
                "サーフェスがロックできません");
    Locked = true;
    LockedDesc = Desc;
    desc = Desc;
}

void TDDDDGenSurface::Unlock() {
    CheckResult(Surface->Unlock(nullptr), "サーフェスのアンロックに失敗しました");
    Locked = false;
}

void TDDDDGenSurface::GetSurfaceDesc(DDSURFACEDESC& desc) {
    Desc = FreshDesc();
    CheckResult(Surface->GetSurfaceDesc(&Desc), "サーフェス情報の取得に失敗しました");
    desc = Desc;
}

bool TDDDDGenSurface::IsLost() {
    return Surface->IsLost() != DD_OK;
}

void TDDDDGenSurface::RestoreIfLost() {
    if (IsLost())
        Surface->Restore();
}

DWORD TDDDDGenSurface::GetPixel(int x, int y) {
    if (x < 0 || x >= Width || y < 0 || y >= Height) {
        WriteDebugLog("サーフェス外のピクセルを参照しようとしました");
        return 0;
    }
    DDSURFACEDESC own = FreshDesc();
    const DDSURFACEDESC* desc = &LockedDesc;
    if (!Locked) {
        if (Surface->Lock(nullptr, &own, DDLOCK_WAIT | DDLOCK_READONLY, nullptr) != DD_OK)
            return 0;
        desc = &own;
    }
    const int bytes = static_cast<int>(desc->ddpfPixelFormat.dwRGBBitCount / 8);
    const BYTE* p = static_cast<const BYTE*>(desc->lpSurface) +
                    static_cast<std::int64_t>(y) * desc->lPitch + std::int64_t{x} * bytes;
    DWORD value = 0;
    if (bytes >= 1 && bytes <= 4)
        std::memcpy(&value, p, static_cast<std::size_t>(bytes));
    if (!Locked)
        Surface->Unlock(nullptr);
    return value;
}

void TDDDDGenSurface::SetPixel(int x, int y, DWORD value) {
    if (x < 0 || x >= Width || y < 0 || y >= Height) {
        WriteDebugLog("サーフェス外のピクセルを変更しようとしました");
        return;
    }
    DDSURFACEDESC own = FreshDesc();
    const DDSURFACEDESC* desc = &LockedDesc;
    if (!Locked) {
        if (Surface->Lock(nullptr, &own, DDLOCK_WAIT, nullptr) != DD_OK)
            return;
        desc = &own;
    }
    const int bytes = static_cast<int>(desc->ddpfPixelFormat.dwRGBBitCount / 8);
    BYTE* p = static_cast<BYTE*>(desc->lpSurface) + static_cast<std::int64_t>(y) * desc->lPitch +
              std::int64_t{x} * bytes;
    if (bytes >= 1 && bytes <= 4)
        std::memcpy(p, &value, static_cast<std::size_t>(bytes));
    if (!Locked)
        Surface->Unlock(nullptr);
}

HRESULT TDDDDGenSurface::Draw(const RECT& dstRect, const RECT& srcRect, DWORD flags, DDBLTFX fx) {
    TDDDDGenSurface* dest = Engine->BackBuffer.get();
    RECT d = dstRect, s = srcRect, k = ClipOf(*dest);
    Normalise(d);
    Normalise(s);
    Normalise(k);
    if (!ClipScaled(d.left, d.right, s.left, s.right, k.left, k.right) ||
        !ClipScaled(d.top, d.bottom, s.top, s.bottom, k.top, k.bottom))
        return DD_OK;
    if (fx.dwDDFX == DDBLTFX_MIRRORLEFTRIGHT)
        s = RECT{Width - s.right, s.top, Width - s.left, s.bottom};
    else if (fx.dwDDFX == DDBLTFX_MIRRORUPDOWN)
        s = RECT{s.left, Height - s.bottom, s.right, Height - s.top};
    return dest->Surface->Blt(&d, Surface, &s, flags, &fx);
}

HRESULT TDDDDGenSurface::DrawFast(int x, int y, const RECT& srcRect, DWORD flags) {
    TDDDDGenSurface* dest = Engine->BackBuffer.get();
    RECT s = srcRect, k = ClipOf(*dest);
    Normalise(s);
    Normalise(k);
    LONG px = x, py = y;
    if (!ClipFast(px, s.left, s.right, k.left, k.right) ||
        !ClipFast(py, s.top, s.bottom, k.top, k.bottom))
        return DD_OK;
    return dest->Surface->BltFast(static_cast<DWORD>(px), static_cast<DWORD>(py), Surface, &s,
                                  flags);
}

// ---- TDDDDSurface ----

TDDDDSurface::TDDDDSurface(TDDDD* engine, int width, int height, DWORD colorKey) {
    Engine = engine;
    Init(engine, width, height, colorKey, engine->SurfaceLocation);
}

TDDDDSurface::~TDDDDSurface() {
    UseClipRect = false;
    Engine->RemoveSurface(this);
    if (Surface)
        CheckResult(static_cast<int>(Surface->Release()), "サーフェスの解放に失敗しました");
}

void TDDDDSurface::Init(TDDDD* engine, int width, int height, DWORD colorKey,
                        TDDDDSurfaceMemoryType memoryType) {
    Engine = engine;
    Surface = nullptr;
    Origin = std::monostate{};
    Desc = FreshDesc();
    Desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
    Desc.dwWidth = static_cast<DWORD>(width);
    Desc.dwHeight = static_cast<DWORD>(height);
    DWORD caps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    switch (memoryType) {
    case smtDefault: {
        DDSCAPS backCaps{};
        if (engine->BackBuffer && engine->BackBuffer->Surface)
            engine->BackBuffer->Surface->GetCaps(&backCaps);
        caps = (backCaps.dwCaps & DDSCAPS_VIDEOMEMORY)
                   ? DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY
                   : DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
        break;
    }
    case smtCompatible:
        caps = engine->FullScreen ? DDSCAPS_OFFSCREENPLAIN
                                  : DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
        break;
    case smtSystemMemory:
        break;
    case smtVideoMemory:
        caps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
        break;
    case smtNonLocalVideoMemory:
        caps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY | DDSCAPS_NONLOCALVIDMEM;
        break;
    }
    Desc.ddsCaps.dwCaps = caps;
    dddd::TracePlacement("サーフェス", caps);
    if (engine->DirectDraw2->CreateSurface(&Desc, &Surface, nullptr) != DD_OK) {
        Surface = nullptr;
        Desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
        CheckResult(engine->DirectDraw2->CreateSurface(&Desc, &Surface, nullptr),
                    "サーフェスを作れませんでした");
    }
    DDCOLORKEY key{colorKey, colorKey};
    Surface->SetColorKey(DDCKEY_SRCBLT, &key);
    Width = width;
    Height = height;
    ColorKey = colorKey;
    UseClipRect = false;
    ClipRect = RECT{0, 0, width, height};
    engine->AddSurface(this);
}

void TDDDDSurface::LoadFromFile(const std::string& fileName) {
    Origin = TPictureFile{fileName};
    TDDDDGenSurface::LoadFromFile(fileName);
}

void TDDDDSurface::LoadFromArchive(const std::string& archiveName, const std::string& entryName) {
    Origin = TArchiveEntry{archiveName, entryName};
    TDDDDGenSurface::LoadFromArchive(archiveName, entryName);
}

void TDDDDSurface::Reload() {
    // A copy: each loader stores its arguments into the origin.
    const TSurfaceOrigin origin = Origin;
    if (const auto* entry = std::get_if<TArchiveEntry>(&origin);
        entry && !entry->ArchiveName.empty())
        LoadFromArchive(entry->ArchiveName, entry->EntryName);
    else if (const auto* file = std::get_if<TPictureFile>(&origin); file && !file->FileName.empty())
        LoadFromFile(file->FileName);
}

// ---- TDDDDCanvas ----

TDDDDCanvas::TDDDDCanvas(TDDDDGenSurface& genSurface) : Surface(genSurface.Surface) {}

TDDDDCanvas::~TDDDDCanvas() {
    if (SurfaceDC) {
        canvas_.reset();
        Surface->ReleaseDC(SurfaceDC);
        SurfaceDC = nullptr;
    }
}

TCanvas* TDDDDCanvas::Handle() {
    if (!SurfaceDC) {
        Surface->GetDC(&SurfaceDC);
        QImage* image = SurfaceDC ? DeviceContextImage(SurfaceDC) : nullptr;
        if (!image)
            return nullptr;
        canvas_ = std::make_unique<TCanvas>(*image);
    }
    return canvas_.get();
}
