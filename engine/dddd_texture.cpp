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
#include <set>
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

void TDDDDTexture::CreateSurfaces(DDSURFACEDESC& desc) {
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
    DropSurfaces();
    TBitmap bitmap;
    if (!bitmap.LoadFromResource(fileName)) {
        try {
            bitmap.LoadFromFile(fileName);
        } catch (const std::exception&) { // also a picture too large for the memory left
            WriteDebugLog(fileName + "がビットマップファイルとして開けません");
            if (HaltOnError)
                Halt(fileName + "がビットマップファイルとして開けません");
            return;
        }
    }
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    const DDPIXELFORMAT format = ChooseTextureFormat(bitmap.BitsPerPixel());
    Trace(DescribeFormat("テクスチャフォーマットが決定されました...", format));
    DDSURFACEDESC desc = TextureDesc(format, width, height);
    CreateSurfaces(desc);

    if (format.dwRGBBitCount <= 8) {
        std::array<PALETTEENTRY, 256> entries{};
        const std::vector<DWORD>& table = bitmap.ColorTable();
        // No colours of its own: a 3-3-2 cube lets the nearest-colour mapping keep the
        // picture recognisable.
        if (table.empty())
            entries = directx::CubePalette();
        for (std::size_t i = 0; i < std::min<std::size_t>(table.size(), 256); ++i)
            entries[i] =
                PALETTEENTRY{static_cast<BYTE>(table[i] >> 16), static_cast<BYTE>(table[i] >> 8),
                             static_cast<BYTE>(table[i]), 0};
        CheckResult(
            Engine->DirectDraw2->CreatePalette(DDPCAPS_8BIT, entries.data(), &Palette, nullptr),
            "テクスチャ用パレットの作成に失敗しました");
        WorkSurface->SetPalette(Palette);
        DeviceSurface->SetPalette(Palette);
    }

    HDC dc = nullptr;
    CheckResult(WorkSurface->GetDC(&dc),
                "テクスチャ用作業サーフェスのデバイスコンテキスト取得に失敗しました");
    if (QImage* image = DeviceContextImage(dc)) {
        TCanvas canvas(*image);
        BitBlt(canvas, 0, 0, width, height, bitmap.Canvas(), 0, 0, SRCCOPY);
    }
    WorkSurface->ReleaseDC(dc);

    WorkGenSurface = new TDDDDGenSurface(Engine, WorkSurface, width, height);
    DeviceGenSurface = new TDDDDGenSurface(Engine, DeviceSurface, width, height);

    if (format.dwRGBBitCount > 8) {
        const DWORD keep = format.dwRBitMask | format.dwGBitMask | format.dwBBitMask;
        DDSURFACEDESC locked{};
        WorkGenSurface->Lock(locked);
        const int lockedWidth = std::min<int>(static_cast<int>(locked.dwWidth), width);
        const int lockedHeight = std::min<int>(static_cast<int>(locked.dwHeight), height);
        for (int y = 0; y < lockedHeight; ++y)
            for (int x = 0; x < lockedWidth; ++x)
                WorkGenSurface->SetPixel(x, y, WorkGenSurface->GetPixel(x, y) & keep);
        WorkGenSurface->Unlock();
    }

    SetKeyFromPixel(keyX, keyY);
    RestoreTexture();
    TakeHandle();

    Loaded = true;
    OwnsSurfaces = true;
    Width = width;
    Height = height;
    KeyX = keyX;
    KeyY = keyY;
    WithAlpha = false;
    FromArchive = false;
    FileName = fileName;
}

void TDDDDTexture::LoadFromArchive(const std::string& archiveName, const std::string& entryName,
                                   int keyX, int keyY) {
    std::unique_ptr<TMemoryStream> stream;
    try {
        stream = OpenArchiveEntry(archiveName, entryName);
    } catch (const Exception&) {
        WriteDebugLog(Format("アーカイブファイル %s からの %s のオープンに失敗しました",
                             archiveName.c_str(), entryName.c_str()));
        return;
    }
    TemporaryFile temporary;
    if (!temporary.Create(stream->Bytes())) {
        WriteDebugLog("テクスチャデータの展開に失敗しました");
        return;
    }
    stream.reset();
    LoadFromFile(temporary.Name(), keyX, keyY);
    WithAlpha = false;
    FromArchive = true;
    ArchiveName = archiveName;
    EntryName = entryName;
}

void TDDDDTexture::LoadPixelMap(const std::string& pixelFileName, const std::string& alphaFileName,
                                int keyX, int keyY) {
    TMemoryStream pixels, alpha;
    for (auto [stream, name] : {std::pair{&pixels, &pixelFileName}, {&alpha, &alphaFileName}}) {
        try {
            TFileStream file(*name, TFileStream::fmOpenRead);
            if (file.Size() > kLargestPictureFile)
                throw Exception(*name + " is too large for a picture");
            stream->LoadFromStream(file);
        } catch (const Exception&) {
            CheckResult(1, *name + "が、開けません");
            return;
        }
    }
    LoadPixelMapFromStreams(pixelFileName, pixels, alpha, keyX, keyY);
    WithAlpha = true;
    FromArchive = false;
    FileName = pixelFileName;
    AlphaFileName = alphaFileName;
}

void TDDDDTexture::LoadPixelMapFromArchive(const std::string& pixelArchiveName,
                                           const std::string& alphaArchiveName,
                                           const std::string& pixelEntryName,
                                           const std::string& alphaEntryName, int keyX, int keyY) {
    std::unique_ptr<TMemoryStream> pixels, alpha;
    for (auto [stream, archive, entry] : {std::tuple{&pixels, &pixelArchiveName, &pixelEntryName},
                                          {&alpha, &alphaArchiveName, &alphaEntryName}}) {
        try {
            *stream = OpenArchiveEntry(*archive, *entry);
        } catch (const Exception&) {
            CheckResult(1,
                        Format("%sからの%sの展開に失敗しました", archive->c_str(), entry->c_str()));
            return;
        }
    }
    TemporaryFile temporary;
    if (!temporary.Create(pixels->Bytes())) {
        WriteDebugLog("テンポラリファイルの作成に失敗しました");
        return;
    }
    pixels->SetPosition(0);
    LoadPixelMapFromStreams(temporary.Name(), *pixels, *alpha, keyX, keyY);
    WithAlpha = true;
    FromArchive = true;
    ArchiveName = pixelArchiveName;
    EntryName = pixelEntryName;
    AlphaArchiveName = alphaArchiveName;
    AlphaEntryName = alphaEntryName;
}

void TDDDDTexture::LoadPixelMapFromStreams(const std::string& name, TStream& pixelStream,
                                           TStream& alphaStream, int keyX, int keyY) {
    const std::optional<BitmapHeader> pixelHeader = ReadHeaders(pixelStream);
    if (!pixelHeader || pixelHeader->bitCount != 24) {
        CheckResult(1, "ピクセルマップは、24ビットのビットマップで頼みます");
        return;
    }
    pixelStream.SetPosition(pixelHeader->offBits);
    const std::optional<BitmapHeader> alphaHeader = ReadHeaders(alphaStream);
    if (!alphaHeader || alphaHeader->bitCount != 8) {
        CheckResult(1, "αチャンネルは、8ビットのビットマップで頼みます");
        return;
    }
    alphaStream.SetPosition(alphaHeader->offBits);
    if (pixelHeader->width != alphaHeader->width || pixelHeader->height != alphaHeader->height) {
        CheckResult(1, "αチャンネルと、ピクセルマップのサイズが違います");
        return;
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
        return;
    }
    if (!HoldsRows(alphaStream, alphaHeader->offBits, alphaRow, height)) {
        CheckResult(1, "αチャンネルのデータが足りません");
        return;
    }

    DropSurfaces();
    const DDPIXELFORMAT format = ChooseAlphaTextureFormat();
    Trace(DescribeFormat("テクスチャフォーマットを決定しました...", format));
    if (format.dwRGBBitCount == 0) {
        Trace("αをサポートしたテクスチャフォーマットが見つからないので、α無しで読みこみます");
        LoadFromFile(name, keyX, keyY);
        return;
    }
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    DDSURFACEDESC desc = TextureDesc(format, w, h);
    CreateSurfaces(desc);

    // Each 8-bit value goes into its channel with its top bits (a channel of more than eight
    // bits gets it in its top eight): pixel maps are cut, not rounded as the layer's colour
    // conversion does, so an alpha of 0x90 stays 9 of 15 in a 4-bit channel.
    const auto place = [](DWORD mask) {
        const directx::MaskChannel channel = directx::MaskChannel::Of(mask).TopEight();
        return [channel](BYTE value) -> DWORD {
            return channel.bits ? DWORD{value} >> (8 - channel.bits) << channel.shift : 0;
        };
    };
    const auto a = place(format.dwRGBAlphaBitMask), r = place(format.dwRBitMask),
               g = place(format.dwGBitMask), b = place(format.dwBBitMask);

    WorkGenSurface = new TDDDDGenSurface(Engine, WorkSurface, w, h);
    DeviceGenSurface = new TDDDDGenSurface(Engine, DeviceSurface, w, h);
    DDSURFACEDESC locked{};
    WorkGenSurface->Lock(locked);
    std::vector<BYTE> pixelBytes(static_cast<std::size_t>(pixelRow));
    std::vector<BYTE> alphaBytes(static_cast<std::size_t>(alphaRow));
    for (int k = 0; k < h; ++k) {
        pixelStream.Read(pixelBytes.data(), pixelRow);
        alphaStream.Read(alphaBytes.data(), alphaRow);
        const int y = topDown ? k : h - 1 - k;
        for (int x = 0; x < w; ++x) {
            const BYTE* bgr = pixelBytes.data() + 3 * x;
            WorkGenSurface->SetPixel(x, y, a(alphaBytes[x]) | r(bgr[2]) | g(bgr[1]) | b(bgr[0]));
        }
    }
    WorkGenSurface->Unlock();
    SetKeyFromPixel(keyX, keyY);
    RestoreTexture();
    Transfer();
    TakeHandle();

    Loaded = true;
    OwnsSurfaces = true;
    Width = w;
    Height = h;
    KeyX = keyX;
    KeyY = keyY;
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
    // Copies: each loader stores its arguments into these very fields.
    const std::string archive = Texture->ArchiveName, alphaArchive = Texture->AlphaArchiveName;
    const std::string entry = Texture->EntryName, alphaEntry = Texture->AlphaEntryName;
    const std::string file = Texture->FileName, alphaFile = Texture->AlphaFileName;
    const int keyX = Texture->KeyX, keyY = Texture->KeyY;
    if (Texture->FromArchive && Texture->WithAlpha)
        Texture->LoadPixelMapFromArchive(archive, alphaArchive, entry, alphaEntry, keyX, keyY);
    else if (Texture->FromArchive)
        Texture->LoadFromArchive(archive, entry, keyX, keyY);
    else if (Texture->WithAlpha)
        Texture->LoadPixelMap(file, alphaFile, keyX, keyY);
    else
        Texture->LoadFromFile(file, keyX, keyY);
    Texture->Transfer();
}

void TDDDDTextureKeeper::ForgetSurfaces() {
    Texture->OwnsSurfaces = false;
}
