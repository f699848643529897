#include "Blit.h"

#include "PixelFormat.h"

#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace directx {

namespace {

template <typename T> void FillRows(const PixelPlane& target, const RECT& rect, T value) {
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        T* row = reinterpret_cast<T*>(target.Row(y)) + rect.left;
        const LONG count = rect.right - rect.left;
        for (LONG i = 0; i < count; ++i)
            row[i] = value;
    }
}

void Fill24(const PixelPlane& target, const RECT& rect, DWORD value) {
    for (LONG y = rect.top; y < rect.bottom; ++y) {
        BYTE* p = target.Row(y) + rect.left * 3;
        for (LONG i = rect.left; i < rect.right; ++i, p += 3)
            StorePixel<3>(p, value);
    }
}

// One keyed row; written as a select so the compiler can vectorise it.
template <typename T>
void KeyedRow(T* __restrict target, const T* __restrict source, LONG count, T low, T range,
              T colorBits) {
    for (LONG i = 0; i < count; ++i) {
        const T value = source[i];
        const T keyed = static_cast<T>(static_cast<T>((value & colorBits) - low) <= range);
        target[i] = keyed ? target[i] : value;
    }
}

// 16-bit pixels against one key value, the common case of sprites and tiles: a blend of
// source and target by the comparison, sixteen pixels at a time where the processor has AVX2,
// else eight. Whole rectangles per call, so a small sprite pays for the dispatch once.
// Pitches may be negative, to walk the rows bottom-up.
void KeyedRect16Narrow(BYTE* target, LONG targetPitch, const BYTE* source, LONG sourcePitch,
                       LONG width, LONG height, WORD key) {
#if defined(__SSE2__)
    const __m128i keys = _mm_set1_epi16(static_cast<short>(key));
#endif
    for (LONG r = 0; r < height; ++r, target += targetPitch, source += sourcePitch) {
        auto* t = reinterpret_cast<WORD*>(target);
        auto* s = reinterpret_cast<const WORD*>(source);
        LONG i = 0;
#if defined(__SSE2__)
        for (; i + 8 <= width; i += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
            const __m128i keyed = _mm_cmpeq_epi16(v, keys);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(t + i),
                             _mm_or_si128(_mm_and_si128(keyed, d), _mm_andnot_si128(keyed, v)));
        }
#endif
        for (; i < width; ++i)
            t[i] = s[i] == key ? t[i] : s[i];
    }
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) void KeyedRect16Wide(BYTE* target, LONG targetPitch,
                                                     const BYTE* source, LONG sourcePitch,
                                                     LONG width, LONG height, WORD key) {
    const __m256i keys = _mm256_set1_epi16(static_cast<short>(key));
    const __m128i narrowKeys = _mm_set1_epi16(static_cast<short>(key));
    for (LONG r = 0; r < height; ++r, target += targetPitch, source += sourcePitch) {
        auto* t = reinterpret_cast<WORD*>(target);
        auto* s = reinterpret_cast<const WORD*>(source);
        LONG i = 0;
        for (; i + 16 <= width; i += 16) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
            const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + i));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(t + i),
                                _mm256_blendv_epi8(v, d, _mm256_cmpeq_epi16(v, keys)));
        }
        if (i + 8 <= width) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(t + i),
                             _mm_blendv_epi8(v, d, _mm_cmpeq_epi16(v, narrowKeys)));
            i += 8;
        }
        for (; i < width; ++i)
            t[i] = s[i] == key ? t[i] : s[i];
    }
}

#endif

void KeyedRect16(BYTE* target, LONG targetPitch, const BYTE* source, LONG sourcePitch, LONG width,
                 LONG height, WORD key) {
#if defined(__x86_64__)
    if (WideVectorsInUse()) {
        KeyedRect16Wide(target, targetPitch, source, sourcePitch, width, height, key);
        return;
    }
#endif
    KeyedRect16Narrow(target, targetPitch, source, sourcePitch, width, height, key);
}

void KeyedRow24(BYTE* target, const BYTE* source, LONG count, const ColorKeyRange& key) {
    for (LONG i = 0; i < count; ++i, target += 3, source += 3) {
        const DWORD value = LoadPixel<3>(source);
        if (value - key.low > key.high - key.low) {
            target[0] = source[0];
            target[1] = source[1];
            target[2] = source[2];
        }
    }
}

void CopyRow(BYTE* target, const BYTE* source, LONG count, int bytesPerPixel,
             const ColorKeyRange& key) {
    if (!key.enabled) {
        std::memmove(target, source, static_cast<std::size_t>(count) * bytesPerPixel);
        return;
    }
    switch (bytesPerPixel) {
    case 1:
        KeyedRow<BYTE>(target, source, count, static_cast<BYTE>(key.low),
                       static_cast<BYTE>(key.high - key.low), static_cast<BYTE>(key.colorBits));
        break;
    case 2: {
        auto* t = reinterpret_cast<WORD*>(target);
        auto* s = reinterpret_cast<const WORD*>(source);
        if (key.low == key.high && (key.colorBits & 0xFFFF) == 0xFFFF)
            KeyedRect16(target, 0, source, 0, count, 1, static_cast<WORD>(key.low));
        else
            KeyedRow<WORD>(t, s, count, static_cast<WORD>(key.low),
                           static_cast<WORD>(key.high - key.low), static_cast<WORD>(key.colorBits));
        break;
    }
    case 3:
        KeyedRow24(target, source, count, key);
        break;
    case 4: {
        auto* t = reinterpret_cast<DWORD*>(target);
        auto* s = reinterpret_cast<const DWORD*>(source);
        KeyedRow<DWORD>(t, s, count, key.low, key.high - key.low, key.colorBits);
        break;
    }
    default:
        break;
    }
}

bool Overlaps(const PixelPlane& a, const PixelPlane& b) {
    return a.bits == b.bits;
}

} // namespace

void FillRect(const PixelPlane& target, const RECT& rect, DWORD value) {
    switch (target.bytesPerPixel) {
    case 1:
        FillRows<BYTE>(target, rect, static_cast<BYTE>(value));
        break;
    case 2:
        FillRows<WORD>(target, rect, static_cast<WORD>(value));
        break;
    case 3:
        Fill24(target, rect, value);
        break;
    case 4:
        FillRows<DWORD>(target, rect, value);
        break;
    default:
        break;
    }
}

void CopyRect(const PixelPlane& target, LONG x, LONG y, const PixelPlane& source,
              const RECT& sourceRect, const ColorKeyRange& key) {
    const LONG width = sourceRect.right - sourceRect.left;
    const LONG height = sourceRect.bottom - sourceRect.top;
    if (width <= 0 || height <= 0)
        return;
    const int bpp = target.bytesPerPixel;
    const bool same = Overlaps(target, source);
    if (same && key.enabled && y == sourceRect.top && x > sourceRect.left) {
        // A keyed copy to the right within the same rows would read what it just wrote.
        std::vector<BYTE> row(static_cast<std::size_t>(width) * bpp);
        for (LONG r = 0; r < height; ++r) {
            std::memcpy(row.data(), source.Row(sourceRect.top + r) + sourceRect.left * bpp,
                        row.size());
            CopyRow(target.Row(y + r) + x * bpp, row.data(), width, bpp, key);
        }
        return;
    }
    // Bottom-up when copying downwards inside one plane.
    const bool upwards = same && y > sourceRect.top;
    if (bpp == 2 && key.enabled && key.low == key.high && (key.colorBits & 0xFFFF) == 0xFFFF) {
        const LONG first = upwards ? height - 1 : 0;
        const LONG step = upwards ? -1 : 1;
        KeyedRect16(target.Row(y + first) + x * 2, step * target.pitch,
                    source.Row(sourceRect.top + first) + sourceRect.left * 2, step * source.pitch,
                    width, height, static_cast<WORD>(key.low));
        return;
    }
    if (!key.enabled && !same) {
        // Opaque between two planes: plain block copies, row by row.
        const std::size_t bytes = static_cast<std::size_t>(width) * bpp;
        BYTE* to = target.Row(y) + x * bpp;
        const BYTE* from = source.Row(sourceRect.top) + sourceRect.left * bpp;
        for (LONG r = 0; r < height; ++r, to += target.pitch, from += source.pitch)
            std::memcpy(to, from, bytes);
        return;
    }
    for (LONG i = 0; i < height; ++i) {
        const LONG r = upwards ? height - 1 - i : i;
        CopyRow(target.Row(y + r) + x * bpp, source.Row(sourceRect.top + r) + sourceRect.left * bpp,
                width, bpp, key);
    }
}

namespace {

// Source positions for target positions first, first + 1, ... of a stretch of size s onto
// size d: floor(i * s / d), stepped exactly as a whole and a remainder part, so no pixel
// pays for a division. Mirrored positions count from the far end.
class StretchStep {
public:
    StretchStep(std::int64_t first, std::int64_t s, std::int64_t d, bool mirror)
        : q_(first * s / d), r_(first * s % d), dq_(s / d), dr_(s % d), d_(d),
          last_(mirror ? s - 1 : 0), sign_(mirror ? -1 : 1) {}
    LONG Position() const { return static_cast<LONG>(last_ + sign_ * q_); }
    void Next() {
        q_ += dq_;
        r_ += dr_;
        if (r_ >= d_) {
            ++q_;
            r_ -= d_;
        }
    }

private:
    std::int64_t q_, r_;
    const std::int64_t dq_, dr_, d_, last_, sign_;
};

// One row per source row: a target row that shows the same source row as the one above it
// is a copy of that one, unless keyed pixels leave the target showing through.
template <typename T>
void StretchRows(const PixelPlane& target, const RECT& full, const RECT& visible,
                 const PixelPlane& source, const RECT& src, const ColorKeyRange& key, bool mirrorX,
                 bool mirrorY) {
    const LONG width = visible.right - visible.left;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * sizeof(T);
    const DWORD range = key.high - key.low;
    StretchStep rows(visible.top - full.top, src.bottom - src.top, full.bottom - full.top, mirrorY);
    LONG previous = -1;
    for (LONG y = visible.top; y < visible.bottom; ++y, rows.Next()) {
        const LONG sy = rows.Position();
        T* trow = reinterpret_cast<T*>(target.Row(y)) + visible.left;
        if (!key.enabled && sy == previous) {
            std::memcpy(trow, reinterpret_cast<const T*>(target.Row(y - 1)) + visible.left,
                        rowBytes);
            continue;
        }
        previous = sy;
        const T* srow = reinterpret_cast<const T*>(source.Row(src.top + sy)) + src.left;
        StretchStep columns(visible.left - full.left, src.right - src.left, full.right - full.left,
                            mirrorX);
        for (LONG i = 0; i < width; ++i, columns.Next()) {
            const T value = srow[columns.Position()];
            if (!key.enabled || static_cast<DWORD>((value & key.colorBits) - key.low) > range)
                trow[i] = value;
        }
    }
}

void StretchRows24(const PixelPlane& target, const RECT& full, const RECT& visible,
                   const PixelPlane& source, const RECT& src, const ColorKeyRange& key,
                   bool mirrorX, bool mirrorY) {
    const LONG width = visible.right - visible.left;
    StretchStep rows(visible.top - full.top, src.bottom - src.top, full.bottom - full.top, mirrorY);
    LONG previous = -1;
    for (LONG y = visible.top; y < visible.bottom; ++y, rows.Next()) {
        const LONG sy = rows.Position();
        BYTE* trow = target.Row(y) + visible.left * 3;
        if (!key.enabled && sy == previous) {
            std::memcpy(trow, target.Row(y - 1) + visible.left * 3,
                        static_cast<std::size_t>(width) * 3);
            continue;
        }
        previous = sy;
        const BYTE* srow = source.Row(src.top + sy) + src.left * 3;
        StretchStep columns(visible.left - full.left, src.right - src.left, full.right - full.left,
                            mirrorX);
        for (LONG i = 0; i < width; ++i, columns.Next()) {
            const BYTE* p = srow + columns.Position() * 3;
            if (key.enabled && LoadPixel<3>(p) - key.low <= key.high - key.low)
                continue;
            std::memcpy(trow + i * 3, p, 3);
        }
    }
}

} // namespace

void StretchRect(const PixelPlane& target, const RECT& fullTarget, const RECT& visibleTarget,
                 const PixelPlane& source, const RECT& sourceRect, const ColorKeyRange& key,
                 bool mirrorLeftRight, bool mirrorUpDown) {
    if (fullTarget.right <= fullTarget.left || fullTarget.bottom <= fullTarget.top ||
        sourceRect.right <= sourceRect.left || sourceRect.bottom <= sourceRect.top)
        return;
    // Reading and writing the same pixels: stretch from a copy of the source.
    std::vector<BYTE> copy;
    PixelPlane from = source;
    RECT fromRect = sourceRect;
    if (Overlaps(target, source)) {
        const LONG w = sourceRect.right - sourceRect.left, h = sourceRect.bottom - sourceRect.top;
        from.pitch = w * source.bytesPerPixel;
        copy.resize(static_cast<std::size_t>(from.pitch) * h);
        from.bits = copy.data();
        from.width = w;
        from.height = h;
        for (LONG r = 0; r < h; ++r)
            std::memcpy(from.Row(r),
                        source.Row(sourceRect.top + r) + sourceRect.left * source.bytesPerPixel,
                        static_cast<std::size_t>(from.pitch));
        fromRect = RECT{0, 0, w, h};
    }
    switch (target.bytesPerPixel) {
    case 1:
        StretchRows<BYTE>(target, fullTarget, visibleTarget, from, fromRect, key, mirrorLeftRight,
                          mirrorUpDown);
        break;
    case 2:
        StretchRows<WORD>(target, fullTarget, visibleTarget, from, fromRect, key, mirrorLeftRight,
                          mirrorUpDown);
        break;
    case 3:
        StretchRows24(target, fullTarget, visibleTarget, from, fromRect, key, mirrorLeftRight,
                      mirrorUpDown);
        break;
    case 4:
        StretchRows<DWORD>(target, fullTarget, visibleTarget, from, fromRect, key, mirrorLeftRight,
                           mirrorUpDown);
        break;
    default:
        break;
    }
}

void BlitRect(const PixelPlane& target, const RECT& fullTarget, const RECT& visibleTarget,
              const PixelPlane& source, const RECT& sourceRect, const ColorKeyRange& key,
              bool mirrorLeftRight, bool mirrorUpDown) {
    const bool sameSize =
        fullTarget.right - fullTarget.left == sourceRect.right - sourceRect.left &&
        fullTarget.bottom - fullTarget.top == sourceRect.bottom - sourceRect.top;
    if (!sameSize || mirrorLeftRight || mirrorUpDown) {
        StretchRect(target, fullTarget, visibleTarget, source, sourceRect, key, mirrorLeftRight,
                    mirrorUpDown);
        return;
    }
    const LONG dx = sourceRect.left - fullTarget.left, dy = sourceRect.top - fullTarget.top;
    const RECT part{visibleTarget.left + dx, visibleTarget.top + dy, visibleTarget.right + dx,
                    visibleTarget.bottom + dy};
    CopyRect(target, visibleTarget.left, visibleTarget.top, source, part, key);
}

} // namespace directx
