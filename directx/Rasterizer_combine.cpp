#include "Rasterizer_stages.h"

namespace directx::raster {

namespace {

// Texture and vertex colour combined as the texture blend asks.
template <TexMode Mode> void Combine(bool textureAlpha, int n, Span& span) {
    for (int i = 0; i < n; ++i) {
        const std::uint32_t c = span.color[i];
        if constexpr (Mode == TexMode::None) {
            span.out[i] = c;
        } else {
            const std::uint32_t t = span.texel[i];
            const std::uint32_t ta = t >> 24, ca = c >> 24;
            std::uint32_t rgb = 0, a = 0;
            if constexpr (Mode == TexMode::Modulate || Mode == TexMode::ModulateAlpha) {
                for (int k = 0; k < 3; ++k)
                    rgb |= Mul255((t >> (8 * k)) & 0xFF, (c >> (8 * k)) & 0xFF) << (8 * k);
                if constexpr (Mode == TexMode::Modulate)
                    a = textureAlpha ? ta : ca;
                else
                    a = Mul255(ta, ca);
            } else if constexpr (Mode == TexMode::Decal) {
                rgb = t & 0xFFFFFF;
                a = ta;
            } else {
                for (int k = 0; k < 3; ++k) {
                    const std::uint32_t tc = (t >> (8 * k)) & 0xFF, cc = (c >> (8 * k)) & 0xFF;
                    rgb |= (Mul255(tc, ta) + Mul255(cc, 255 - ta)) << (8 * k);
                }
                a = ca;
            }
            span.out[i] = rgb | (a << 24);
        }
    }
}

} // namespace

CombineFunction PickCombine(TexMode mode) {
    switch (mode) {
    case TexMode::None:
        return &Combine<TexMode::None>;
    case TexMode::Modulate:
        return &Combine<TexMode::Modulate>;
    case TexMode::ModulateAlpha:
        return &Combine<TexMode::ModulateAlpha>;
    case TexMode::Decal:
        return &Combine<TexMode::Decal>;
    default:
        return &Combine<TexMode::DecalAlpha>;
    }
}

} // namespace directx::raster
