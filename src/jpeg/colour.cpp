// Row colour conversion. The pixel step runs 16 pixels at a time in generic
// 128-bit vectors (SSE2 on x86-64, NEON on ARM, plain code elsewhere): add
// the offsets in 16 bits, clamp, and interleave the channels with unpacks and
// 64-bit shifts only, which every target has.
#include "jpeg/colour.h"

#include <cstring>

namespace jpgd {
namespace {

typedef uint8_t U8x16 __attribute__((vector_size(16)));
typedef uint8_t U8x8 __attribute__((vector_size(8)));
typedef int16_t I16x8 __attribute__((vector_size(16)));
typedef uint16_t U16x8 __attribute__((vector_size(16)));
typedef uint64_t U64x2 __attribute__((vector_size(16)));

inline U8x16 Load16(const uint8_t *p) {
    U8x16 v;
    std::memcpy(&v, p, 16);
    return v;
}
inline I16x8 Load8(const int16_t *p) {
    I16x8 v;
    std::memcpy(&v, p, 16);
    return v;
}

// y + offset clamped to 0..255, for 16 pixels.
inline U8x16 Channel(I16x8 ylo, I16x8 yhi, const int16_t *off) {
    const I16x8 zero = {0, 0, 0, 0, 0, 0, 0, 0};
    const I16x8 top = {255, 255, 255, 255, 255, 255, 255, 255};
    I16x8 lo = ylo + Load8(off), hi = yhi + Load8(off + 8);
    lo = lo < zero ? zero : lo;
    hi = hi < zero ? zero : hi;
    lo = lo > top ? top : lo;
    hi = hi > top ? top : hi;
    U8x8 a = __builtin_convertvector(lo, U8x8), b = __builtin_convertvector(hi, U8x8);
    return __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}

// Four RGBX pixels (16 bytes) to four RGB pixels in the first 12 bytes.
inline U8x16 Pack3(U8x16 p) {
    U64x2 q = reinterpret_cast<U64x2>(p);
    q = (q & 0xFFFFFFu) | ((q >> 8) & 0xFFFFFF000000u); // 6 bytes in each half
    U64x2 swapped = __builtin_shufflevector(q, q, 1, 0);
    U64x2 lo = q | (swapped << 48);
    U64x2 hi = q >> 16;
    return reinterpret_cast<U8x16>(__builtin_shufflevector(lo, hi, 0, 3));
}

template <int R>
void PixelsVec(const uint8_t *y, const int16_t *r, const int16_t *g, const int16_t *b, uint8_t *d,
               int n) {
    const U8x16 x = R == 4 ? U8x16{} + 255 : U8x16{};
    for (int i = 0; i + 16 <= n; i += 16, y += 16, r += 16, g += 16, b += 16, d += 16 * R) {
        U8x16 yv = Load16(y);
        U8x8 y0 = __builtin_shufflevector(yv, yv, 0, 1, 2, 3, 4, 5, 6, 7);
        U8x8 y1 = __builtin_shufflevector(yv, yv, 8, 9, 10, 11, 12, 13, 14, 15);
        I16x8 ylo = __builtin_convertvector(y0, I16x8), yhi = __builtin_convertvector(y1, I16x8);
        U8x16 rv = Channel(ylo, yhi, r), gv = Channel(ylo, yhi, g), bv = Channel(ylo, yhi, b);
        U8x16 rg0 =
            __builtin_shufflevector(rv, gv, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
        U8x16 rg1 = __builtin_shufflevector(rv, gv, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29,
                                            14, 30, 15, 31);
        U8x16 bx0 =
            __builtin_shufflevector(bv, x, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
        U8x16 bx1 = __builtin_shufflevector(bv, x, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14,
                                            30, 15, 31);
        U16x8 a0 = reinterpret_cast<U16x8>(rg0), a1 = reinterpret_cast<U16x8>(rg1);
        U16x8 c0 = reinterpret_cast<U16x8>(bx0), c1 = reinterpret_cast<U16x8>(bx1);
        U8x16 p[4] = {
            reinterpret_cast<U8x16>(__builtin_shufflevector(a0, c0, 0, 8, 1, 9, 2, 10, 3, 11)),
            reinterpret_cast<U8x16>(__builtin_shufflevector(a0, c0, 4, 12, 5, 13, 6, 14, 7, 15)),
            reinterpret_cast<U8x16>(__builtin_shufflevector(a1, c1, 0, 8, 1, 9, 2, 10, 3, 11)),
            reinterpret_cast<U8x16>(__builtin_shufflevector(a1, c1, 4, 12, 5, 13, 6, 14, 7, 15))};
        if constexpr (R == 4) {
            std::memcpy(d, &p[0], 64);
        } else {
            // Each store leaves 4 spare bytes that the next one overwrites;
            // the last writes only its 12.
            U8x16 q0 = Pack3(p[0]), q1 = Pack3(p[1]), q2 = Pack3(p[2]), q3 = Pack3(p[3]);
            std::memcpy(d, &q0, 16);
            std::memcpy(d + 12, &q1, 16);
            std::memcpy(d + 24, &q2, 16);
            std::memcpy(d + 36, &q3, 12);
        }
    }
}

template <int R>
void PixelsTail(const uint8_t *y, const int16_t *r, const int16_t *g, const int16_t *b, uint8_t *d,
                int n) {
    for (int i = 0; i < n; i++, d += R) {
        int v = y[i];
        int rv = v + r[i], gv = v + g[i], bv = v + b[i];
        d[0] = static_cast<uint8_t>(rv < 0 ? 0 : rv > 255 ? 255 : rv);
        d[1] = static_cast<uint8_t>(gv < 0 ? 0 : gv > 255 ? 255 : gv);
        d[2] = static_cast<uint8_t>(bv < 0 ? 0 : bv > 255 ? 255 : bv);
        if constexpr (R == 4) d[3] = 255;
    }
}

// The offsets of the JFIF tables (16-bit fixed point, rounded) without
// their look-ups, so that the loops vectorise: each constant is split into
// whole units and a part below 2^15, which keeps every product in 16 x 16 ->
// 32 bits and the results equal to the tables' for every input.
inline int16_t RedOff(int v) {
    return static_cast<int16_t>(v + ((26345 * v + 32768) >> 16));
}
inline int16_t BlueOff(int u) {
    return static_cast<int16_t>(2 * u + ((-14942 * u + 32768) >> 16));
}
inline int16_t GreenOff(int u, int v) {
    return static_cast<int16_t>(-v + ((-22554 * u + 18734 * v + 32768) >> 16));
}

} // namespace

void ChromaOffsets(const uint8_t *cb, const uint8_t *cr, int n, bool pairs, int16_t *r, int16_t *g,
                   int16_t *b) {
    if (pairs) {
        int half = n / 2;
        for (int c = 0; c < half; c++) {
            int u = cb[c] - 128, v = cr[c] - 128;
            r[2 * c] = r[2 * c + 1] = RedOff(v);
            g[2 * c] = g[2 * c + 1] = GreenOff(u, v);
            b[2 * c] = b[2 * c + 1] = BlueOff(u);
        }
        if (n & 1) {
            int u = cb[half] - 128, v = cr[half] - 128;
            r[n - 1] = RedOff(v);
            g[n - 1] = GreenOff(u, v);
            b[n - 1] = BlueOff(u);
        }
        return;
    }
    for (int c = 0; c < n; c++) {
        int u = cb[c] - 128, v = cr[c] - 128;
        r[c] = RedOff(v);
        g[c] = GreenOff(u, v);
        b[c] = BlueOff(u);
    }
}

void ColourPixels(const uint8_t *y, const int16_t *r, const int16_t *g, const int16_t *b,
                  uint8_t *d, int n, int comps) {
    int vec = n & ~15;
    if (comps == 4) {
        PixelsVec<4>(y, r, g, b, d, vec);
        PixelsTail<4>(y + vec, r + vec, g + vec, b + vec, d + 4 * vec, n - vec);
    } else {
        PixelsVec<3>(y, r, g, b, d, vec);
        PixelsTail<3>(y + vec, r + vec, g + vec, b + vec, d + 3 * vec, n - vec);
    }
}

} // namespace jpgd
