// Direct3D devices: render states, texture handles and DrawPrimitive through the rasteriser.
#include "SoftDevice.h"

#include "DisplayAdapter.h"
#include "SoftDirect3D.h"
#include "SoftPalette.h"
#include "SoftSurface.h"
#include "SoftViewport.h"

#include <algorithm>

namespace directx {

namespace {

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

} // namespace

void ForgetTexture(SoftSurface& surface) {
    for (SoftDevice* device : SoftDevice::Live())
        device->Forget(&surface);
}

HRESULT SoftDevice::Usable(SoftSurface* surface) {
    if (surface->Lost())
        return DDERR_SURFACELOST;
    if (surface->Busy())
        return DDERR_SURFACEBUSY;
    return DD_OK;
}

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
    return HandOut(current_, out, D3DERR_NOCURRENTVIEWPORT);
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

namespace {

// A palettised surface's colours; none for other formats, or without a palette (the
// rasteriser then reads indices as a colour cube).
const DWORD* Colors(const SoftSurface& surface) {
    return surface.Palette() ? surface.Palette()->Colors() : nullptr;
}

} // namespace

RasterTarget SoftDevice::DescribeTarget(SoftSurface& surface) {
    return RasterTarget{surface.Block(), surface.Format(), Colors(surface)};
}

RasterDepth SoftDevice::DescribeDepth(SoftSurface& surface) {
    return RasterDepth{surface.Block(), surface.Format().BytesPerPixel() * 8,
                       surface.Format().depthBits};
}

GpuRaster* SoftDevice::GpuBackEnd(SoftSurface* depth, SoftSurface* texture) const {
    if (kind_ != DeviceKind::HAL || !target_->Gpu() || target_->VisiblePrimary() ||
        !GpuRaster::Draws(target_->Format()))
        return nullptr;
    if (depth && (!depth->Gpu() || depth->Format().BytesPerPixel() < 2))
        return nullptr;
    if (texture && !texture->Gpu())
        return nullptr;
    return GpuRaster::Get();
}

GpuRaster::Target SoftDevice::GpuTarget(SoftSurface& target, SoftSurface* depth) {
    GpuRaster::Target t;
    t.color = target.Gpu();
    t.colorHost = target.Plane();
    t.format = target.Format();
    if (depth) {
        t.depth = depth->Gpu();
        t.depthHost = depth->Plane();
        t.depthBits = depth->Format().depthBits;
    }
    return t;
}

GpuRaster::Texture SoftDevice::DescribeGpuTexture(SoftSurface& surface) {
    GpuRaster::Texture t;
    t.store = surface.Gpu();
    t.host = surface.Plane();
    t.format = surface.Format();
    t.palette = Colors(surface);
    if (const DDCOLORKEY* key = surface.SourceColorKey()) {
        t.hasColorKey = true;
        t.keyLow = key->dwColorSpaceLowValue;
        t.keyHigh = key->dwColorSpaceHighValue;
    }
    return t;
}

RasterTexture SoftDevice::DescribeTexture(SoftSurface& surface) {
    RasterTexture texture{surface.Block(), surface.Format(), Colors(surface)};
    texture.version = surface.Version();
    if (const DDCOLORKEY* key = surface.SourceColorKey()) {
        texture.hasColorKey = true;
        texture.keyLow = key->dwColorSpaceLowValue;
        texture.keyHigh = key->dwColorSpaceHighValue;
    }
    return texture;
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
    if (HRESULT r = SoftDevice::Usable(target_))
        return r;

    RasterStates rs;
    RasterTexture texture;
    SoftSurface* textureSurface = nullptr;
    if (const DWORD handle = states_[D3DRENDERSTATE_TEXTUREHANDLE]) {
        const auto found = textures_.find(handle);
        if (found == textures_.end())
            return DDERR_INVALIDPARAMS;
        textureSurface = found->second;
        if (HRESULT r = SoftDevice::Usable(textureSurface))
            return r;
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

    SoftSurface* depthSurface = DepthBuffer();
    const D3DRECT area = current_->Rect();
    SoftSurface* tested = rs.zEnable ? depthSurface : nullptr;
    if (GpuRaster* gpu = GpuBackEnd(tested, textureSurface)) {
        GpuRaster::Texture gpuTexture;
        if (textureSurface)
            gpuTexture = DescribeGpuTexture(*textureSurface);
        gpu->Draw(GpuTarget(*target_, tested), rs, textureSurface ? &gpuTexture : nullptr, area,
                  type, static_cast<const D3DTLVERTEX*>(vertices), count);
        target_->Touch();
        if (tested && rs.zWrite)
            tested->Touch();
        return D3D_OK;
    }
    if (textureSurface) {
        textureSurface->Settle(); // the GPU's blits into it read back
        texture = DescribeTexture(*textureSurface);
        rs.texture = &texture;
    }
    const RasterTarget target = DescribeTarget(*target_);
    RasterDepth depth;
    if (depthSurface)
        depth = DescribeDepth(*depthSurface);
    const RECT written{area.x1, area.y1, area.x2, area.y2};
    const auto draw = [&] {
        rasterizer_.Draw(target, depthSurface ? &depth : nullptr, rs, area, type,
                         static_cast<const D3DTLVERTEX*>(vertices), count);
    };
    // The target may be another draw's texture, or a picture on the screen; either may have
    // its pixels on the GPU.
    target_->Write(written, [&] {
        if (tested && rs.zWrite) {
            tested->Write(written, draw);
            return;
        }
        if (tested)
            tested->Settle(); // read, not written
        draw();
    });
    return D3D_OK;
}

} // namespace directx
