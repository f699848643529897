#include "Rasterizer_stages.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace directx::raster {

#if defined(__x86_64__)

namespace {

#define ZELKA_AVX2 __attribute__((target("avx2"), always_inline)) inline

// v + i * step in lane i (wrapping 32-bit sums).
ZELKA_AVX2 __m256i RunStart(std::int64_t v, std::int64_t step) {
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    return _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(v)),
                            _mm256_mullo_epi32(lane, _mm256_set1_epi32(static_cast<int>(step))));
}

ZELKA_AVX2 __m256i RunStep8(std::int64_t step) {
    return _mm256_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(step) * 8u));
}

// The first (0x88) or second (0xDD) halves of the 64-bit lanes of a and b, in lane order.
template <int Pick> ZELKA_AVX2 __m256i SplitPairs(__m256 a, __m256 b) {
    return _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(a, b, Pick)), 0xD8);
}

// (a * wa + b * wb + 128) >> 8 in 16-bit lanes.
ZELKA_AVX2 __m256i Mix16(__m256i a, __m256i b, __m256i wa, __m256i wb) {
    const __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(a, wa), _mm256_mullo_epi16(b, wb));
    return _mm256_srli_epi16(_mm256_add_epi16(sum, _mm256_set1_epi16(128)), 8);
}

ZELKA_AVX2 __m256i BlueRed(__m256i c) {
    return _mm256_and_si256(c, _mm256_set1_epi32(0x00FF00FF));
}

ZELKA_AVX2 __m256i GreenAlpha(__m256i c) {
    return _mm256_and_si256(_mm256_srli_epi32(c, 8), _mm256_set1_epi32(0x00FF00FF));
}

// A 16.16 colour channel to its byte, clamped as the colour stage does.
ZELKA_AVX2 __m256i ColorByte(__m256i c) {
    const __m256i v = _mm256_srai_epi32(_mm256_add_epi32(c, _mm256_set1_epi32(32768)), 16);
    return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), _mm256_set1_epi32(255));
}

// a * b / 255, rounded, in 16-bit lanes.
ZELKA_AVX2 __m256i Mul255x16(__m256i a, __m256i b) {
    const __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(a, b), _mm256_set1_epi16(128));
    return _mm256_srli_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), 8);
}

// A byte to a channel of max steps with the rounding of the pack tables: (v * max + 127) / 255.
ZELKA_AVX2 __m256i ScaleTo(__m256i v, short max) {
    const __m256i t =
        _mm256_add_epi16(_mm256_mullo_epi16(v, _mm256_set1_epi16(max)), _mm256_set1_epi16(127));
    return _mm256_srli_epi16(_mm256_mulhi_epu16(t, _mm256_set1_epi16(short(0x8081))), 7);
}

// floor(a / b) for 0 <= a < 2^24 and 0 < b <= 2^17, given 1 / b in single precision: the
// product is off by at most one, which one correction step puts right.
ZELKA_AVX2 __m256i Divide(__m256i a, __m256i b, __m256 inverse) {
    __m256i q = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(a), inverse));
    const __m256i r = _mm256_sub_epi32(a, _mm256_mullo_epi32(q, b));
    q = _mm256_add_epi32(q, _mm256_srai_epi32(r, 31)); // r < 0: one less
    const __m256i over = _mm256_cmpgt_epi32(r, _mm256_sub_epi32(b, _mm256_set1_epi32(1)));
    return _mm256_sub_epi32(q, over); // r >= b: one more
}

// The keyed sample of the stage function: keyed taps drop out and the others share their
// weight. Gives b | r << 16 and g per lane; lanes whose kept weight is under half lose drawn.
ZELKA_AVX2 void KeyedTaps(const __m256i tap[4], __m256i fx, __m256i fy, __m256i& drawn,
                          __m256i& texRB, __m256i& texAG) {
    const __m256i full = _mm256_set1_epi32(256), zero = _mm256_setzero_si256();
    const __m256i ix = _mm256_sub_epi32(full, fx), iy = _mm256_sub_epi32(full, fy);
    const __m256i weight[4] = {_mm256_mullo_epi32(ix, iy), _mm256_mullo_epi32(fx, iy),
                               _mm256_mullo_epi32(ix, fy), _mm256_mullo_epi32(fx, fy)};
    __m256i total = zero, sum[3] = {zero, zero, zero};
    for (int k = 0; k < 4; ++k) {
        const __m256i keyed = _mm256_cmpeq_epi32(_mm256_srli_epi32(tap[k], 24), zero);
        const __m256i w = _mm256_andnot_si256(keyed, weight[k]);
        total = _mm256_add_epi32(total, w);
        for (int c = 0; c < 3; ++c) {
            const __m256i v =
                _mm256_and_si256(_mm256_srli_epi32(tap[k], 8 * c), _mm256_set1_epi32(0xFF));
            sum[c] = _mm256_add_epi32(sum[c], _mm256_mullo_epi32(v, w));
        }
    }
    drawn = _mm256_cmpgt_epi32(total, _mm256_set1_epi32(32767));
    const __m256i divisor = _mm256_max_epi32(total, _mm256_set1_epi32(1));
    const __m256i bias = _mm256_srli_epi32(total, 1);
    const __m256 inverse = _mm256_div_ps(_mm256_set1_ps(1.0f), _mm256_cvtepi32_ps(divisor));
    __m256i q[3];
    for (int c = 0; c < 3; ++c)
        q[c] = Divide(_mm256_add_epi32(sum[c], bias), divisor, inverse);
    texRB = _mm256_or_si256(q[0], _mm256_slli_epi32(q[2], 16));
    texAG = q[1];
}

// Bilinear, wrapped power-of-two texture, modulated by the vertex colour, into 5-6-5 (opaque
// or added), eight pixels at a time. Each step is the integer arithmetic of the stage
// functions above, so the pixels are the same to the bit.
template <bool Add, bool Marker>
__attribute__((target("avx2"))) void FusedBilinear565(const TexelImage& image, const AffineRun& run,
                                                      BYTE* line, int x, int n) {
    const int w = image.source.width, h = image.source.height;
    const int stride = w + 1;
    const auto* base = reinterpret_cast<const int*>(image.padded.data());
    // Only the low 32 bits of a texel position matter once it wraps in a texture of at most
    // 65536 texels a side.
    __m256i S = RunStart(run.s, run.ds), T = RunStart(run.t, run.dt);
    const __m256i dS = RunStep8(run.ds), dT = RunStep8(run.dt);
    __m256i C[3], dC[3];
    for (int k = 0; k < 3; ++k) {
        C[k] = RunStart(run.c[k], run.dc[k]);
        dC[k] = RunStep8(run.dc[k]);
    }
    const __m256i wMask = _mm256_set1_epi32(w - 1), hMask = _mm256_set1_epi32(h - 1);
    const __m256i byteMask = _mm256_set1_epi32(0xFF), full = _mm256_set1_epi32(0x01000100);
    const __m256i strideV = _mm256_set1_epi32(stride);
    // A run of one colour (a quad of one tint) converts it once.
    const bool oneColor = run.dc[0] == 0 && run.dc[1] == 0 && run.dc[2] == 0;
    const __m256i oneRB = _mm256_or_si256(ColorByte(C[0]), _mm256_slli_epi32(ColorByte(C[2]), 16));
    const __m256i oneG = ColorByte(C[1]);
    for (int i = 0; i < n; i += 8) {
        const __m256i col = _mm256_and_si256(_mm256_srli_epi32(S, 16), wMask);
        const __m256i row = _mm256_and_si256(_mm256_srli_epi32(T, 16), hMask);
        const __m256i fx = _mm256_and_si256(_mm256_srli_epi32(S, 8), byteMask);
        const __m256i fy = _mm256_and_si256(_mm256_srli_epi32(T, 8), byteMask);
        const __m256i at = _mm256_add_epi32(_mm256_mullo_epi32(row, strideV), col);
        // Each tap and its right neighbour in one 64-bit load, then split into the left and
        // right taps in pixel order.
        const __m128i atLow = _mm256_castsi256_si128(at), atHigh = _mm256_extracti128_si256(at, 1);
        const auto* top = reinterpret_cast<const long long*>(base);
        const auto* bottom = reinterpret_cast<const long long*>(base + stride);
        const __m256 top0 = _mm256_castsi256_ps(_mm256_i32gather_epi64(top, atLow, 4));
        const __m256 top1 = _mm256_castsi256_ps(_mm256_i32gather_epi64(top, atHigh, 4));
        const __m256 bottom0 = _mm256_castsi256_ps(_mm256_i32gather_epi64(bottom, atLow, 4));
        const __m256 bottom1 = _mm256_castsi256_ps(_mm256_i32gather_epi64(bottom, atHigh, 4));
        const __m256i c00 = SplitPairs<0x88>(top0, top1), c10 = SplitPairs<0xDD>(top0, top1);
        const __m256i c01 = SplitPairs<0x88>(bottom0, bottom1);
        const __m256i c11 = SplitPairs<0xDD>(bottom0, bottom1);
        const __m256i colorB = C[0], colorG = C[1], colorR = C[2];
        S = _mm256_add_epi32(S, dS);
        T = _mm256_add_epi32(T, dT);
        for (int k = 0; k < 3; ++k)
            C[k] = _mm256_add_epi32(C[k], dC[k]);
        // Weights in both 16-bit halves of a lane, where the channel pairs b/r and g/a sit:
        // rows first, then columns.
        const __m256i wy = _mm256_or_si256(fy, _mm256_slli_epi32(fy, 16));
        const __m256i wx = _mm256_or_si256(fx, _mm256_slli_epi32(fx, 16));
        const __m256i wyInv = _mm256_sub_epi16(full, wy), wxInv = _mm256_sub_epi16(full, wx);
        __m256i texRB = Mix16(Mix16(BlueRed(c00), BlueRed(c01), wyInv, wy),
                              Mix16(BlueRed(c10), BlueRed(c11), wyInv, wy), wxInv, wx);
        __m256i texAG = Mix16(Mix16(GreenAlpha(c00), GreenAlpha(c01), wyInv, wy),
                              Mix16(GreenAlpha(c10), GreenAlpha(c11), wyInv, wy), wxInv, wx);
        __m256i drawn = _mm256_set1_epi32(-1);
        if constexpr (Marker) {
            // A keyed tap has alpha 0, every other one alpha 255.
            const __m256i all =
                _mm256_and_si256(_mm256_and_si256(c00, c10), _mm256_and_si256(c01, c11));
            const __m256i opaque = _mm256_cmpeq_epi32(_mm256_srli_epi32(all, 24), byteMask);
            const int opaqueBits = _mm256_movemask_ps(_mm256_castsi256_ps(opaque));
            if (opaqueBits != 0xFF) {
                const __m256i taps[4] = {c00, c10, c01, c11};
                __m256i keyedDrawn, keyedRB, keyedAG;
                KeyedTaps(taps, fx, fy, keyedDrawn, keyedRB, keyedAG);
                drawn = _mm256_or_si256(opaque, keyedDrawn);
                if (_mm256_movemask_ps(_mm256_castsi256_ps(drawn)) == 0)
                    continue;
                texRB = _mm256_blendv_epi8(keyedRB, texRB, opaque);
                texAG = _mm256_blendv_epi8(keyedAG, texAG, opaque);
            }
        }
        const __m256i tintRB =
            oneColor ? oneRB
                     : _mm256_or_si256(ColorByte(colorB), _mm256_slli_epi32(ColorByte(colorR), 16));
        const __m256i tintG = oneColor ? oneG : ColorByte(colorG);
        const __m256i outRB = Mul255x16(texRB, tintRB);
        const __m256i outG = _mm256_and_si256(Mul255x16(texAG, tintG), byteMask);
        const __m256i rb5 = ScaleTo(outRB, 31);
        const __m256i g6 = _mm256_and_si256(ScaleTo(outG, 63), byteMask);
        const __m256i packed = _mm256_or_si256(
            _mm256_or_si256(_mm256_and_si256(rb5, byteMask), _mm256_slli_epi32(g6, 5)),
            _mm256_slli_epi32(_mm256_srli_epi32(rb5, 16), 11));
        __m128i out = _mm256_castsi256_si128(
            _mm256_permute4x64_epi64(_mm256_packus_epi32(packed, packed), 0x08));
        // The last pixels of a run go through a copy, so nothing past the run is touched.
        const int m = std::min(8, n - i);
        BYTE* to = line + static_cast<std::ptrdiff_t>(x + i) * 2;
        alignas(16) BYTE tail[16];
        BYTE* at8 = to;
        if (m < 8) {
            std::memcpy(tail, to, static_cast<std::size_t>(m) * 2);
            at8 = tail;
        }
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at8));
        if constexpr (Add) {
            // Each channel moved to the top of its lane, so the saturating add clamps it.
            const __m128i rMask = _mm_set1_epi16(short(0xF800));
            const __m128i gMask = _mm_set1_epi16(short(0xFC00));
            const __m128i r = _mm_and_si128(
                _mm_adds_epu16(_mm_and_si128(d, rMask), _mm_and_si128(out, rMask)), rMask);
            const __m128i g = _mm_srli_epi16(
                _mm_and_si128(_mm_adds_epu16(_mm_and_si128(_mm_slli_epi16(d, 5), gMask),
                                             _mm_and_si128(_mm_slli_epi16(out, 5), gMask)),
                              gMask),
                5);
            const __m128i b =
                _mm_srli_epi16(_mm_adds_epu16(_mm_slli_epi16(d, 11), _mm_slli_epi16(out, 11)), 11);
            out = _mm_or_si128(_mm_or_si128(r, g), b);
        }
        if constexpr (Marker) {
            const __m128i keep = _mm256_castsi256_si128(
                _mm256_permute4x64_epi64(_mm256_packs_epi32(drawn, drawn), 0x08));
            out = _mm_blendv_epi8(d, out, keep);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at8), out);
        if (m < 8)
            std::memcpy(to, tail, static_cast<std::size_t>(m) * 2);
    }
}

} // namespace

FusedFunction PickFused(bool add, bool marker) {
    if (add)
        return marker ? &FusedBilinear565<true, true> : &FusedBilinear565<true, false>;
    return marker ? &FusedBilinear565<false, true> : &FusedBilinear565<false, false>;
}
#endif

} // namespace directx::raster
