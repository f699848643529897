#pragma once
// The display engine: the component that owns the DirectDraw objects of a form, the surfaces
// seen through it, and the registries that bring surfaces back after loss.
#include "directx/ComPtr.h"
#include "directx/d3d.h"
#include "directx/d3drm.h"
#include "directx/d3dtypes.h"
#include "directx/ddraw.h"
#include "forms/FormBase.h"
#include "forms/Windows.h"
#include "platform/Classes.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

class TDDDD;
class TDDDDSurface;
class TDDDDTexture;
class TCanvas;
class QImage;

enum TDDDDDispMode {
    dmWin640x480x8,
    dmWin800x600x8,
    dmWin1024x768x8,
    dmWin640x480x16,
    dmWin800x600x16,
    dmWin1024x768x16,
    dmWin640x480x24,
    dmWin800x600x24,
    dmWin1024x768x24,
    dmFull640x480x8,
    dmFull800x600x8,
    dmFull1024x768x8,
    dmFull640x480x16,
    dmFull800x600x16,
    dmFull1024x768x16,
    dmFull640x480x24,
    dmFull800x600x24,
    dmFull1024x768x24,
    dmWinVariable
};

// What a listed display mode stands for; dmWinVariable takes its size and depth from the
// form and the desktop instead.
struct TDisplayModeEntry {
    bool fullScreen;
    int width;
    int height;
    int bitCount;
};
TDisplayModeEntry DisplayModeEntry(TDDDDDispMode mode);

enum TD3DOption : std::uint8_t {
    DontUseRGBEmulation = 1 << 0,
    DontUseHAL = 1 << 1,
    DontUseMMX = 1 << 2
};
using TD3DOptions = std::uint8_t;

// The Direct3D device the engine draws with, in the order it tries them.
enum class TD3DDeviceKind { None, HAL, MMX, RGBEmulation, Ramp };

// Where the engine is in its life. It only moves forward: a form's creation takes it through
// the first two steps, its destructor to the last.
enum class TDDDDState : std::uint8_t {
    // No set-up made for the form yet; mode changes are only recorded.
    PendingFirstInit,
    // The first set-up is being made and the application's OnInit runs: nothing to rebuild.
    FirstInit,
    // Running: a new set-up forgets and rebuilds the surfaces and textures kept.
    Initialized,
    // The engine is going: nothing is rebuilt or cleaned up, everything is released.
    Destroying
};

enum TDDDDSurfaceMemoryType {
    smtDefault,
    smtCompatible,
    smtSystemMemory,
    smtVideoMemory,
    smtNonLocalVideoMemory
};
enum TDDDDBackBufferMemoryType { bmtDefault, bmtCompatible, bmtSystemMemory, bmtVideoMemory };

// Where a picture was read from: a file (for a texture, a resource of the program of that name
// first), or an entry of an archive.
struct TPictureFile {
    std::string FileName;
    bool operator==(const TPictureFile&) const = default;
};
struct TArchiveEntry {
    std::string ArchiveName;
    std::string EntryName;
    bool operator==(const TArchiveEntry&) const = default;
};
// A 24-bit pixel map and its 8-bit alpha map, both files or both archive entries.
struct TPixelMapFiles {
    TPictureFile Pixels;
    TPictureFile Alpha;
    bool operator==(const TPixelMapFiles&) const = default;
};
struct TPixelMapEntries {
    TArchiveEntry Pixels;
    TArchiveEntry Alpha;
    bool operator==(const TPixelMapEntries&) const = default;
};
// What an off-screen surface loads again after loss or a new set-up; nothing until a load.
using TSurfaceOrigin = std::variant<std::monostate, TPictureFile, TArchiveEntry>;
// What a texture loads again after a new set-up; nothing until a load succeeded.
using TTextureOrigin =
    std::variant<std::monostate, TPictureFile, TArchiveEntry, TPixelMapFiles, TPixelMapEntries>;

using TNotifyEvent = std::function<void(void* sender)>;
using TDDDDInitEvent = std::function<void(void* sender, bool fNeedChange)>;

// A DirectDraw surface seen with its size and description. It never releases the surface it
// wraps: whoever created the surface owns it.
class TDDDDGenSurface {
public:
    TDDDDGenSurface(TDDDD* engine, IDirectDrawSurface* surface, int width, int height);
    virtual ~TDDDDGenSurface() = default;
    TDDDDGenSurface(const TDDDDGenSurface&) = delete;
    TDDDDGenSurface& operator=(const TDDDDGenSurface&) = delete;

    IDirectDrawSurface* Surface = nullptr;
    int Width = 0;
    int Height = 0;
    DDSURFACEDESC Desc{};
    TDDDD* Engine = nullptr;
    DWORD ColorKey = 0;
    RECT ClipRect{};
    bool UseClipRect = false;
    DDSURFACEDESC LockedDesc{};
    bool Locked = false;

    virtual void LoadFromFile(const std::string& fileName);
    virtual void LoadFromArchive(const std::string& archiveName, const std::string& entryName);
    // The BMP loader: 8-bit files on an 8-bit display are copied row by row, everything else
    // is decoded and stretched to the surface's size.
    void LoadFromStream(TStream& stream);

    void Lock(DDSURFACEDESC& desc);
    void Unlock();
    void GetSurfaceDesc(DDSURFACEDESC& desc);
    bool IsLost();
    void RestoreIfLost();
    // Raw pixel bits in the surface's own format.
    DWORD GetPixel(int x, int y);
    void SetPixel(int x, int y, DWORD value);

    // Copy srcRect of this surface onto the engine's back buffer, clipped to its bounds.
    HRESULT Draw(const RECT& dstRect, const RECT& srcRect, DWORD flags, DDBLTFX fx);
    HRESULT DrawFast(int x, int y, const RECT& srcRect, DWORD flags);

protected:
    TDDDDGenSurface() = default;

private:
    void LoadBitmap(TStream& stream);
    void LoadDirect8(TStream& stream, std::int64_t bitsOffset, std::int32_t width,
                     std::int32_t height);
    void LoadDecoded(TStream& stream);
};

// An off-screen surface the application creates: it owns its DirectDraw surface, has a source
// colour key, and remembers where its picture came from so it can be loaded again.
class TDDDDSurface : public TDDDDGenSurface {
public:
    TDDDDSurface(TDDDD* engine, int width, int height, DWORD colorKey);
    ~TDDDDSurface() override;

    // The picture last asked for, kept even when its load failed, so a reload tries again.
    TSurfaceOrigin Origin;

    void Init(TDDDD* engine, int width, int height, DWORD colorKey,
              TDDDDSurfaceMemoryType memoryType);
    void LoadFromFile(const std::string& fileName) override;
    void LoadFromArchive(const std::string& archiveName, const std::string& entryName) override;
    // Loads the remembered picture again; nothing when none was loaded.
    void Reload();
};

// Drawing onto a surface through its device context. The context is taken at the first
// drawing and given back when the canvas goes; no lock or blit may touch the surface between.
class TDDDDCanvas {
public:
    explicit TDDDDCanvas(TDDDDGenSurface& genSurface);
    ~TDDDDCanvas();
    TDDDDCanvas(const TDDDDCanvas&) = delete;
    TDDDDCanvas& operator=(const TDDDDCanvas&) = delete;

    IDirectDrawSurface* Surface = nullptr;
    HDC SurfaceDC = nullptr;

    // The canvas over the surface's device context; null when the surface gives none.
    TCanvas* Handle();

private:
    std::unique_ptr<TCanvas> canvas_;
};

// A Direct3D texture made from a bitmap or from a 24-bit pixel map with an 8-bit alpha
// channel. The image is drawn into the work surface; with the hardware device it is moved into
// a separate device surface in video memory, otherwise both are one surface.
class TDDDDTexture {
public:
    explicit TDDDDTexture(TDDDD* engine);
    ~TDDDDTexture();
    TDDDDTexture(const TDDDDTexture&) = delete;
    TDDDDTexture& operator=(const TDDDDTexture&) = delete;

    TDDDDGenSurface* DeviceGenSurface = nullptr;
    TDDDDGenSurface* WorkGenSurface = nullptr;
    IDirectDrawSurface* DeviceSurface = nullptr;
    IDirectDrawSurface* WorkSurface = nullptr;
    IDirectDrawPalette* Palette = nullptr;
    D3DTEXTUREHANDLE Handle = 0;
    TDDDD* Engine = nullptr;
    bool Loaded = false;
    bool OwnsSurfaces = false;
    int KeyX = 0;
    int KeyY = 0;
    // The image the texture holds, set by a load only once the image is in.
    TTextureOrigin Origin;
    int Width = 0;
    int Height = 0;

    // A bitmap from a resource of the program or, when there is none, from a file. A key
    // pixel with a negative coordinate sets no colour key.
    void LoadFromFile(const std::string& fileName, int keyX, int keyY);
    void LoadFromArchive(const std::string& archiveName, const std::string& entryName, int keyX,
                         int keyY);
    void LoadPixelMap(const std::string& pixelFileName, const std::string& alphaFileName, int keyX,
                      int keyY);
    void LoadPixelMapFromArchive(const std::string& pixelArchiveName,
                                 const std::string& alphaArchiveName,
                                 const std::string& pixelEntryName,
                                 const std::string& alphaEntryName, int keyX, int keyY);
    // Loads the image of `origin`; the four loaders above are this with their origin.
    void Load(TTextureOrigin origin, int keyX, int keyY);
    // Loads the image it holds again, with its key pixel; nothing when none was loaded.
    void Reload();
    void RestoreTexture();
    void Transfer();

    // The device's format closest to the bitmap's depth; all zero when none qualifies.
    DDPIXELFORMAT ChooseTextureFormat(int wantedBitCount);
    // The device's RGB format with alpha closest to the desktop's depth; all zero when none.
    DDPIXELFORMAT ChooseAlphaTextureFormat();

private:
    // One loader an origin; each answers whether the image is in.
    bool LoadFrom(std::monostate, int keyX, int keyY);
    bool LoadFrom(const TPictureFile& file, int keyX, int keyY);
    bool LoadFrom(const TArchiveEntry& entry, int keyX, int keyY);
    bool LoadFrom(const TPixelMapFiles& files, int keyX, int keyY);
    bool LoadFrom(const TPixelMapEntries& entries, int keyX, int keyY);
    // Both streams start at a BMP file header. `name` is the file loaded instead when the
    // device offers no format with alpha.
    bool LoadPixelMapFromStreams(const std::string& name, TStream& pixelStream,
                                 TStream& alphaStream, int keyX, int keyY);
    // Drops the surfaces of the previous load, releasing them only while they are ours.
    void DropSurfaces();
    DDSURFACEDESC TextureDesc(const DDPIXELFORMAT& format, int width, int height) const;
    // The work and device surfaces of the format and size, with their wrappers.
    void CreateSurfaces(const DDPIXELFORMAT& format, int width, int height);
    // The palette of an 8-bit texture from the bitmap's colour table.
    void CreatePalette(const std::vector<DWORD>& table);
    // The steps every load ends with once the image is in the work surface; `transferAgain`
    // moves the image into the device surface a second time after the restore has.
    void FinishLoad(int width, int height, int keyX, int keyY, bool transferAgain);
    void SetKeyFromPixel(int keyX, int keyY);
    void TakeHandle();
    // Moves the work surface's image into the device surface.
    void LoadDeviceSurface();
};

class TDDDDSurfaceKeeper {
public:
    TDDDDSurfaceKeeper(TDDDD* engine, TDDDDSurface* surface) : Engine(engine), Surface(surface) {}
    // After surface loss: memory back, picture loaded again.
    void RestoreObject();
    // After the DirectDraw objects were made anew: a new surface from the remembered
    // description, picture loaded again.
    void RebuildObject();
    TDDDD* Engine = nullptr;
    TDDDDSurface* Surface = nullptr;
};

class TDDDDTextureKeeper {
public:
    TDDDDTextureKeeper(TDDDD* engine, TDDDDTexture* texture) : Engine(engine), Texture(texture) {}
    // After surface loss: surfaces restored, image moved to the device surface again.
    void RestoreObject();
    // After the DirectDraw objects were made anew: loaded again from the remembered source.
    void RebuildObject();
    // The DirectDraw objects are about to go, and their surfaces with them.
    void ForgetSurfaces();
    TDDDD* Engine = nullptr;
    TDDDDTexture* Texture = nullptr;
};

// Red, green and blue of the display's pixels: where each channel sits and how many of its
// eight bits it loses.
struct TPixelFormatDescription {
    DWORD RMask = 0, GMask = 0, BMask = 0;
    int RShift = 0, GShift = 0, BShift = 0;
    int RLoss = 0, GLoss = 0, BLoss = 0;
};
// Shift: zero bits below the lowest set bit (32 for an empty mask); loss: 8 minus the run of
// set bits from there, not below 0.
void DescribeMask(DWORD mask, int& shift, int& loss);

// A transformed and lit vertex with its eight values in field order.
D3DTLVERTEX MakeTLVertex(D3DVALUE sx, D3DVALUE sy, D3DVALUE sz, D3DVALUE rhw, D3DCOLOR color,
                         D3DCOLOR specular, D3DVALUE tu, D3DVALUE tv);

struct TSingleRect {
    float Left = 0, Top = 0, Right = 0, Bottom = 0;
};
TSingleRect SingleRect(float left, float top, float right, float bottom);

class TDDDD {
public:
    // Without an owner the engine takes over no form (tests drive it directly).
    explicit TDDDD(TFormBase* owner = nullptr);
    ~TDDDD();
    TDDDD(const TDDDD&) = delete;
    TDDDD& operator=(const TDDDD&) = delete;

    // After the settings were read: applies DisableScreenSaver to the system.
    void Loaded();
    void SetDisableScreenSaver(bool value);
    bool GetDisableScreenSaver() const { return disableScreenSaver_; }

    // Published settings.
    int BackColor = 0;
    bool AutoDisplayModeInitialize = true;
    bool Use3D = false;
    TD3DOptions D3DOptions = 0;
    bool VsyncAtWindowed = true;
    bool AllowRakugaki = false;
    TDDDDSurfaceMemoryType SurfaceLocation = smtDefault;
    TDDDDBackBufferMemoryType BackBufferLocationAtWindowed = bmtDefault;
    TDDDDInitEvent OnInit;
    TNotifyEvent OnRestore;
    TNotifyEvent OnChangeDisplayMode;
    TNotifyEvent OnCleanUp;
    TNotifyEvent OnEnterMenuLoop;
    TNotifyEvent OnExitMenuLoop;
    TNotifyEvent OnDestroy;

    // Mode: the one set up, or while the first set-up is pending, the one it will make.
    bool FullScreen = false;
    int ScreenWidth = 0;
    int ScreenHeight = 0;
    int BitCount = 0;
    int RefreshRate = 0;

    // DirectDraw.
    ComPtr<IDirectDraw> DirectDraw;
    ComPtr<IDirectDraw2> DirectDraw2;
    ComPtr<IDirectDrawClipper> Clipper;
    ComPtr<IDirectDrawPalette> Palette;
    std::array<PALETTEENTRY, 256> PaletteEntries{};
    // The wrappers never release their surfaces: those go with the DirectDraw object.
    std::unique_ptr<TDDDDGenSurface> PrimarySurface;
    std::unique_ptr<TDDDDGenSurface> BackBuffer;
    std::unique_ptr<TDDDDGenSurface> ZBuffer;
    // 3D.
    ComPtr<IDirect3D2> Direct3D;
    ComPtr<IDirect3DDevice2> D3DDevice;
    ComPtr<IDirect3DRM2> Direct3DRM;
    ComPtr<IDirect3DRMDevice2> D3DRMDevice;
    TD3DDeviceKind D3DDeviceKind = TD3DDeviceKind::None;
    // What the last set-up's attempt at the hardware device returned (DD_OK when it was not
    // tried or succeeded), and whether the hardware could do 3-D at all.
    HRESULT HALFailure = DD_OK;
    bool HardwareCan3D() const { return HALAvailable; }

    std::vector<std::string> Drivers;
    TPixelFormatDescription PixelFormat;
    std::vector<std::unique_ptr<TDDDDSurfaceKeeper>> SurfaceKeepers;
    std::vector<std::unique_ptr<TDDDDTextureKeeper>> TextureKeepers;

    // Stores the mode and fills the mode fields from the table.
    void SetDisplayMode(TDDDDDispMode mode);
    // Logs that the property is not for reading, then answers it.
    TDDDDDispMode GetDisplayMode();
    // Bits per pixel of the display as it is now.
    int GetDesktopBitCount() const;

    void AddSurface(TDDDDSurface* surface);
    void RemoveSurface(TDDDDSurface* surface);
    void AddTexture(TDDDDTexture* texture);
    void RemoveTexture(TDDDDTexture* texture);

    // Releases what the engine holds and builds the DirectDraw set-up for the mode.
    void InitializeScreen(bool fullScreen, int width, int height, int bitCount, int refreshRate,
                          const std::string& driverName);
    // A new DirectDraw object for the driver listed as "description (name)", or null.
    IDirectDraw* FindDriverByName(const std::string& text);
    void ReleaseAll();
    void Present();
    void ClearBackBuffer();
    void RestoreSurfaces();
    void UpdatePalette();
    bool IsDisplayModeAvailable(int width, int height, int bitCount, int refreshRate);

    void RestoreKeptObjects();
    void InvalidateTextures();
    void RebuildKeptObjects();

    // What the engine puts in place of the owner's events and window procedure.
    void FormCreateHook(void* sender);
    void FormPaintHook(void* sender);
    void EngineWndProc(TMessage& message);

    // The owner form's window and its client width and height (dmWinVariable).
    HWND Window = nullptr;
    int OwnerClientWidth = 0;
    int OwnerClientHeight = 0;

    TDDDDState State() const { return state_; }
    // Set while the DirectDraw objects are being released or made, and left set when they
    // were released without a new set-up or a set-up stopped half-way: painting then restores
    // nothing. It is no step of the life cycle: each of the first three states sees it come
    // and go with every set-up.
    bool Busy = false;

private:
    // The one place the state changes; a step back is ignored.
    void Enter(TDDDDState next);
    // The steps of InitializeScreen, in the order it takes them.
    void LeaveWindowPlace(bool fullScreen);
    void ReturnToWindowPlace(bool fullScreen);
    void OpenDirectDraw(bool fullScreen, int bitCount, const std::string& driverName);
    void CreateDriver(bool fullScreen, const std::string& driverName);
    void CreateDefaultDriver();
    struct TScreenSurfaces {
        IDirectDrawSurface* primary = nullptr;
        IDirectDrawSurface* back = nullptr;
    };
    TScreenSurfaces CreateFlippingChain(int width, int height, int bitCount, int refreshRate);
    TScreenSurfaces CreateWindowedSurfaces(int width, int height);
    // Where the windowed back buffer is asked for, from the setting and the 3D needs.
    DWORD WindowedBackBufferMemory() const;
    void AttachClipper(IDirectDrawSurface* primary);
    void RecordMode(bool fullScreen, int width, int height, int bitCount, int refreshRate,
                    const TScreenSurfaces& surfaces);
    void FillPaletteEntries(bool fullScreen);
    void CreateScreenPalette(const TScreenSurfaces& surfaces);
    // The Z-buffer, the Direct3D objects and the devices on the back buffer.
    void Initialize3D(IDirectDrawSurface* back, int width, int height);
    void CreateZBuffer(IDirectDrawSurface* back, int width, int height, bool hal);
    void CreateRetainedMode();
    void CreateDevice(IDirectDrawSurface* back, bool hal);
    void DescribeBackBufferFormat();

    // Takes the owner's window; when it is new, puts the engine's procedure on it again.
    void TakeWindow();
    void InstallWindowProc();
    TFormBase* Owner = nullptr;
    bool HALAvailable = false;
    bool UsingHAL = false;
    TFormEvent previousOnCreate_;
    TFormEvent previousOnPaint_;
    TWndMethod previousWindowProc_;
    bool windowProcInstalled_ = false;
    // Where the window was before the engine went full screen, until it returns to a window.
    std::optional<RECT> windowedBounds_;
    bool screenSaverWasActive_ = true;
    bool disableScreenSaver_ = true;
    TDDDDDispMode displayMode_ = dmWin640x480x8;
    TDDDDState state_ = TDDDDState::PendingFirstInit;
};
