// Quads collected per frame, sorted into level rows of a preallocated table and sent to the
// device one triangle strip each.
#include "Primitives.h"

#include "dddd_private.h"
#include "forms/Halt.h"

#include <algorithm>
#include <cfenv>

using dddd::Warn;

namespace {

// An integer edge over an integer size, divided in extended precision and kept as a single.
float Edge(LONG edge, std::int32_t size) {
    return static_cast<float>(static_cast<long double>(edge) / static_cast<long double>(size));
}

// A device call may leave the floating-point unit with raised flags or changed modes; every
// draw starts and ends from the default environment.
void ResetFloatingPoint() {
    std::feclearexcept(FE_ALL_EXCEPT);
    std::fesetenv(FE_DFL_ENV);
}

} // namespace

TPrimitiveRenderer::TPrimitiveRenderer(TDDDD* engine, std::int32_t capacity, std::int32_t slotCount)
    : Engine(engine), Capacity(std::max(capacity, 0)), Items(static_cast<std::size_t>(Capacity)),
      Slots(static_cast<std::size_t>(std::max(slotCount, 0))) {
    SetMaxZ(0);
}

void TPrimitiveRenderer::SetMaxZ(std::int32_t maxZ) {
    Buckets.Resize(maxZ, static_cast<std::size_t>(Capacity));
    MaxZ = maxZ;
}

void TPrimitiveRenderer::SetTextureSlot(std::int32_t slot, TDDDDTexture* texture,
                                        const RECT& rect) {
    if (slot < 0 || slot >= static_cast<std::int32_t>(Slots.size())) {
        Warn("Primitives: Slot=%lldは無効です、Slotは0から%lldの範囲にしてください", slot,
             static_cast<long long>(Slots.size()) - 1);
        return;
    }
    TTextureSlot& s = Slots[static_cast<std::size_t>(slot)];
    s.Texture = texture;
    // Without a texture, or before it holds an image, there is no size to divide by: the slot
    // then spans the whole (empty) texture.
    if (!texture || texture->Width <= 0 || texture->Height <= 0) {
        s.U0 = s.V0 = 0;
        s.U1 = s.V1 = 1;
        return;
    }
    s.V0 = Edge(rect.top, texture->Height);
    s.U0 = Edge(rect.left, texture->Width);
    s.V1 = Edge(rect.bottom, texture->Height);
    s.U1 = Edge(rect.right, texture->Width);
}

void TPrimitiveRenderer::AddQuad(std::int32_t slot, const TVec2& p1, const TVec2& p2,
                                 const TVec2& p3, const TVec2& p4, std::int32_t z,
                                 std::uint8_t blend, D3DCOLOR colour) {
    // A full list or an unknown slot would write or read past the tables.
    if (Count >= Capacity) {
        Warn("Primitives: プリミティブは%lld個までです、これ以上追加できません", Capacity);
        return;
    }
    if (slot < 0 || slot >= static_cast<std::int32_t>(Slots.size())) {
        Warn("Primitives: Slot=%lldは無効です、Slotは0から%lldの範囲にしてください", slot,
             static_cast<long long>(Slots.size()) - 1);
        return;
    }
    const TTextureSlot& s = Slots[static_cast<std::size_t>(slot)];
    TPrimitive& item = Items[static_cast<std::size_t>(Count)];
    item.Texture = s.Texture;
    item.Vertices[0] = MakeTLVertex(p1.X, p1.Y, 2.0f, 0.5f, colour, 0, s.U0, s.V0);
    item.Vertices[1] = MakeTLVertex(p2.X, p2.Y, 2.0f, 0.5f, colour, 0, s.U1, s.V0);
    item.Vertices[2] = MakeTLVertex(p3.X, p3.Y, 2.0f, 0.5f, colour, 0, s.U0, s.V1);
    item.Vertices[3] = MakeTLVertex(p4.X, p4.Y, 2.0f, 0.5f, colour, 0, s.U1, s.V1);
    item.Z = z;
    item.Blend = blend;
    ++Count;
}

void TPrimitiveRenderer::AddRect(std::int32_t slot, const TSingleRect& rect, std::int32_t z,
                                 std::uint8_t blend, D3DCOLOR colour) {
    AddQuad(slot, Vec2(rect.Left, rect.Top), Vec2(rect.Right, rect.Top),
            Vec2(rect.Left, rect.Bottom), Vec2(rect.Right, rect.Bottom), z, blend, colour);
}

void TPrimitiveRenderer::RenderAll() {
    // Without a Direct3D device (an engine set up without 3D) there is nothing to draw with.
    if (!Engine || !Engine->D3DDevice) {
        if (Count > 0)
            LogWarning("Primitives: Direct3Dデバイスがないので描画できません");
        ClearList();
        return;
    }
    Sort();
    for (std::int32_t z = 0; z <= MaxZ; ++z)
        RenderLevel(z);
    ClearList();
}

void TPrimitiveRenderer::ClearList() {
    Count = 0;
}

void TPrimitiveRenderer::Sort() {
    // Later records come first in their level: the first added ends up on top.
    Buckets.Sort(
        Count,
        [this](std::int32_t i) -> std::optional<std::int32_t> {
            return Items[static_cast<std::size_t>(i)].Z;
        },
        "Primitives: Z=%lldは無効です、Z値は0から%lldの範囲にしてください");
}

void TPrimitiveRenderer::SetState(D3DRENDERSTATETYPE state, DWORD value) {
    Engine->D3DDevice->SetRenderState(state, value);
}

void TPrimitiveRenderer::RenderLevel(std::int32_t z) {
    if (z < 0 || z > MaxZ) {
        Warn("Render: Z=%lldは無効です、Z値は0から%lldの範囲にしてください", z, MaxZ);
        return;
    }
    const std::span<const std::int32_t> level = Buckets.Level(z);
    if (level.empty())
        return;
    SetState(D3DRENDERSTATE_TEXTUREHANDLE, 0);
    SetState(D3DRENDERSTATE_ZENABLE, FALSE);
    SetState(D3DRENDERSTATE_ZWRITEENABLE, FALSE);
    SetState(D3DRENDERSTATE_TEXTUREMAG, D3DFILTER_LINEAR);
    SetState(D3DRENDERSTATE_TEXTUREMIN, D3DFILTER_LINEAR);
    SetState(D3DRENDERSTATE_STIPPLEDALPHA, FALSE);
    SetState(D3DRENDERSTATE_DITHERENABLE, FALSE);
    SetState(D3DRENDERSTATE_BLENDENABLE, FALSE);
    SetState(D3DRENDERSTATE_COLORKEYENABLE, TRUE);
    currentTexture_ = nullptr;
    currentBlend_ = pbOpaque;
    for (const std::int32_t i : level)
        Draw(Items[static_cast<std::size_t>(i)]);
}

void TPrimitiveRenderer::Draw(TPrimitive& item) {
    if (item.Texture != currentTexture_) {
        SetState(D3DRENDERSTATE_TEXTUREHANDLE, item.Texture ? item.Texture->Handle : 0);
        currentTexture_ = item.Texture;
    }
    if (item.Blend != currentBlend_) {
        if (item.Blend == pbOpaque) {
            SetState(D3DRENDERSTATE_BLENDENABLE, FALSE);
        } else if (item.Blend == pbAdditive || item.Blend == pbAlpha) {
            if (currentBlend_ == pbOpaque) {
                SetState(D3DRENDERSTATE_BLENDENABLE, TRUE);
                SetState(D3DRENDERSTATE_TEXTUREMAPBLEND, D3DTBLEND_MODULATE);
            }
            const bool additive = item.Blend == pbAdditive;
            SetState(D3DRENDERSTATE_SRCBLEND, additive ? D3DBLEND_ONE : D3DBLEND_SRCALPHA);
            SetState(D3DRENDERSTATE_DESTBLEND, additive ? D3DBLEND_ONE : D3DBLEND_INVSRCALPHA);
        }
        currentBlend_ = item.Blend;
    }
    try {
        ResetFloatingPoint();
        Engine->D3DDevice->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DVT_TLVERTEX, item.Vertices.data(),
                                         4, D3DDP_WAIT);
        ResetFloatingPoint();
    } catch (...) {
        LogWarning("FP Fault");
        Halt("FP Fault");
    }
}
