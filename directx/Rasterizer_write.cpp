#include "Rasterizer_stages.h"

#include <algorithm>

namespace directx::raster {

namespace {

// One blend factor for the generic path, per channel (b, g, r, a).
void Factor(D3DBLEND blend, std::uint32_t s, std::uint32_t d, std::uint32_t out[4]) {
    const std::uint32_t sa = s >> 24, da = d >> 24;
    for (int k = 0; k < 4; ++k) {
        const std::uint32_t sc = (s >> (8 * k)) & 0xFF, dc = (d >> (8 * k)) & 0xFF;
        std::uint32_t f = 0;
        switch (blend) {
        case D3DBLEND_ZERO:
            f = 0;
            break;
        case D3DBLEND_ONE:
            f = 255;
            break;
        case D3DBLEND_SRCCOLOR:
            f = sc;
            break;
        case D3DBLEND_INVSRCCOLOR:
            f = 255 - sc;
            break;
        case D3DBLEND_SRCALPHA:
        case D3DBLEND_BOTHSRCALPHA:
            f = sa;
            break;
        case D3DBLEND_INVSRCALPHA:
        case D3DBLEND_BOTHINVSRCALPHA:
            f = 255 - sa;
            break;
        case D3DBLEND_DESTALPHA:
            f = da;
            break;
        case D3DBLEND_INVDESTALPHA:
            f = 255 - da;
            break;
        case D3DBLEND_DESTCOLOR:
            f = dc;
            break;
        case D3DBLEND_INVDESTCOLOR:
            f = 255 - dc;
            break;
        case D3DBLEND_SRCALPHASAT:
            f = k == 3 ? 255 : std::min(sa, 255 - da);
            break;
        default:
            f = 255;
            break;
        }
        out[k] = f;
    }
}

template <int BPP, BlendKind Blend>
void Write(const TargetCodec& codec, const RasterStates& states, BYTE* row, int x, int n,
           const Span& span) {
    BYTE* p = row + static_cast<std::ptrdiff_t>(x) * BPP;
    for (int i = 0; i < n; ++i, p += BPP) {
        if (!span.live[i])
            continue;
        const std::uint32_t s = span.out[i];
        std::uint32_t result = s;
        if constexpr (Blend == BlendKind::Add && BPP > 1) {
            // Adding in the target's own channels saves unpacking: the same sum to within
            // the rounding of one channel step.
            const std::uint64_t sp = codec.codec.FromArgb(s), dp = LoadPixel<BPP>(p);
            std::uint64_t sum = 0;
            for (int c = 0; c < 4; ++c) {
                const std::uint64_t m = codec.codec.Mask(c);
                sum |= std::min<std::uint64_t>((sp & m) + (dp & m), m);
            }
            StorePixel<BPP>(p, static_cast<std::uint32_t>(sum));
            continue;
        }
        if constexpr (Blend != BlendKind::Off) {
            const std::uint32_t d = codec.Unpack<BPP>(LoadPixel<BPP>(p));
            if constexpr (Blend == BlendKind::Add) {
                const std::uint32_t rb = (s & 0x00FF00FF) + (d & 0x00FF00FF);
                const std::uint32_t ag = ((s >> 8) & 0x00FF00FF) + ((d >> 8) & 0x00FF00FF);
                // Saturate each lane: a carry into bit 8 of a lane turns the lane to 0xFF.
                const std::uint32_t rbSat = (rb | (((rb >> 8) & 0x00010001) * 0xFF)) & 0x00FF00FF;
                const std::uint32_t agSat = (ag | (((ag >> 8) & 0x00010001) * 0xFF)) & 0x00FF00FF;
                result = rbSat | (agSat << 8);
            } else if constexpr (Blend == BlendKind::Alpha) {
                const std::uint32_t a = s >> 24;
                result = 0;
                for (int k = 0; k < 4; ++k) {
                    const std::uint32_t sc = (s >> (8 * k)) & 0xFF, dc = (d >> (8 * k)) & 0xFF;
                    result |= std::min<std::uint32_t>(255, Mul255(sc, a) + Mul255(dc, 255 - a))
                              << (8 * k);
                }
            } else {
                // The "both" factors name the source and destination factor at once.
                D3DBLEND src = states.srcBlend, dst = states.destBlend;
                if (src == D3DBLEND_BOTHINVSRCALPHA) {
                    src = D3DBLEND_INVSRCALPHA;
                    dst = D3DBLEND_SRCALPHA;
                }
                std::uint32_t fs[4], fd[4];
                Factor(src, s, d, fs);
                Factor(dst, s, d, fd);
                result = 0;
                for (int k = 0; k < 4; ++k) {
                    const std::uint32_t sc = (s >> (8 * k)) & 0xFF, dc = (d >> (8 * k)) & 0xFF;
                    result |= std::min<std::uint32_t>(255, Mul255(sc, fs[k]) + Mul255(dc, fd[k]))
                              << (8 * k);
                }
            }
        }
        if constexpr (BPP == 1)
            StorePixel<1>(p, codec.index.Nearest(result));
        else
            StorePixel<BPP>(p, codec.codec.FromArgb(result));
    }
}

// Additive blending into 5-6-5, the Direct3D test's busiest case: the pixel is spread to
// 0x07E0F81F so every channel has a spare bit above it for its carry.
void WriteAdd565(const TargetCodec& codec, const RasterStates&, BYTE* row, int x, int n,
                 const Span& span) {
    BYTE* p = row + static_cast<std::ptrdiff_t>(x) * 2;
    for (int i = 0; i < n; ++i, p += 2) {
        if (!span.live[i])
            continue;
        const std::uint32_t s = codec.codec.FromArgb(span.out[i]);
        const std::uint32_t d = LoadPixel<2>(p);
        const std::uint32_t sum = ((s | (s << 16)) & 0x07E0F81F) + ((d | (d << 16)) & 0x07E0F81F);
        const std::uint32_t carryRB = sum & 0x00010020, carryG = sum & 0x08000000;
        const std::uint32_t fill = (carryRB - (carryRB >> 5)) | (carryG - (carryG >> 6));
        const std::uint32_t out = (sum | fill) & 0x07E0F81F;
        StorePixel<2>(p, (out | (out >> 16)) & 0xFFFF);
    }
}

template <int BPP> WriteFunction PickWrite(BlendKind blend) {
    switch (blend) {
    case BlendKind::Off:
        return &Write<BPP, BlendKind::Off>;
    case BlendKind::Add:
        return &Write<BPP, BlendKind::Add>;
    case BlendKind::Alpha:
        return &Write<BPP, BlendKind::Alpha>;
    default:
        return &Write<BPP, BlendKind::Generic>;
    }
}

} // namespace

WriteFunction PickWrite(int bytes, BlendKind blend, bool rgb565) {
    switch (bytes) {
    case 1:
        return PickWrite<1>(blend);
    case 2:
        return blend == BlendKind::Add && rgb565 ? &WriteAdd565 : PickWrite<2>(blend);
    case 3:
        return PickWrite<3>(blend);
    default:
        return PickWrite<4>(blend);
    }
}

} // namespace directx::raster
