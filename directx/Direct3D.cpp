// Direct3D immediate mode in software: devices of the adapter's kinds, viewports, render
// states, texture handles and DrawPrimitive through the rasteriser.
#include "Direct3DObjects.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace directx {

namespace {

HRESULT Fault(const char* method) {
    return Adapter().Intercept(method);
}

SoftSurface* Ours(IDirectDrawSurface* surface) {
    return static_cast<SoftSurface*>(surface);
}

std::map<SoftDirectDraw*, SoftDirect3D*>& Direct3DObjects() {
    static std::map<SoftDirectDraw*, SoftDirect3D*> objects;
    return objects;
}

bool KindOf(REFCLSID id, DeviceKind* kind) {
    if (id == IID_IDirect3DHALDevice)
        *kind = DeviceKind::HAL;
    else if (id == IID_IDirect3DMMXDevice)
        *kind = DeviceKind::MMX;
    else if (id == IID_IDirect3DRGBDevice)
        *kind = DeviceKind::RGB;
    else if (id == IID_IDirect3DRampDevice)
        *kind = DeviceKind::Ramp;
    else
        return false;
    return true;
}

bool Drawable(const PixelFormat& format) {
    const int bits = format.bitsPerPixel;
    return !format.IsZBuffer() && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
}

DWORD DefaultState(int state) {
    switch (state) {
    case D3DRENDERSTATE_TEXTUREADDRESS:
    case D3DRENDERSTATE_TEXTUREADDRESSU:
    case D3DRENDERSTATE_TEXTUREADDRESSV:
        return D3DTADDRESS_WRAP;
    case D3DRENDERSTATE_TEXTUREPERSPECTIVE:
    case D3DRENDERSTATE_ZWRITEENABLE:
    case D3DRENDERSTATE_LASTPIXEL:
        return TRUE;
    case D3DRENDERSTATE_FILLMODE:
        return D3DFILL_SOLID;
    case D3DRENDERSTATE_SHADEMODE:
        return D3DSHADE_GOURAUD;
    case D3DRENDERSTATE_TEXTUREMAG:
    case D3DRENDERSTATE_TEXTUREMIN:
        return D3DFILTER_NEAREST;
    case D3DRENDERSTATE_SRCBLEND:
        return D3DBLEND_ONE;
    case D3DRENDERSTATE_DESTBLEND:
        return D3DBLEND_ZERO;
    case D3DRENDERSTATE_TEXTUREMAPBLEND:
        return D3DTBLEND_MODULATE;
    case D3DRENDERSTATE_CULLMODE:
        return D3DCULL_CCW;
    case D3DRENDERSTATE_ZFUNC:
        return D3DCMP_LESSEQUAL;
    case D3DRENDERSTATE_ALPHAFUNC:
        return D3DCMP_ALWAYS;
    case D3DRENDERSTATE_PLANEMASK:
        return 0xFFFFFFFF;
    default:
        return 0;
    }
}

HRESULT Usable(SoftSurface* surface) {
    if (surface->Lost())
        return DDERR_SURFACELOST;
    if (surface->Busy())
        return DDERR_SURFACEBUSY;
    return DD_OK;
}

} // namespace

HRESULT QueryDirect3D(SoftDirectDraw& dd, REFIID riid, LPVOID* out) {
    if (riid != IID_IDirect3D2)
        return E_NOINTERFACE;
    *out = static_cast<IDirect3D2*>(SoftDirect3D::For(dd));
    return S_OK;
}

HRESULT QueryTexture(SoftSurface& surface, REFIID riid, LPVOID* out) {
    if (riid != IID_IDirect3DTexture2 || !(surface.Caps() & DDSCAPS_TEXTURE))
        return E_NOINTERFACE;
    *out = static_cast<IDirect3DTexture2*>(new SoftTexture(&surface));
    return S_OK;
}

void ForgetTexture(SoftSurface& surface) {
    for (SoftDevice* device : SoftDevice::Live())
        device->Forget(&surface);
}

// ---- Direct3D object ----

SoftDirect3D::SoftDirect3D(SoftDirectDraw* dd) : dd_(dd) {
    dd_->Second()->AddRef();
}

SoftDirect3D* SoftDirect3D::For(SoftDirectDraw& dd) {
    auto& objects = Direct3DObjects();
    const auto found = objects.find(&dd);
    if (found != objects.end()) {
        found->second->AddRef();
        return found->second;
    }
    auto* object = new SoftDirect3D(&dd);
    objects[&dd] = object;
    return object;
}

HRESULT SoftDirect3D::QueryInterface(REFIID riid, LPVOID* ppvObj) {
    if (HRESULT f = Fault("IDirect3D2::QueryInterface"))
        return f;
    return AnswerQuery<IDirect3D2>(this, IID_IDirect3D2, riid, ppvObj,
                                   [&] { return dd_->Query(riid, ppvObj); });
}

void SoftDirect3D::LastRelease() {
    Direct3DObjects().erase(dd_);
    IDirectDraw2* dd = dd_->Second();
    delete this;
    dd->Release();
}

HRESULT SoftDirect3D::CreateViewport(IDirect3DViewport2** out, IUnknown* outer) {
    if (HRESULT f = Fault("IDirect3D2::CreateViewport"))
        return f;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (!out)
        return DDERR_INVALIDPARAMS;
    *out = new SoftViewport();
    return D3D_OK;
}

HRESULT SoftDirect3D::CreateDevice(REFCLSID rclsid, LPDIRECTDRAWSURFACE lpDDS,
                                   IDirect3DDevice2** out) {
    if (HRESULT f = Fault("IDirect3D2::CreateDevice"))
        return f;
    if (!out || !lpDDS)
        return DDERR_INVALIDPARAMS;
    *out = nullptr;
    DeviceKind kind{};
    if (!KindOf(rclsid, &kind))
        return D3DERR_INVALID_DEVICE;
    const std::string perKind =
        std::string("IDirect3D2::CreateDevice(") + DeviceKindName(kind) + ")";
    if (HRESULT f = Fault(perKind.c_str()))
        return f;
    if (!Adapter().direct3d.Device(kind).available)
        return D3DERR_INVALID_DEVICE;
    SoftSurface* target = Ours(lpDDS);
    if (target->Lost())
        return DDERR_SURFACELOST;
    if (!(target->Caps() & DDSCAPS_3DDEVICE))
        return DDERR_INVALIDCAPS;
    if (!Drawable(target->Format()))
        return DDERR_INVALIDPIXELFORMAT;
    SoftSurface* depth = nullptr;
    for (SoftSurface* s : target->Attached())
        if (s->Format().IsZBuffer())
            depth = s;
    if (kind == DeviceKind::HAL) {
        // Hardware draws only in display memory: the driver must do 3-D, and the target and
        // its Z-buffer must lie in video memory.
        if (!(dd_->Driver().hardwareCaps & DDCAPS_3D))
            return D3DERR_INVALID_DEVICE;
        if (!(target->Caps() & DDSCAPS_VIDEOMEMORY))
            return D3DERR_SURFACENOTINVIDMEM;
        if (!depth || !(depth->Caps() & DDSCAPS_VIDEOMEMORY))
            return D3DERR_ZBUFF_NEEDS_VIDEOMEMORY;
    }
    *out = new SoftDevice(kind, this, target);
    return D3D_OK;
}

// ---- Device ----

SoftDevice::SoftDevice(DeviceKind kind, SoftDirect3D* direct3d, SoftSurface* target)
    : kind_(kind), direct3d_(direct3d), target_(target) {
    direct3d_->AddRef();
    target_->AddRef();
    for (int i = 0; i < 256; ++i)
        states_[i] = DefaultState(i);
    Live().push_back(this);
}

SoftDevice::~SoftDevice() {
    auto& live = Live();
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
}

std::vector<SoftDevice*>& SoftDevice::Live() {
    // Never destroyed: surfaces the adapter frees as the program ends still ask it.
    static auto* devices = new std::vector<SoftDevice*>;
    return *devices;
}

HRESULT SoftDevice::QueryInterface(REFIID riid, LPVOID* ppvObj) {
    if (HRESULT f = Fault("IDirect3DDevice2::QueryInterface"))
        return f;
    return AnswerQuery<IDirect3DDevice2>(this, IID_IDirect3DDevice2, riid, ppvObj);
}

void SoftDevice::LastRelease() {
    const std::vector<SoftViewport*> viewports = std::move(viewports_);
    viewports_.clear();
    for (SoftViewport* viewport : viewports) {
        viewport->device = nullptr;
        viewport->Release();
    }
    SoftSurface* target = target_;
    SoftDirect3D* direct3d = direct3d_;
    delete this;
    target->Release();
    direct3d->Release();
}

bool SoftDevice::Has(SoftViewport* viewport) const {
    return std::find(viewports_.begin(), viewports_.end(), viewport) != viewports_.end();
}

HRESULT SoftDevice::AddViewport(IDirect3DViewport2* lpViewport) {
    if (HRESULT f = Fault("IDirect3DDevice2::AddViewport"))
        return f;
    auto* viewport = static_cast<SoftViewport*>(lpViewport);
    if (!viewport || viewport->device)
        return DDERR_INVALIDPARAMS;
    viewport->AddRef();
    viewport->device = this;
    viewports_.push_back(viewport);
    return D3D_OK;
}

HRESULT SoftDevice::DeleteViewport(IDirect3DViewport2* lpViewport) {
    if (HRESULT f = Fault("IDirect3DDevice2::DeleteViewport"))
        return f;
    auto* viewport = static_cast<SoftViewport*>(lpViewport);
    if (!viewport || !Has(viewport))
        return DDERR_INVALIDPARAMS;
    viewports_.erase(std::find(viewports_.begin(), viewports_.end(), viewport));
    if (current_ == viewport)
        current_ = nullptr;
    viewport->device = nullptr;
    viewport->Release();
    return D3D_OK;
}

HRESULT SoftDevice::EnumTextureFormats(LPD3DENUMTEXTUREFORMATSCALLBACK callback, LPVOID arg) {
    if (HRESULT f = Fault("IDirect3DDevice2::EnumTextureFormats"))
        return f;
    if (!callback)
        return DDERR_INVALIDPARAMS;
    // A copy: a callback may change what the adapter offers.
    const std::vector<DDPIXELFORMAT> formats = Adapter().direct3d.Device(kind_).textureFormats;
    for (const DDPIXELFORMAT& format : formats) {
        DDSURFACEDESC desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DDSD_CAPS | DDSD_PIXELFORMAT;
        desc.ddsCaps.dwCaps = DDSCAPS_TEXTURE;
        desc.ddpfPixelFormat = format;
        if (callback(&desc, arg) == DDENUMRET_CANCEL)
            break;
    }
    return D3D_OK;
}

HRESULT SoftDevice::BeginScene() {
    if (HRESULT f = Fault("IDirect3DDevice2::BeginScene"))
        return f;
    if (inScene_)
        return D3DERR_SCENE_IN_SCENE;
    inScene_ = true;
    return D3D_OK;
}

HRESULT SoftDevice::EndScene() {
    if (HRESULT f = Fault("IDirect3DDevice2::EndScene"))
        return f;
    if (!inScene_)
        return D3DERR_SCENE_NOT_IN_SCENE;
    inScene_ = false;
    return D3D_OK;
}

HRESULT SoftDevice::GetDirect3D(IDirect3D2** out) {
    if (!out)
        return DDERR_INVALIDPARAMS;
    direct3d_->AddRef();
    *out = direct3d_;
    return D3D_OK;
}

HRESULT SoftDevice::SetCurrentViewport(IDirect3DViewport2* lpViewport) {
    if (HRESULT f = Fault("IDirect3DDevice2::SetCurrentViewport"))
        return f;
    auto* viewport = static_cast<SoftViewport*>(lpViewport);
    if (!viewport || !Has(viewport))
        return DDERR_INVALIDPARAMS;
    current_ = viewport;
    return D3D_OK;
}

HRESULT SoftDevice::GetCurrentViewport(IDirect3DViewport2** out) {
    if (!out)
        return DDERR_INVALIDPARAMS;
    *out = current_;
    if (!current_)
        return D3DERR_NOCURRENTVIEWPORT;
    current_->AddRef();
    return D3D_OK;
}

HRESULT SoftDevice::GetRenderTarget(LPDIRECTDRAWSURFACE* out) {
    if (!out)
        return DDERR_INVALIDPARAMS;
    target_->AddRef();
    *out = target_;
    return D3D_OK;
}

HRESULT SoftDevice::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (!value || state == 0 || state >= states_.size())
        return DDERR_INVALIDPARAMS;
    *value = states_[state];
    return D3D_OK;
}

HRESULT SoftDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    Adapter().RecordRenderState(state, value);
    if (HRESULT f = Fault("IDirect3DDevice2::SetRenderState"))
        return f;
    if (state == 0 || state >= states_.size())
        return DDERR_INVALIDPARAMS;
    // States a software device does not act on (dither, stippled alpha, fog, ...) are kept
    // and answered, and change nothing in the picture.
    states_[state] = value;
    if (state == D3DRENDERSTATE_TEXTUREADDRESS)
        states_[D3DRENDERSTATE_TEXTUREADDRESSU] = states_[D3DRENDERSTATE_TEXTUREADDRESSV] = value;
    return D3D_OK;
}

D3DTEXTUREHANDLE SoftDevice::HandleFor(SoftSurface* surface) {
    for (const auto& [handle, known] : textures_)
        if (known == surface)
            return handle;
    const D3DTEXTUREHANDLE handle = nextHandle_++;
    textures_[handle] = surface;
    return handle;
}

void SoftDevice::Forget(SoftSurface* surface) {
    for (auto it = textures_.begin(); it != textures_.end();)
        it = it->second == surface ? textures_.erase(it) : std::next(it);
}

SoftSurface* SoftDevice::DepthBuffer() const {
    for (SoftSurface* s : target_->Attached())
        if (s->Format().IsZBuffer() && !s->Lost() && s->Width() >= target_->Width() &&
            s->Height() >= target_->Height())
            return s;
    return nullptr;
}

RasterTarget SoftDevice::DescribeTarget(SoftSurface& surface) {
    const PixelPlane plane = surface.Plane();
    RasterTarget target;
    target.bits = plane.bits;
    target.pitch = plane.pitch;
    target.width = plane.width;
    target.height = plane.height;
    target.format = surface.Format();
    target.palette = surface.Palette() ? surface.Palette()->Colors() : nullptr;
    return target;
}

RasterDepth SoftDevice::DescribeDepth(SoftSurface& surface) {
    const PixelPlane plane = surface.Plane();
    return RasterDepth{plane.bits,
                       plane.pitch,
                       plane.width,
                       plane.height,
                       plane.bytesPerPixel * 8,
                       surface.Format().depthBits};
}

HRESULT SoftDevice::DrawPrimitive(D3DPRIMITIVETYPE type, D3DVERTEXTYPE vertexType, LPVOID vertices,
                                  DWORD count, DWORD /*flags*/) {
    if (HRESULT f = Fault("IDirect3DDevice2::DrawPrimitive"))
        return f;
    if (type < D3DPT_POINTLIST || type > D3DPT_TRIANGLEFAN)
        return D3DERR_INVALIDPRIMITIVETYPE;
    // Only pre-transformed, lit vertices: this device has no transform or lighting stage.
    if (vertexType != D3DVT_TLVERTEX)
        return D3DERR_INVALIDVERTEXTYPE;
    if (type != D3DPT_TRIANGLELIST && type != D3DPT_TRIANGLESTRIP && type != D3DPT_TRIANGLEFAN)
        return DDERR_UNSUPPORTED; // points and lines are not drawn by this rasteriser
    if (!vertices && count)
        return DDERR_INVALIDPARAMS;
    if (!current_)
        return D3DERR_NOCURRENTVIEWPORT;
    if (!current_->HasData())
        return D3DERR_VIEWPORTDATANOTSET;
    if (HRESULT r = Usable(target_))
        return r;

    RasterStates rs;
    RasterTexture texture;
    if (const DWORD handle = states_[D3DRENDERSTATE_TEXTUREHANDLE]) {
        const auto found = textures_.find(handle);
        if (found == textures_.end())
            return DDERR_INVALIDPARAMS;
        SoftSurface* surface = found->second;
        if (HRESULT r = Usable(surface))
            return r;
        const PixelPlane plane = surface->Plane();
        texture.bits = plane.bits;
        texture.pitch = plane.pitch;
        texture.width = plane.width;
        texture.height = plane.height;
        texture.format = surface->Format();
        texture.palette = surface->Palette() ? surface->Palette()->Colors() : nullptr;
        texture.version = surface->Version();
        if (const DDCOLORKEY* key = surface->SourceColorKey()) {
            texture.hasColorKey = true;
            texture.keyLow = key->dwColorSpaceLowValue;
            texture.keyHigh = key->dwColorSpaceHighValue;
        }
        rs.texture = &texture;
    }
    rs.magFilter = static_cast<D3DTEXTUREFILTER>(states_[D3DRENDERSTATE_TEXTUREMAG]);
    rs.minFilter = static_cast<D3DTEXTUREFILTER>(states_[D3DRENDERSTATE_TEXTUREMIN]);
    rs.textureBlend = static_cast<D3DTEXTUREBLEND>(states_[D3DRENDERSTATE_TEXTUREMAPBLEND]);
    rs.addressU = static_cast<D3DTEXTUREADDRESS>(states_[D3DRENDERSTATE_TEXTUREADDRESSU]);
    rs.addressV = static_cast<D3DTEXTUREADDRESS>(states_[D3DRENDERSTATE_TEXTUREADDRESSV]);
    rs.perspective = states_[D3DRENDERSTATE_TEXTUREPERSPECTIVE] != 0;
    rs.colorKeyEnable = states_[D3DRENDERSTATE_COLORKEYENABLE] != 0;
    rs.blendEnable = states_[D3DRENDERSTATE_BLENDENABLE] != 0;
    rs.srcBlend = static_cast<D3DBLEND>(states_[D3DRENDERSTATE_SRCBLEND]);
    rs.destBlend = static_cast<D3DBLEND>(states_[D3DRENDERSTATE_DESTBLEND]);
    rs.zEnable = states_[D3DRENDERSTATE_ZENABLE] != 0;
    rs.zWrite = states_[D3DRENDERSTATE_ZWRITEENABLE] != 0;
    rs.zFunc = static_cast<D3DCMPFUNC>(states_[D3DRENDERSTATE_ZFUNC]);
    rs.cullMode = static_cast<D3DCULL>(states_[D3DRENDERSTATE_CULLMODE]);
    rs.shadeMode = static_cast<D3DSHADEMODE>(states_[D3DRENDERSTATE_SHADEMODE]);

    const RasterTarget target = DescribeTarget(*target_);
    SoftSurface* depthSurface = DepthBuffer();
    RasterDepth depth;
    if (depthSurface)
        depth = DescribeDepth(*depthSurface);
    rasterizer_.Draw(target, depthSurface ? &depth : nullptr, rs, current_->Rect(), type,
                     static_cast<const D3DTLVERTEX*>(vertices), count);
    // The target may be another draw's texture.
    target_->Touch();
    if (depthSurface && rs.zEnable && rs.zWrite)
        depthSurface->Touch();
    return D3D_OK;
}

// ---- Viewport ----

HRESULT SoftViewport::QueryInterface(REFIID riid, LPVOID* ppvObj) {
    return AnswerQuery<IDirect3DViewport2>(this, IID_IDirect3DViewport2, riid, ppvObj);
}

D3DRECT SoftViewport::Rect() const {
    // Far beyond any surface is as good as the surface's edge.
    auto clamp = [](std::uint64_t v) {
        return static_cast<LONG>(std::min<std::uint64_t>(v, 1u << 30));
    };
    return D3DRECT{clamp(data_.dwX), clamp(data_.dwY),
                   clamp(std::uint64_t{data_.dwX} + data_.dwWidth),
                   clamp(std::uint64_t{data_.dwY} + data_.dwHeight)};
}

HRESULT SoftViewport::SetViewport2(LPD3DVIEWPORT2 data) {
    if (HRESULT f = Fault("IDirect3DViewport2::SetViewport2"))
        return f;
    if (!data || data->dwSize != sizeof(D3DVIEWPORT2) || data->dwWidth == 0 ||
        data->dwHeight == 0 || data->dwWidth > (1u << 20) || data->dwHeight > (1u << 20))
        return DDERR_INVALIDPARAMS;
    if (!device)
        return D3DERR_VIEWPORTHASNODEVICE;
    data_ = *data;
    hasData_ = true;
    return D3D_OK;
}

HRESULT SoftViewport::GetViewport2(LPD3DVIEWPORT2 data) {
    if (!data || data->dwSize != sizeof(D3DVIEWPORT2))
        return DDERR_INVALIDPARAMS;
    if (!hasData_)
        return D3DERR_VIEWPORTDATANOTSET;
    *data = data_;
    return D3D_OK;
}

HRESULT SoftViewport::Clear(DWORD count, LPD3DRECT rects, DWORD flags) {
    if (HRESULT f = Fault("IDirect3DViewport2::Clear"))
        return f;
    if ((count && !rects) || !(flags & (D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER)) ||
        (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER)))
        return DDERR_INVALIDPARAMS;
    if (!device)
        return D3DERR_VIEWPORTHASNODEVICE;
    if (!hasData_)
        return D3DERR_VIEWPORTDATANOTSET;
    SoftSurface* targetSurface = device->Target();
    if (HRESULT r = Usable(targetSurface))
        return r;
    SoftSurface* depthSurface = device->DepthBuffer();
    const RasterTarget target = SoftDevice::DescribeTarget(*targetSurface);
    RasterDepth depth;
    if (depthSurface)
        depth = SoftDevice::DescribeDepth(*depthSurface);
    const D3DRECT area = Rect();
    for (DWORD i = 0; i < count; ++i) {
        // Only the part inside the viewport is cleared.
        const D3DRECT r{std::max(rects[i].x1, area.x1), std::max(rects[i].y1, area.y1),
                        std::min(rects[i].x2, area.x2), std::min(rects[i].y2, area.y2)};
        if (flags & D3DCLEAR_TARGET)
            device->Raster().ClearTarget(target, r, 0); // the background: black
        if ((flags & D3DCLEAR_ZBUFFER) && depthSurface)
            Rasterizer::ClearDepth(depth, r, 1.0f);
    }
    if (flags & D3DCLEAR_TARGET)
        targetSurface->Touch();
    if ((flags & D3DCLEAR_ZBUFFER) && depthSurface)
        depthSurface->Touch();
    return D3D_OK;
}

// ---- Texture ----

SoftTexture::SoftTexture(SoftSurface* surface) : surface_(surface) {
    surface_->AddRef();
}

HRESULT SoftTexture::QueryInterface(REFIID riid, LPVOID* ppvObj) {
    return AnswerQuery<IDirect3DTexture2>(this, IID_IDirect3DTexture2, riid, ppvObj,
                                          [&] { return surface_->QueryInterface(riid, ppvObj); });
}

void SoftTexture::LastRelease() {
    SoftSurface* surface = surface_;
    delete this;
    surface->Release();
}

HRESULT SoftTexture::GetHandle(IDirect3DDevice2* lpDevice, D3DTEXTUREHANDLE* handle) {
    if (HRESULT f = Fault("IDirect3DTexture2::GetHandle"))
        return f;
    if (!lpDevice || !handle)
        return DDERR_INVALIDPARAMS;
    if (surface_->Lost())
        return DDERR_SURFACELOST;
    *handle = static_cast<SoftDevice*>(lpDevice)->HandleFor(surface_);
    return D3D_OK;
}

HRESULT SoftTexture::PaletteChanged(DWORD, DWORD) {
    // Every draw reads the palette as it is then.
    return D3D_OK;
}

HRESULT SoftTexture::Load(IDirect3DTexture2* lpSource) {
    if (HRESULT f = Fault("IDirect3DTexture2::Load"))
        return f;
    if (!lpSource)
        return DDERR_INVALIDPARAMS;
    SoftSurface* source = static_cast<SoftTexture*>(lpSource)->Surface();
    if (source == surface_)
        return D3D_OK;
    if (HRESULT r = Usable(source))
        return r;
    if (HRESULT r = Usable(surface_))
        return r;
    if (source->Width() != surface_->Width() || source->Height() != surface_->Height() ||
        !(source->Format() == surface_->Format()))
        return D3DERR_TEXTURE_LOAD_FAILED;
    const PixelPlane from = source->Plane(), to = surface_->Plane();
    const std::size_t rowBytes = static_cast<std::size_t>(from.width) * from.bytesPerPixel;
    for (int y = 0; y < from.height; ++y)
        std::memcpy(to.Row(y), from.Row(y), rowBytes);
    surface_->Touch();
    // A palettised texture brings its colours along.
    if (SoftPalette* palette = source->Palette()) {
        if (SoftPalette* own = surface_->Palette(); own && own != palette) {
            PALETTEENTRY entries[256];
            palette->GetEntries(0, 0, 256, entries);
            own->SetEntries(0, 0, 256, entries);
        } else if (!own) {
            surface_->SetPalette(palette);
        }
    }
    return D3D_OK;
}

} // namespace directx
