// Textures: the choice of a texture format the device offers, the loaders for bitmaps and for
// pixel-map and alpha-channel pairs, and bringing the device surface back after loss.
#include "DArc.h"
#include "dddd.h"
#include "dddd_private.h"
#include "directx/PixelFormat.h"
#include "forms/Graphics.h"
#include "forms/Halt.h"
#include "platform/BitmapHeader.h"
#include "platform/Kernel.h"
#include "platform/OwnFiles.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <variant>
#include <vector>

using dddd::Format;

namespace {

std::string DescribeFormat(const char* lead, const DDPIXELFORMAT& format) {
    return Format(
        "%sBitCount=%d Mask=(%.8x,%.8x,%.8x,%.8x)", lead, static_cast<int>(format.dwRGBBitCount),
        static_cast<unsigned>(format.dwRGBAlphaBitMask), static_cast<unsigned>(format.dwRBitMask),
        static_cast<unsigned>(format.dwGBitMask), static_cast<unsigned>(format.dwBBitMask));
}

// What the format enumeration hands from one offered format to the next.
struct FormatChoice {
    std::uint16_t wantedBitCount = 0;
    DDPIXELFORMAT chosen{};
};

int AlphaBits(const DDPIXELFORMAT& format) {
    return directx::MaskChannel::Of(format.dwRGBAlphaBitMask).bits;
}

int Distance(int a, int b) {
    return a > b ? a - b : b - a;
}

HRESULT OrdinaryFormatCallback(LPDDSURFACEDESC desc, LPVOID context) {
    auto* choice = static_cast<FormatChoice*>(context);
    const DDPIXELFORMAT& format = desc->ddpfPixelFormat;
    const DWORD flags = format.dwFlags;
    const int bits = static_cast<int>(format.dwRGBBitCount);
    if (flags & (DDPF_ALPHAPIXELS | DDPF_ALPHA))
        return DDENUMRET_OK;
    if (bits <= 8 && !(flags & (DDPF_PALETTEINDEXED4 | DDPF_PALETTEINDEXED8)))
        return DDENUMRET_OK;
    if (bits > 8 && !(flags & DDPF_RGB))
        return DDENUMRET_OK;
    if (bits < 8)
        return DDENUMRET_OK;
    Trace(DescribeFormat("列挙されたテクスチャフォーマット...", format));
    const int wanted = choice->wantedBitCount;
    const int chosen = static_cast<int>(choice->chosen.dwRGBBitCount);
    if (chosen == 0 || (bits >= wanted && Distance(bits, wanted) < Distance(chosen, wanted)))
        choice->chosen = format;
    return DDENUMRET_OK;
}

HRESULT AlphaFormatCallback(LPDDSURFACEDESC desc, LPVOID context) {
    auto* choice = static_cast<FormatChoice*>(context);
    const DDPIXELFORMAT& format = desc->ddpfPixelFormat;
    const int bits = static_cast<int>(format.dwRGBBitCount);
    if (!(format.dwFlags & DDPF_ALPHAPIXELS) || bits < 16 || !(format.dwFlags & DDPF_RGB))
        return DDENUMRET_OK;
    Trace(DescribeFormat("列挙されたテクスチャフォーマット...", format));
    const int wanted = choice->wantedBitCount;
    const int chosen = static_cast<int>(choice->chosen.dwRGBBitCount);
    if (chosen == 0) {
        choice->chosen = format;
    } else if (Distance(wanted, bits) < Distance(wanted, chosen)) {
        choice->chosen = format;
    } else if (Distance(wanted, bits) == Distance(wanted, chosen) &&
               AlphaBits(format) > AlphaBits(choice->chosen)) {
        choice->chosen = format;
    }
    return DDENUMRET_OK;
}

// A file made in the system's temporary folder and removed again when it goes out of scope,
// when the program ends on a signal, or, should the program halt while it exists, when the
// process ends.
class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile() { Remove(); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Creates the file with prefix "tmp" and writes the bytes into it.
    bool Create(const std::vector<std::uint8_t>& bytes) {
        char folder[MAX_PATH] = {};
        const DWORD length = GetTempPathA(MAX_PATH, folder);
        if (length == 0 || length >= MAX_PATH)
            return false;
        char name[MAX_PATH] = {};
        if (!own_.Create([&] {
                return GetTempFileNameA(folder, "tmp", 0, name) != 0 ? std::string(name)
                                                                     : std::string();
            }))
            return false;
        name_ = name;
        Pending().names.insert(name_);
        try {
            TFileStream file(name_, TFileStream::fmCreate);
            file.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
            file.Close();
        } catch (const Exception&) {
            return false;
        }
        return true;
    }
    const std::string& Name() const { return name_; }

private:
    struct PendingNames {
        std::set<std::string> names;
        ~PendingNames() {
            for (const std::string& name : names)
                DeleteFileA(name.c_str());
        }
    };
    static PendingNames& Pending() {
        static PendingNames pending;
        return pending;
    }
    void Remove() {
        if (name_.empty())
            return;
        own_.Remove();
        Pending().names.erase(name_);
        name_.clear();
    }
    std::string name_;
    OwnFile own_;
};

// The headers at the start of a BMP stream; nothing when the stream is too short for them.
std::optional<BitmapHeader> ReadHeaders(TStream& stream) {
    BYTE bytes[kBitmapHeadersSize];
    if (stream.Read(bytes, sizeof bytes) != static_cast<std::int64_t>(sizeof bytes))
        return std::nullopt;
    return ReadBitmapHeader(bytes, sizeof bytes);
}

// Whether the stream holds rows × rowBytes bytes from offBits on.
bool HoldsRows(TStream& stream, std::uint32_t offBits, std::int64_t rowBytes, std::int64_t rows) {
    return stream.Size() - std::int64_t{offBits} >= rowBytes * rows;
}

// The shape of a pixel map and its alpha map, both checked against their streams.
struct PixelMapLayout {
    int width = 0;
    int height = 0;
    bool topDown = false;
    std::int64_t pixelRow = 0;
    std::int64_t alphaRow = 0;
};

// Reads both headers and leaves each stream at its first row; nothing (after the halt that
// names the fault) when the maps are not a 24-bit picture and an 8-bit alpha map of its size
// with all their rows.
std::optional<PixelMapLayout> ReadPixelMapLayout(TStream& pixelStream, TStream& alphaStream) {
    const std::optional<BitmapHeader> pixelHeader = ReadHeaders(pixelStream);
    if (!pixelHeader || pixelHeader->bitCount != 24) {
        CheckResult(1, "ピクセルマップは、24ビットのビットマップで頼みます");
        return std::nullopt;
    }
    pixelStream.SetPosition(pixelHeader->offBits);
    const std::optional<BitmapHeader> alphaHeader = ReadHeaders(alphaStream);
    if (!alphaHeader || alphaHeader->bitCount != 8) {
        CheckResult(1, "αチャンネルは、8ビットのビットマップで頼みます");
        return std::nullopt;
    }
    alphaStream.SetPosition(alphaHeader->offBits);
    if (pixelHeader->width != alphaHeader->width || pixelHeader->height != alphaHeader->height) {
        CheckResult(1, "αチャンネルと、ピクセルマップのサイズが違います");
        return std::nullopt;
    }
    // A negative height is a top-down file; either way the picture lands upright.
    const bool topDown = pixelHeader->height < 0;
    const std::int64_t width = pixelHeader->width;
    const std::int64_t height = topDown ? -std::int64_t{pixelHeader->height} : pixelHeader->height;
    const std::int64_t pixelRow = (3 * width + 3) / 4 * 4;
    const std::int64_t alphaRow = (width + 3) / 4 * 4;
    // The surface is sized from the headers, so they must describe pixels that are there.
    if (width <= 0 || height <= 0 ||
        !HoldsRows(pixelStream, pixelHeader->offBits, pixelRow, height)) {
        CheckResult(1, "ピクセルマップのデータが足りません");
        return std::nullopt;
    }
    if (!HoldsRows(alphaStream, alphaHeader->offBits, alphaRow, height)) {
        CheckResult(1, "αチャンネルのデータが足りません");
        return std::nullopt;
    }
    return PixelMapLayout{static_cast<int>(width), static_cast<int>(height), topDown, pixelRow,
                          alphaRow};
}

// Each 8-bit value goes into its channel with its top bits (a channel of more than eight bits
// gets it in its top eight): pixel maps are cut, not rounded as the layer's colour conversion
// does, so an alpha of 0x90 stays 9 of 15 in a 4-bit channel.
class ChannelPlacer {
public:
    explicit ChannelPlacer(DWORD mask) : channel_(directx::MaskChannel::Of(mask).TopEight()) {}
    DWORD operator()(BYTE value) const {
        return channel_.bits ? DWORD{value} >> (8 - channel_.bits) << channel_.shift : 0;
    }

private:
    directx::MaskChannel channel_;
};

// Writes the rows of the pixel map and its alpha map, from the streams' positions on, into
// the surface in the format's channels.
void FillFromPixelMap(TDDDDGenSurface& surface, const DDPIXELFORMAT& format,
                      const PixelMapLayout& layout, TStream& pixelStream, TStream& alphaStream) {
    const ChannelPlacer a(format.dwRGBAlphaBitMask), r(format.dwRBitMask), g(format.dwGBitMask),
        b(format.dwBBitMask);
    DDSURFACEDESC locked{};
    surface.Lock(locked);
    std::vector<BYTE> pixelBytes(static_cast<std::size_t>(layout.pixelRow));
    std::vector<BYTE> alphaBytes(static_cast<std::size_t>(layout.alphaRow));
    for (int k = 0; k < layout.height; ++k) {
        pixelStream.Read(pixelBytes.data(), layout.pixelRow);
        alphaStream.Read(alphaBytes.data(), layout.alphaRow);
        const int y = layout.topDown ? k : layout.height - 1 - k;
        for (int x = 0; x < layout.width; ++x) {
            const BYTE* bgr = pixelBytes.data() + 3 * x;
            surface.SetPixel(x, y, a(alphaBytes[x]) | r(bgr[2]) | g(bgr[1]) | b(bgr[0]));
        }
    }
    surface.Unlock();
}

// Clears the bits outside the format's colour channels, which drawing through the device
// context may have set.
void KeepChannelBits(TDDDDGenSurface& surface, const DDPIXELFORMAT& format, int width, int height) {
    const DWORD keep = format.dwRBitMask | format.dwGBitMask | format.dwBBitMask;
    DDSURFACEDESC locked{};
    surface.Lock(locked);
    const int lockedWidth = std::min<int>(static_cast<int>(locked.dwWidth), width);
    const int lockedHeight = std::min<int>(static_cast<int>(locked.dwHeight), height);
    for (int y = 0; y < lockedHeight; ++y)
        for (int x = 0; x < lockedWidth; ++x)
            surface.SetPixel(x, y, surface.GetPixel(x, y) & keep);
    surface.Unlock();
}

// One half of a pixel map in memory; null after the halt that names the one that failed.
std::unique_ptr<TMemoryStream> ReadPixelMapPart(const TPictureFile& part) {
    try {
        TFileStream file(part.FileName, TFileStream::fmOpenRead);
        if (file.Size() > kLargestPictureFile)
            throw Exception(part.FileName + " is too large for a picture");
        auto stream = std::make_unique<TMemoryStream>();
        stream->LoadFromStream(file);
        return stream;
    } catch (const Exception&) {
        CheckResult(1, part.FileName + "が、開けません");
        return nullptr;
    }
}

std::unique_ptr<TMemoryStream> ReadPixelMapPart(const TArchiveEntry& part) {
    try {
        return OpenArchiveEntry(part.ArchiveName, part.EntryName);
    } catch (const Exception&) {
        CheckResult(1, Format("%sからの%sの展開に失敗しました", part.ArchiveName.c_str(),
                              part.EntryName.c_str()));
        return nullptr;
    }
}

} // namespace

TDDDDTexture::TDDDDTexture(TDDDD* engine) : Engine(engine) {
    Engine->AddTexture(this);
}

TDDDDTexture::~TDDDDTexture() {
    DropSurfaces();
    Handle = 0;
    Engine->RemoveTexture(this);
}

void TDDDDTexture::DropSurfaces() {
    delete DeviceGenSurface;
    DeviceGenSurface = nullptr;
    delete WorkGenSurface;
    WorkGenSurface = nullptr;
    // Once forgotten, the surfaces and the palette died with their DirectDraw object.
    if (OwnsSurfaces) {
        if (DeviceSurface)
            DeviceSurface->Release();
        if (WorkSurface)
            WorkSurface->Release();
        if (Palette)
            Palette->Release();
    }
    DeviceSurface = nullptr;
    WorkSurface = nullptr;
    Palette = nullptr;
    OwnsSurfaces = false;
    // Until the next image is in, the texture holds none; this also makes a direct reload
    // move its new image into the device surface at once.
    Loaded = false;
}

DDPIXELFORMAT TDDDDTexture::ChooseTextureFormat(int wantedBitCount) {
    FormatChoice choice;
    choice.wantedBitCount = static_cast<std::uint16_t>(wantedBitCount);
    if (Engine->D3DDevice)
        Engine->D3DDevice->EnumTextureFormats(OrdinaryFormatCallback, &choice);
    return choice.chosen;
}

DDPIXELFORMAT TDDDDTexture::ChooseAlphaTextureFormat() {
    FormatChoice choice;
    choice.wantedBitCount = static_cast<std::uint16_t>(Engine->GetDesktopBitCount());
    if (Engine->D3DDevice)
        Engine->D3DDevice->EnumTextureFormats(AlphaFormatCallback, &choice);
    return choice.chosen;
}

DDSURFACEDESC TDDDDTexture::TextureDesc(const DDPIXELFORMAT& format, int width, int height) const {
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
    desc.dwWidth = static_cast<DWORD>(width);
    desc.dwHeight = static_cast<DWORD>(height);
    desc.ddpfPixelFormat = format;
    if (Engine->D3DDeviceKind == TD3DDeviceKind::HAL) {
        desc.ddsCaps.dwCaps = DDSCAPS_TEXTURE | DDSCAPS_VIDEOMEMORY | DDSCAPS_ALLOCONLOAD;
        Trace("ビデオメモリに配置します");
    } else {
        desc.ddsCaps.dwCaps = DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY;
        Trace("システムメモリに配置します");
    }
    return desc;
}

void TDDDDTexture::CreateSurfaces(const DDPIXELFORMAT& format, int width, int height) {
    DDSURFACEDESC desc = TextureDesc(format, width, height);
    // Loading before the engine's first set-up has nothing to create surfaces with.
    CheckResult(Engine->DirectDraw2
                    ? Engine->DirectDraw2->CreateSurface(&desc, &DeviceSurface, nullptr)
                    : DDERR_INVALIDOBJECT,
                "テクスチャ用デバイスサーフェスの作成に失敗しました");
    OwnsSurfaces = true;
    if (Engine->D3DDeviceKind == TD3DDeviceKind::HAL) {
        DDSURFACEDESC work = desc;
        work.ddsCaps.dwCaps = DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY;
        CheckResult(Engine->DirectDraw2->CreateSurface(&work, &WorkSurface, nullptr),
                    "テクスチャ用作業サーフェスの作成に失敗しました");
    } else {
        WorkSurface = DeviceSurface;
        WorkSurface->AddRef();
    }
    WorkGenSurface = new TDDDDGenSurface(Engine, WorkSurface, width, height);
    DeviceGenSurface = new TDDDDGenSurface(Engine, DeviceSurface, width, height);
}

void TDDDDTexture::CreatePalette(const std::vector<DWORD>& table) {
    std::array<PALETTEENTRY, 256> entries{};
    // No colours of its own: a 3-3-2 cube lets the nearest-colour mapping keep the picture
    // recognisable.
    if (table.empty())
        entries = directx::CubePalette();
    for (std::size_t i = 0; i < std::min<std::size_t>(table.size(), 256); ++i)
        entries[i] = PALETTEENTRY{static_cast<BYTE>(table[i] >> 16),
                                  static_cast<BYTE>(table[i] >> 8), static_cast<BYTE>(table[i]), 0};
    CheckResult(Engine->DirectDraw2->CreatePalette(DDPCAPS_8BIT, entries.data(), &Palette, nullptr),
                "テクスチャ用パレットの作成に失敗しました");
    WorkSurface->SetPalette(Palette);
    DeviceSurface->SetPalette(Palette);
}

void TDDDDTexture::FinishLoad(int width, int height, int keyX, int keyY, bool transferAgain) {
    SetKeyFromPixel(keyX, keyY);
    RestoreTexture();
    if (transferAgain)
        Transfer();
    TakeHandle();
    Loaded = true;
    Width = width;
    Height = height;
    KeyX = keyX;
    KeyY = keyY;
}

void TDDDDTexture::SetKeyFromPixel(int keyX, int keyY) {
    if (keyX < 0 || keyY < 0)
        return;
    const DWORD key = WorkGenSurface->GetPixel(keyX, keyY);
    DDCOLORKEY colorKey{key, key};
    DeviceSurface->SetColorKey(DDCKEY_SRCBLT, &colorKey);
}

void TDDDDTexture::TakeHandle() {
    IDirect3DTexture2* texture = nullptr;
    const HRESULT query =
        DeviceSurface->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&texture));
    CheckResult(query, "テクスチャのハンドルが得られませんでした");
    const HRESULT result = texture->GetHandle(Engine->D3DDevice, &Handle);
    texture->Release();
    CheckResult(result, "テクスチャのハンドルが得られませんでした");
}

void TDDDDTexture::LoadFromFile(const std::string& fileName, int keyX, int keyY) {
    Load(TPictureFile{fileName}, keyX, keyY);
}

void TDDDDTexture::LoadFromArchive(const std::string& archiveName, const std::string& entryName,
                                   int keyX, int keyY) {
    Load(TArchiveEntry{archiveName, entryName}, keyX, keyY);
}

void TDDDDTexture::LoadPixelMap(const std::string& pixelFileName, const std::string& alphaFileName,
                                int keyX, int keyY) {
    Load(TPixelMapFiles{{pixelFileName}, {alphaFileName}}, keyX, keyY);
}

void TDDDDTexture::LoadPixelMapFromArchive(const std::string& pixelArchiveName,
                                           const std::string& alphaArchiveName,
                                           const std::string& pixelEntryName,
                                           const std::string& alphaEntryName, int keyX, int keyY) {
    Load(TPixelMapEntries{{pixelArchiveName, pixelEntryName}, {alphaArchiveName, alphaEntryName}},
         keyX, keyY);
}

void TDDDDTexture::Load(TTextureOrigin origin, int keyX, int keyY) {
    const bool loaded =
        std::visit([&](const auto& from) { return LoadFrom(from, keyX, keyY); }, origin);
    if (loaded)
        Origin = std::move(origin);
}

void TDDDDTexture::Reload() {
    Load(Origin, KeyX, KeyY);
}

bool TDDDDTexture::LoadFrom(std::monostate, int, int) {
    return false;
}

bool TDDDDTexture::LoadFrom(const TPictureFile& file, int keyX, int keyY) {
    const std::string& fileName = file.FileName;
    DropSurfaces();
    TBitmap bitmap;
    if (!bitmap.LoadFromResource(fileName)) {
        try {
            bitmap.LoadFromFile(fileName);
        } catch (const std::exception&) { // also a picture too large for the memory left
            WriteDebugLog(fileName + "がビットマップファイルとして開けません");
            if (HaltOnError)
                Halt(fileName + "がビットマップファイルとして開けません");
            return false;
        }
    }
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    const DDPIXELFORMAT format = ChooseTextureFormat(bitmap.BitsPerPixel());
    Trace(DescribeFormat("テクスチャフォーマットが決定されました...", format));
    CreateSurfaces(format, width, height);
    if (format.dwRGBBitCount <= 8)
        CreatePalette(bitmap.ColorTable());

    HDC dc = nullptr;
    CheckResult(WorkSurface->GetDC(&dc),
                "テクスチャ用作業サーフェスのデバイスコンテキスト取得に失敗しました");
    if (QImage* image = DeviceContextImage(dc)) {
        TCanvas canvas(*image);
        BitBlt(canvas, 0, 0, width, height, bitmap.Canvas(), 0, 0, SRCCOPY);
    }
    WorkSurface->ReleaseDC(dc);
    if (format.dwRGBBitCount > 8)
        KeepChannelBits(*WorkGenSurface, format, width, height);
    FinishLoad(width, height, keyX, keyY, false);
    return true;
}

bool TDDDDTexture::LoadFrom(const TArchiveEntry& entry, int keyX, int keyY) {
    std::unique_ptr<TMemoryStream> stream;
    try {
        stream = OpenArchiveEntry(entry.ArchiveName, entry.EntryName);
    } catch (const Exception&) {
        WriteDebugLog(Format("アーカイブファイル %s からの %s のオープンに失敗しました",
                             entry.ArchiveName.c_str(), entry.EntryName.c_str()));
        return false;
    }
    TemporaryFile temporary;
    if (!temporary.Create(stream->Bytes())) {
        WriteDebugLog("テクスチャデータの展開に失敗しました");
        return false;
    }
    stream.reset();
    return LoadFrom(TPictureFile{temporary.Name()}, keyX, keyY);
}

bool TDDDDTexture::LoadFrom(const TPixelMapFiles& files, int keyX, int keyY) {
    const std::unique_ptr<TMemoryStream> pixels = ReadPixelMapPart(files.Pixels);
    const std::unique_ptr<TMemoryStream> alpha = pixels ? ReadPixelMapPart(files.Alpha) : nullptr;
    return alpha && LoadPixelMapFromStreams(files.Pixels.FileName, *pixels, *alpha, keyX, keyY);
}

bool TDDDDTexture::LoadFrom(const TPixelMapEntries& entries, int keyX, int keyY) {
    const std::unique_ptr<TMemoryStream> pixels = ReadPixelMapPart(entries.Pixels);
    const std::unique_ptr<TMemoryStream> alpha = pixels ? ReadPixelMapPart(entries.Alpha) : nullptr;
    if (!alpha)
        return false;
    // Without a format with alpha the pixels are loaded as a bitmap file by name.
    TemporaryFile temporary;
    if (!temporary.Create(pixels->Bytes())) {
        WriteDebugLog("テンポラリファイルの作成に失敗しました");
        return false;
    }
    pixels->SetPosition(0);
    return LoadPixelMapFromStreams(temporary.Name(), *pixels, *alpha, keyX, keyY);
}

bool TDDDDTexture::LoadPixelMapFromStreams(const std::string& name, TStream& pixelStream,
                                           TStream& alphaStream, int keyX, int keyY) {
    const std::optional<PixelMapLayout> layout = ReadPixelMapLayout(pixelStream, alphaStream);
    if (!layout)
        return false;
    DropSurfaces();
    const DDPIXELFORMAT format = ChooseAlphaTextureFormat();
    Trace(DescribeFormat("テクスチャフォーマットを決定しました...", format));
    if (format.dwRGBBitCount == 0) {
        Trace("αをサポートしたテクスチャフォーマットが見つからないので、α無しで読みこみます");
        return LoadFrom(TPictureFile{name}, keyX, keyY);
    }
    CreateSurfaces(format, layout->width, layout->height);
    FillFromPixelMap(*WorkGenSurface, format, *layout, pixelStream, alphaStream);
    // A pixel map ends with a transfer of its own after the one the restore made.
    FinishLoad(layout->width, layout->height, keyX, keyY, true);
    return true;
}

void TDDDDTexture::RestoreTexture() {
    Trace("テクスチャを復元します");
    if (!DeviceSurface || !WorkSurface)
        return;
    if (WorkSurface->IsLost() != DD_OK)
        CheckResult(WorkSurface->Restore(), "テクスチャ用作業サーフェスの復元に失敗しました");
    if (DeviceSurface == WorkSurface)
        return;
    if (Loaded && DeviceSurface->IsLost() == DD_OK)
        return;
    CheckResult(DeviceSurface->Restore(), "テクスチャ用デバイスサーフェスの復元に失敗しました");
    LoadDeviceSurface();
}

void TDDDDTexture::Transfer() {
    if (!DeviceSurface || !WorkSurface || DeviceSurface == WorkSurface || !DeviceGenSurface ||
        DeviceGenSurface->IsLost())
        return;
    LoadDeviceSurface();
}

void TDDDDTexture::LoadDeviceSurface() {
    IDirect3DTexture2* device = nullptr;
    IDirect3DTexture2* work = nullptr;
    HRESULT result =
        DeviceSurface->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&device));
    if (result == DD_OK)
        result =
            WorkSurface->QueryInterface(IID_IDirect3DTexture2, reinterpret_cast<void**>(&work));
    if (result == DD_OK)
        result = device->Load(work);
    if (work)
        work->Release();
    if (device)
        device->Release();
    CheckResult(result, "テクスチャの転送に失敗しました");
}

// ---- TDDDDTextureKeeper ----

void TDDDDTextureKeeper::RestoreObject() {
    if (!Texture->Loaded)
        return;
    Texture->RestoreTexture();
    Texture->Transfer();
}

void TDDDDTextureKeeper::RebuildObject() {
    if (!Texture->Loaded)
        return;
    Texture->Reload();
    Texture->Transfer();
}

void TDDDDTextureKeeper::ForgetSurfaces() {
    Texture->OwnsSurfaces = false;
}
