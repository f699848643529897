#pragma once
// Direct3D Retained Mode of DirectX 5: the objects the display engine creates, queries and
// releases, under their DirectX names.
#include "d3d.h"

constexpr HRESULT D3DRM_OK = DD_OK;
constexpr HRESULT D3DRMERR_BADOBJECT = MakeDDHResult(781);
constexpr HRESULT D3DRMERR_BADTYPE = MakeDDHResult(782);
constexpr HRESULT D3DRMERR_BADALLOC = MakeDDHResult(783);
constexpr HRESULT D3DRMERR_NOTFOUND = MakeDDHResult(785);
constexpr HRESULT D3DRMERR_BADDEVICE = MakeDDHResult(789);
constexpr HRESULT D3DRMERR_BADVALUE = MakeDDHResult(790);

constexpr IID IID_IDirect3DRM = {
    0x2BC49361, 0x8327, 0x11CF, {0xAC, 0x4A, 0x00, 0x00, 0xC0, 0x38, 0x25, 0xA1}};
constexpr IID IID_IDirect3DRM2 = {
    0x4516ECC8, 0x8F20, 0x11D0, {0x9B, 0x6D, 0x00, 0x00, 0xC0, 0x78, 0x1B, 0xC3}};
constexpr IID IID_IDirect3DRMDevice = {
    0xE9E19280, 0x6E05, 0x11CF, {0xAC, 0x4A, 0x00, 0x00, 0xC0, 0x38, 0x25, 0xA1}};
constexpr IID IID_IDirect3DRMDevice2 = {
    0x4516EC78, 0x8F20, 0x11D0, {0x9B, 0x6D, 0x00, 0x00, 0xC0, 0x78, 0x1B, 0xC3}};
constexpr IID IID_IDirect3DRMViewport = {
    0xEB16CB02, 0xD271, 0x11CE, {0xAC, 0x48, 0x00, 0x00, 0xC0, 0x38, 0x25, 0xA1}};
constexpr IID IID_IDirect3DRMFrame = {
    0xEB16CB03, 0xD271, 0x11CE, {0xAC, 0x48, 0x00, 0x00, 0xC0, 0x38, 0x25, 0xA1}};

class IDirect3DRMFrame : public IUnknown {
public:
    virtual HRESULT GetParent(IDirect3DRMFrame** lplpParent) = 0;
};

class IDirect3DRMDevice : public IUnknown {
public:
    virtual HRESULT SetBufferCount(DWORD dwCount) = 0;
    virtual DWORD GetBufferCount() = 0;
    virtual DWORD GetWidth() = 0;
    virtual DWORD GetHeight() = 0;
    virtual HRESULT GetDirect3DDevice2(LPDIRECT3DDEVICE2* lplpD3DDevice) = 0;
};

class IDirect3DRMDevice2 : public IDirect3DRMDevice {};

class IDirect3DRMViewport : public IUnknown {
public:
    virtual HRESULT SetBack(D3DVALUE rvBack) = 0;
    virtual D3DVALUE GetBack() = 0;
    virtual HRESULT SetFront(D3DVALUE rvFront) = 0;
    virtual D3DVALUE GetFront() = 0;
};

class IDirect3DRM : public IUnknown {
public:
    virtual HRESULT CreateFrame(IDirect3DRMFrame* lpParent, IDirect3DRMFrame** lplpFrame) = 0;
};

class IDirect3DRM2 : public IUnknown {
public:
    virtual HRESULT CreateFrame(IDirect3DRMFrame* lpParent, IDirect3DRMFrame** lplpFrame) = 0;
    // A Retained Mode device over an immediate-mode device and its Direct3D object.
    virtual HRESULT CreateDeviceFromD3D(LPDIRECT3D2 lpD3D, LPDIRECT3DDEVICE2 lpD3DDev,
                                        IDirect3DRMDevice2** lplpD3DRMDevice) = 0;
    virtual HRESULT CreateViewport(IDirect3DRMDevice* lpDev, IDirect3DRMFrame* lpCamera,
                                   DWORD dwXPos, DWORD dwYPos, DWORD dwWidth, DWORD dwHeight,
                                   IDirect3DRMViewport** lplpD3DRMViewport) = 0;
};

using LPDIRECT3DRM = IDirect3DRM*;
using LPDIRECT3DRM2 = IDirect3DRM2*;
using LPDIRECT3DRMDEVICE = IDirect3DRMDevice*;
using LPDIRECT3DRMDEVICE2 = IDirect3DRMDevice2*;
using LPDIRECT3DRMVIEWPORT = IDirect3DRMViewport*;
using LPDIRECT3DRMFRAME = IDirect3DRMFrame*;

HRESULT Direct3DRMCreate(LPDIRECT3DRM* lplpDirect3DRM);
