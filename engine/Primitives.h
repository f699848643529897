#pragma once
// The engine's 2-D Direct3D path: textured, tinted screen-space quads with a drawing level and
// a blend mode, collected in a fixed list and drawn level by level through the engine's device,
// setting device state only where it differs from the previous quad's.
#include "LevelBuckets.h"
#include "dddd.h"
#include "s_MathPack.h"

#include <array>
#include <cstdint>
#include <vector>

// A texture and the part of it that quads using the slot show, in texture coordinates.
struct TTextureSlot {
    TDDDDTexture* Texture = nullptr;
    float V0 = 0; // top edge / Height
    float U0 = 0; // left edge / Width
    float V1 = 0; // bottom edge / Height
    float U1 = 0; // right edge / Width
};

enum : std::uint8_t { pbOpaque = 0, pbAdditive = 1, pbAlpha = 2 };

// One quad as it goes to the device: a four-vertex triangle strip.
struct TPrimitive {
    TDDDDTexture* Texture = nullptr;
    std::array<D3DTLVERTEX, 4> Vertices{};
    // Drawing level, 0 .. MaxZ; lower levels are drawn first.
    std::int32_t Z = 0;
    // pbOpaque, pbAdditive or pbAlpha; other values change no blend state.
    std::uint8_t Blend = pbOpaque;
};

class TPrimitiveRenderer {
public:
    TPrimitiveRenderer(TDDDD* engine, std::int32_t capacity, std::int32_t slotCount);
    TPrimitiveRenderer(const TPrimitiveRenderer&) = delete;
    TPrimitiveRenderer& operator=(const TPrimitiveRenderer&) = delete;

    TDDDD* Engine = nullptr;
    std::int32_t MaxZ = 0;
    const std::int32_t Capacity;
    std::vector<TPrimitive> Items;
    // Records in use.
    std::int32_t Count = 0;
    std::vector<TTextureSlot> Slots;
    // Each level's row holds up to Capacity record numbers.
    TLevelBuckets Buckets;

    void SetMaxZ(std::int32_t maxZ);
    // rect is in texture pixels; the slot keeps its edges divided by the texture's size.
    void SetTextureSlot(std::int32_t slot, TDDDDTexture* texture, const RECT& rect);
    // p1 takes the slot's top-left texel, p2 top-right, p3 bottom-left, p4 bottom-right; the
    // strip p1, p2, p3, p4 covers the quad when the points form one. colour is ARGB.
    void AddQuad(std::int32_t slot, const TVec2& p1, const TVec2& p2, const TVec2& p3,
                 const TVec2& p4, std::int32_t z, std::uint8_t blend, D3DCOLOR colour);
    void AddRect(std::int32_t slot, const TSingleRect& rect, std::int32_t z, std::uint8_t blend,
                 D3DCOLOR colour);
    // Sorts, draws levels 0 .. MaxZ and empties the list. Neither clears, opens a scene nor
    // presents: that is the caller's frame.
    void RenderAll();
    void ClearList();

private:
    void Sort();
    void RenderLevel(std::int32_t z);
    void SetState(D3DRENDERSTATETYPE state, DWORD value);
    void Draw(TPrimitive& item);

    TDDDDTexture* currentTexture_ = nullptr;
    std::uint8_t currentBlend_ = pbOpaque;
};
