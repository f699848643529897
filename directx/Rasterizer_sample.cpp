#include "Rasterizer_stages.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace directx::raster {

namespace {

#define ZELKA_INLINE [[gnu::always_inline]] inline

// The four taps of a bilinear sample: top-left, top-right, bottom-left, bottom-right.
#if defined(__SSE2__)
struct Taps {
    __m128i top, bottom; // two texels each
};

// Neighbouring texels of a row sit side by side except where the row wraps.
ZELKA_INLINE Taps LoadTaps(const std::uint32_t* texels, const std::size_t at[4], bool adjacent) {
    if (adjacent)
        return {_mm_loadl_epi64(reinterpret_cast<const __m128i*>(texels + at[0])),
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(texels + at[2]))};
    return {_mm_unpacklo_epi32(_mm_cvtsi32_si128(int(texels[at[0]])),
                               _mm_cvtsi32_si128(int(texels[at[1]]))),
            _mm_unpacklo_epi32(_mm_cvtsi32_si128(int(texels[at[2]])),
                               _mm_cvtsi32_si128(int(texels[at[3]])))};
}

// Every tap opaque: all four alpha bytes are 0xFF.
ZELKA_INLINE bool AllOpaque(const Taps& taps) {
    const __m128i both = _mm_and_si128(taps.top, taps.bottom);
    return (_mm_movemask_epi8(_mm_cmpeq_epi8(both, _mm_set1_epi8(char(0xFF)))) & 0x88) == 0x88;
}

// Four channels of two texels per register, as 16-bit lanes: rows first, then the two columns.
ZELKA_INLINE std::uint32_t Lerp(const Taps& taps, std::uint32_t fx, std::uint32_t fy) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i top = _mm_unpacklo_epi8(taps.top, zero);
    const __m128i bottom = _mm_unpacklo_epi8(taps.bottom, zero);
    const __m128i round = _mm_set1_epi16(128);
    __m128i v = _mm_add_epi16(_mm_mullo_epi16(top, _mm_set1_epi16(short(256 - fy))),
                              _mm_mullo_epi16(bottom, _mm_set1_epi16(short(fy))));
    v = _mm_srli_epi16(_mm_add_epi16(v, round), 8);
    const short wl = short(256 - fx), wr = short(fx);
    const __m128i m = _mm_mullo_epi16(v, _mm_set_epi16(wr, wr, wr, wr, wl, wl, wl, wl));
    __m128i h = _mm_add_epi16(m, _mm_srli_si128(m, 8));
    h = _mm_srli_epi16(_mm_add_epi16(h, round), 8);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(h, h)));
}
#else
struct Taps {
    std::uint32_t c00, c10, c01, c11;
};

ZELKA_INLINE Taps LoadTaps(const std::uint32_t* texels, const std::size_t at[4], bool) {
    return {texels[at[0]], texels[at[1]], texels[at[2]], texels[at[3]]};
}

ZELKA_INLINE bool AllOpaque(const Taps& t) {
    return ((t.c00 & t.c10 & t.c01 & t.c11) >> 24) == 0xFF;
}

// Two channels at a time: 0x00AA00BB lanes never carry into each other.
ZELKA_INLINE std::uint32_t Lerp(const Taps& t, std::uint32_t fx, std::uint32_t fy) {
    auto lerp = [](std::uint32_t a, std::uint32_t b, std::uint32_t f) {
        const std::uint32_t rbA = a & 0x00FF00FF, agA = (a >> 8) & 0x00FF00FF;
        const std::uint32_t rbB = b & 0x00FF00FF, agB = (b >> 8) & 0x00FF00FF;
        const std::uint32_t rb = ((rbA * (256 - f) + rbB * f + 0x00800080) >> 8) & 0x00FF00FF;
        const std::uint32_t ag = ((agA * (256 - f) + agB * f + 0x00800080) >> 8) & 0x00FF00FF;
        return rb | (ag << 8);
    };
    return lerp(lerp(t.c00, t.c10, fx), lerp(t.c01, t.c11, fx), fy);
}
#endif

// A bilinear sample with keyed taps among its four: those drop out and the rest share their
// weight. False for a pixel that is mostly transparent, which is left out.
template <typename Transparent>
ZELKA_INLINE bool KeyedLerp(const std::uint32_t* texels, const std::size_t at[4], std::uint32_t fx,
                            std::uint32_t fy, Transparent transparent, std::uint32_t& texel) {
    const std::uint32_t weight[4] = {(256 - fx) * (256 - fy), fx * (256 - fy), (256 - fx) * fy,
                                     fx * fy};
    std::uint32_t total = 0, sum[4] = {};
    for (int k = 0; k < 4; ++k) {
        if (transparent(at[k]))
            continue;
        total += weight[k];
        for (int c = 0; c < 4; ++c)
            sum[c] += ((texels[at[k]] >> (8 * c)) & 0xFF) * weight[k];
    }
    if (total * 2 < 65536)
        return false;
    std::uint32_t packed = 0;
    for (int c = 0; c < 4; ++c)
        packed |= ((sum[c] + total / 2) / total) << (8 * c);
    texel = packed;
    return true;
}

// Looks texels up for n pixels; keyed texels clear the pixel's live flag.
template <bool Bilinear, bool FastWrap, KeyKind Key>
void Sample(const TexelImage& image, const RasterStates& states, int n, Span& span) {
    const int w = image.source.width, h = image.source.height;
    const std::uint32_t* texels = image.argb.data();
    const BYTE* list = image.transparent.data();
    const int wMask = w - 1, hMask = h - 1;
    auto column = [&](std::int64_t i) {
        return FastWrap ? static_cast<int>(i & wMask) : Wrap(i, w, states.addressU);
    };
    auto row = [&](std::int64_t i) {
        return FastWrap ? static_cast<int>(i & hMask) : Wrap(i, h, states.addressV);
    };
    auto transparent = [&](std::size_t at) {
        if constexpr (Key == KeyKind::Marker)
            return (texels[at] >> 24) == 0;
        else if constexpr (Key == KeyKind::List)
            return list[at] != 0;
        else
            return false;
    };
    for (int i = 0; i < n; ++i) {
        if (!span.live[i])
            continue;
        if constexpr (!Bilinear) {
            const std::size_t at =
                static_cast<std::size_t>(row(span.t[i] >> 16)) * w + column(span.s[i] >> 16);
            if (transparent(at)) {
                span.live[i] = 0;
                continue;
            }
            span.texel[i] = texels[at];
        } else {
            const std::int64_t si = span.s[i] >> 16, ti = span.t[i] >> 16;
            const std::uint32_t fx = static_cast<std::uint32_t>(span.s[i] >> 8) & 0xFF;
            const std::uint32_t fy = static_cast<std::uint32_t>(span.t[i] >> 8) & 0xFF;
            const int x0 = column(si), x1 = column(si + 1);
            const std::size_t r0 = static_cast<std::size_t>(row(ti)) * w;
            const std::size_t r1 = static_cast<std::size_t>(row(ti + 1)) * w;
            const std::size_t at[4] = {r0 + x0, r0 + x1, r1 + x0, r1 + x1};
            const Taps taps = LoadTaps(texels, at, x1 == x0 + 1);
            bool anyKeyed = false;
            if constexpr (Key == KeyKind::Marker)
                anyKeyed = !AllOpaque(taps);
            else if constexpr (Key == KeyKind::List)
                anyKeyed = (list[at[0]] | list[at[1]] | list[at[2]] | list[at[3]]) != 0;
            if (!anyKeyed)
                span.texel[i] = Lerp(taps, fx, fy);
            else if (!KeyedLerp(texels, at, fx, fy, transparent, span.texel[i]))
                span.live[i] = 0;
        }
    }
}

template <bool Bilinear, bool FastWrap> SampleFunction PickSample(KeyKind key) {
    switch (key) {
    case KeyKind::None:
        return &Sample<Bilinear, FastWrap, KeyKind::None>;
    case KeyKind::Marker:
        return &Sample<Bilinear, FastWrap, KeyKind::Marker>;
    default:
        return &Sample<Bilinear, FastWrap, KeyKind::List>;
    }
}

} // namespace

SampleFunction PickSample(bool bilinear, bool fastWrap, KeyKind key) {
    if (bilinear)
        return fastWrap ? PickSample<true, true>(key) : PickSample<true, false>(key);
    return fastWrap ? PickSample<false, true>(key) : PickSample<false, false>(key);
}

} // namespace directx::raster
