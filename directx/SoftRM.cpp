// The Retained Mode entry point.
#include "SoftRM.h"

HRESULT Direct3DRMCreate(LPDIRECT3DRM* out) {
    using namespace directx;
    if (HRESULT f = Fault("Direct3DRMCreate"))
        return f;
    if (!out)
        return D3DRMERR_BADVALUE;
    *out = (new SoftRM())->First();
    return D3DRM_OK;
}
