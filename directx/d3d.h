#pragma once
// Direct3D immediate mode of DirectX 5: results, interface identifiers and the interfaces the
// display engine calls, under their DirectX names.
#include "d3dtypes.h"
#include "ddraw.h"

constexpr HRESULT D3D_OK = DD_OK;
constexpr HRESULT D3DERR_INVALID_DEVICE = MakeDDHResult(705);
constexpr HRESULT D3DERR_INITFAILED = MakeDDHResult(706);
constexpr HRESULT D3DERR_TEXTURE_NO_SUPPORT = MakeDDHResult(720);
constexpr HRESULT D3DERR_TEXTURE_LOAD_FAILED = MakeDDHResult(725);
constexpr HRESULT D3DERR_TEXTURE_GETSURF_FAILED = MakeDDHResult(729);
constexpr HRESULT D3DERR_SETVIEWPORTDATA_FAILED = MakeDDHResult(734);
constexpr HRESULT D3DERR_INVALIDCURRENTVIEWPORT = MakeDDHResult(735);
constexpr HRESULT D3DERR_INVALIDPRIMITIVETYPE = MakeDDHResult(736);
constexpr HRESULT D3DERR_INVALIDVERTEXTYPE = MakeDDHResult(737);
constexpr HRESULT D3DERR_TEXTURE_BADSIZE = MakeDDHResult(738);
constexpr HRESULT D3DERR_ZBUFF_NEEDS_SYSTEMMEMORY = MakeDDHResult(745);
constexpr HRESULT D3DERR_ZBUFF_NEEDS_VIDEOMEMORY = MakeDDHResult(746);
constexpr HRESULT D3DERR_SURFACENOTINVIDMEM = MakeDDHResult(747);
constexpr HRESULT D3DERR_SCENE_IN_SCENE = MakeDDHResult(760);
constexpr HRESULT D3DERR_SCENE_NOT_IN_SCENE = MakeDDHResult(761);
constexpr HRESULT D3DERR_NOVIEWPORTS = MakeDDHResult(772);
constexpr HRESULT D3DERR_VIEWPORTDATANOTSET = MakeDDHResult(773);
constexpr HRESULT D3DERR_VIEWPORTHASNODEVICE = MakeDDHResult(774);
constexpr HRESULT D3DERR_NOCURRENTVIEWPORT = MakeDDHResult(775);

using REFCLSID = const GUID&;

constexpr IID IID_IDirect3D = {
    0x3BBA0080, 0x2421, 0x11CF, {0xA3, 0x1A, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};
constexpr IID IID_IDirect3DRampDevice = {
    0xF2086B20, 0x259F, 0x11CF, {0xA3, 0x1A, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};
constexpr IID IID_IDirect3DRGBDevice = {
    0xA4665C60, 0x2673, 0x11CF, {0xA3, 0x1A, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};
constexpr IID IID_IDirect3DHALDevice = {
    0x84E63DE0, 0x46AA, 0x11CF, {0x81, 0x6F, 0x00, 0x00, 0xC0, 0x20, 0x15, 0x6E}};
constexpr IID IID_IDirect3DMMXDevice = {
    0x881949A1, 0xD6F3, 0x11D0, {0x89, 0xAB, 0x00, 0xA0, 0xC9, 0x05, 0x41, 0x29}};
constexpr IID IID_IDirect3DDevice2 = {
    0x93281501, 0x8CF8, 0x11D0, {0x89, 0xAB, 0x00, 0xA0, 0xC9, 0x05, 0x41, 0x29}};
constexpr IID IID_IDirect3DTexture = {
    0x2CDCD9E0, 0x25A0, 0x11CF, {0xA3, 0x1A, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};
constexpr IID IID_IDirect3DViewport2 = {
    0x93281500, 0x8CF8, 0x11D0, {0x89, 0xAB, 0x00, 0xA0, 0xC9, 0x05, 0x41, 0x29}};

class IDirect3DDevice2;
class IDirect3DViewport2;

class IDirect3DTexture2 : public IUnknown {
public:
    // The handle that names this texture to one device in D3DRENDERSTATE_TEXTUREHANDLE.
    virtual HRESULT GetHandle(IDirect3DDevice2* lpDirect3DDevice2, D3DTEXTUREHANDLE* lpHandle) = 0;
    virtual HRESULT PaletteChanged(DWORD dwStart, DWORD dwCount) = 0;
    // Copies the texels (and colours) of another texture of the same size and format.
    virtual HRESULT Load(IDirect3DTexture2* lpD3DTexture2) = 0;
};

class IDirect3DViewport2 : public IUnknown {
public:
    virtual HRESULT Clear(DWORD dwCount, LPD3DRECT lpRects, DWORD dwFlags) = 0;
    virtual HRESULT GetViewport2(LPD3DVIEWPORT2 lpData) = 0;
    virtual HRESULT SetViewport2(LPD3DVIEWPORT2 lpData) = 0;
};

using LPD3DENUMTEXTUREFORMATSCALLBACK = HRESULT (*)(LPDDSURFACEDESC lpDdsd, LPVOID lpContext);

class IDirect3D2;

class IDirect3DDevice2 : public IUnknown {
public:
    virtual HRESULT AddViewport(IDirect3DViewport2* lpDirect3DViewport2) = 0;
    virtual HRESULT DeleteViewport(IDirect3DViewport2* lpDirect3DViewport2) = 0;
    virtual HRESULT EnumTextureFormats(LPD3DENUMTEXTUREFORMATSCALLBACK lpD3DEnumTextureProc,
                                       LPVOID lpArg) = 0;
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    virtual HRESULT GetDirect3D(IDirect3D2** lplpD3D) = 0;
    virtual HRESULT SetCurrentViewport(IDirect3DViewport2* lpd3dViewport2) = 0;
    virtual HRESULT GetCurrentViewport(IDirect3DViewport2** lplpd3dViewport2) = 0;
    virtual HRESULT GetRenderTarget(LPDIRECTDRAWSURFACE* lplpRenderTarget) = 0;
    virtual HRESULT GetRenderState(D3DRENDERSTATETYPE dwRenderStateType,
                                   DWORD* lpdwRenderState) = 0;
    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE dwRenderStateType, DWORD dwRenderState) = 0;
    virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE dptPrimitiveType, D3DVERTEXTYPE dvtVertexType,
                                  LPVOID lpvVertices, DWORD dwVertexCount, DWORD dwFlags) = 0;
};

class IDirect3D2 : public IUnknown {
public:
    virtual HRESULT CreateViewport(IDirect3DViewport2** lplpD3DViewport2, IUnknown* pUnkOuter) = 0;
    // Creates a device of the kind rclsid names on a surface made with DDSCAPS_3DDEVICE.
    virtual HRESULT CreateDevice(REFCLSID rclsid, LPDIRECTDRAWSURFACE lpDDS,
                                 IDirect3DDevice2** lplpD3DDevice2) = 0;
};

using LPDIRECT3D2 = IDirect3D2*;
using LPDIRECT3DDEVICE2 = IDirect3DDevice2*;
using LPDIRECT3DVIEWPORT2 = IDirect3DViewport2*;
using LPDIRECT3DTEXTURE2 = IDirect3DTexture2*;
