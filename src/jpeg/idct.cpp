// Integer inverse DCT after Loeffler, Ligtenberg and Moschytz (13-bit
// constants, 2 extra bits kept between the passes), the form that the
// reference decoders use, so that results match them sample for sample.
// Arithmetic runs in unsigned 32 bits: a hostile stream can push sums past
// the int range, and wrapping there is defined (the pixels are garbage then
// anyway).
#include "jpeg/idct.h"

#include <cstring>

namespace jpgd {
namespace {

constexpr int kConstBits = 13;
constexpr int kPass1Bits = 2;
constexpr int kShift1 = kConstBits - kPass1Bits;     // 11
constexpr int kShift2 = kConstBits + kPass1Bits + 3; // 18

constexpr uint32_t F0298 = 2446, F0390 = 3196, F0541 = 4433, F0765 = 6270, F0899 = 7373,
                   F1175 = 9633, F1501 = 12299, F1847 = 15137, F1961 = 16069, F2053 = 16819,
                   F2562 = 20995, F3072 = 25172;

// Sample value of a pass-2 result: the low 10 bits as a signed number, plus
// 128, clamped to 0..255.
struct RangeTable {
    uint8_t v[1024];
    RangeTable() {
        for (int i = 0; i < 1024; i++) {
            int x = (i < 512 ? i : i - 1024) + 128;
            v[i] = static_cast<uint8_t>(x < 0 ? 0 : x > 255 ? 255 : x);
        }
    }
};
const RangeTable kRange;

inline int32_t Descale(uint32_t x, int n) {
    return static_cast<int32_t>(x + (1u << (n - 1))) >> n;
}

inline uint8_t Sample(uint32_t x) {
    return kRange.v[static_cast<uint32_t>(Descale(x, kShift2)) & 1023u];
}

// One 8-point transform; o[] receives the sums before descaling.
template <typename T> inline void Kernel(T s0, T s1, T s2, T s3, T s4, T s5, T s6, T s7, T *o) {
    T z1 = (s2 + s6) * F0541;
    T tmp2 = z1 - s6 * F1847;
    T tmp3 = z1 + s2 * F0765;
    T tmp0 = (s0 + s4) << kConstBits;
    T tmp1 = (s0 - s4) << kConstBits;
    T tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3;
    T tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;

    T z5 = (s7 + s3 + s5 + s1) * F1175;
    T a1 = (s7 + s1) * (0u - F0899);
    T a2 = (s5 + s3) * (0u - F2562);
    T a3 = (s7 + s3) * (0u - F1961) + z5;
    T a4 = (s5 + s1) * (0u - F0390) + z5;
    T t0 = s7 * F0298 + a1 + a3;
    T t1 = s5 * F2053 + a2 + a4;
    T t2 = s3 * F3072 + a2 + a3;
    T t3 = s1 * F1501 + a1 + a4;

    o[0] = tmp10 + t3;
    o[7] = tmp10 - t3;
    o[1] = tmp11 + t2;
    o[6] = tmp11 - t2;
    o[2] = tmp12 + t1;
    o[5] = tmp12 - t1;
    o[3] = tmp13 + t0;
    o[4] = tmp13 - t0;
}

// The same with s4..s7 zero (coefficients only in the first four).
inline void Kernel4(uint32_t s0, uint32_t s1, uint32_t s2, uint32_t s3, uint32_t *o) {
    uint32_t z1 = s2 * F0541;
    uint32_t tmp3 = z1 + s2 * F0765;
    uint32_t tmp0 = s0 << kConstBits;
    uint32_t tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3;
    uint32_t tmp11 = tmp0 + z1, tmp12 = tmp0 - z1;

    uint32_t z5 = (s3 + s1) * F1175;
    uint32_t a1 = s1 * (0u - F0899);
    uint32_t a2 = s3 * (0u - F2562);
    uint32_t a3 = s3 * (0u - F1961) + z5;
    uint32_t a4 = s1 * (0u - F0390) + z5;
    uint32_t t0 = a1 + a3;
    uint32_t t1 = a2 + a4;
    uint32_t t2 = s3 * F3072 + a2 + a3;
    uint32_t t3 = s1 * F1501 + a1 + a4;

    o[0] = tmp10 + t3;
    o[7] = tmp10 - t3;
    o[1] = tmp11 + t2;
    o[6] = tmp11 - t2;
    o[2] = tmp12 + t1;
    o[5] = tmp12 - t1;
    o[3] = tmp13 + t0;
    o[4] = tmp13 - t0;
}

inline void RowsOut(const int32_t *ws, uint8_t *out, int stride, bool sparse) {
    uint32_t o[8];
    for (int r = 0; r < 8; r++, ws += 8, out += stride) {
        const uint32_t *w = reinterpret_cast<const uint32_t *>(ws);
        if ((w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7]) == 0) {
            uint8_t v = kRange.v[static_cast<uint32_t>(Descale(w[0], kPass1Bits + 3)) & 1023u];
            std::memset(out, v, 8);
            continue;
        }
        if (sparse)
            Kernel4(w[0], w[1], w[2], w[3], o);
        else
            Kernel(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], o);
        for (int i = 0; i < 8; i++)
            out[i] = Sample(o[i]);
    }
}

typedef uint32_t U32x4 __attribute__((vector_size(16)));
typedef int32_t I32x4 __attribute__((vector_size(16)));
typedef int16_t I16x4 __attribute__((vector_size(8)));
typedef int16_t I16x8 __attribute__((vector_size(16)));
typedef uint8_t U8x8 __attribute__((vector_size(8)));
typedef uint8_t U8x16 __attribute__((vector_size(16)));

inline U32x4 Load4(const int32_t *p) {
    U32x4 v;
    std::memcpy(&v, p, 16);
    return v;
}

// Rows a..d of a 4 x 4 block become its columns.
inline void Transpose4(U32x4 &a, U32x4 &b, U32x4 &c, U32x4 &d) {
    U32x4 ab0 = __builtin_shufflevector(a, b, 0, 4, 1, 5),
          ab1 = __builtin_shufflevector(a, b, 2, 6, 3, 7);
    U32x4 cd0 = __builtin_shufflevector(c, d, 0, 4, 1, 5),
          cd1 = __builtin_shufflevector(c, d, 2, 6, 3, 7);
    a = __builtin_shufflevector(ab0, cd0, 0, 1, 4, 5);
    b = __builtin_shufflevector(ab0, cd0, 2, 3, 6, 7);
    c = __builtin_shufflevector(ab1, cd1, 0, 1, 4, 5);
    d = __builtin_shufflevector(ab1, cd1, 2, 3, 6, 7);
}

// Pass-2 sums of four rows to samples, as Sample() does: the descaled
// value's low 10 bits as a signed number, plus 128, clamped (the clamp in
// 16 bits, where the sum always fits).
inline I16x4 Samples4(U32x4 x) {
    I32x4 v = reinterpret_cast<I32x4>((x + (1u << (kShift2 - 1))) << (32 - 10 - kShift2)) >> 22;
    return __builtin_convertvector(v, I16x4);
}

void IdctFull(const int32_t *coef, uint8_t *out, int stride) {
    // Pass 1 over all eight columns at once, with no per-column test, so that
    // the compiler can run the columns side by side in vector registers.
    alignas(16) int32_t ws[64];
    const uint32_t *in = reinterpret_cast<const uint32_t *>(coef);
    for (int c = 0; c < 8; c++) {
        uint32_t o[8];
        Kernel(in[c], in[8 + c], in[16 + c], in[24 + c], in[32 + c], in[40 + c], in[48 + c],
               in[56 + c], o);
        for (int r = 0; r < 8; r++)
            ws[r * 8 + c] = Descale(o[r], kShift1);
    }
    // Pass 2 over four rows at a time: transpose each half so that a vector
    // holds one position of four rows, run the kernel, and turn the eight
    // results (a column of four samples each) back into rows.
    I16x8 col[8]; // col[i]: sample i of rows 0..7
    for (int half = 0; half < 2; half++) {
        const int32_t *w = ws + half * 32;
        U32x4 s[8];
        for (int i = 0; i < 4; i++) {
            s[i] = Load4(w + i * 8);
            s[4 + i] = Load4(w + i * 8 + 4);
        }
        Transpose4(s[0], s[1], s[2], s[3]);
        Transpose4(s[4], s[5], s[6], s[7]);
        U32x4 o[8];
        Kernel(s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], o);
        for (int i = 0; i < 8; i++) {
            I16x4 v = Samples4(o[i]);
            if (half == 0)
                col[i] = __builtin_shufflevector(v, v, 0, 1, 2, 3, 0, 1, 2, 3);
            else
                col[i] = __builtin_shufflevector(
                    col[i], __builtin_shufflevector(v, v, 0, 1, 2, 3, 0, 1, 2, 3), 0, 1, 2, 3, 8, 9,
                    10, 11);
        }
    }
    // 8 x 8 transpose of the 16-bit samples: rows out.
    I16x8 a[8], b[8];
    for (int i = 0; i < 4; i++) {
        a[2 * i] = __builtin_shufflevector(col[2 * i], col[2 * i + 1], 0, 8, 1, 9, 2, 10, 3, 11);
        a[2 * i + 1] =
            __builtin_shufflevector(col[2 * i], col[2 * i + 1], 4, 12, 5, 13, 6, 14, 7, 15);
    }
    typedef int32_t I32x4v __attribute__((vector_size(16)));
    for (int j = 0; j < 2; j++) {
        for (int i = 0; i < 2; i++) {
            I32x4v x = reinterpret_cast<I32x4v>(a[4 * i + j]),
                   y = reinterpret_cast<I32x4v>(a[4 * i + 2 + j]);
            b[4 * i + 2 * j] = reinterpret_cast<I16x8>(__builtin_shufflevector(x, y, 0, 4, 1, 5));
            b[4 * i + 2 * j + 1] =
                reinterpret_cast<I16x8>(__builtin_shufflevector(x, y, 2, 6, 3, 7));
        }
    }
    const I16x8 lo = I16x8{} - 128, hi = I16x8{} + 127;
    for (int r = 0; r < 8; r += 2) {
        typedef int64_t I64x2 __attribute__((vector_size(16)));
        // b[r/2] holds rows r, r+1 of columns 0-3; b[4 + r/2] of columns 4-7.
        I64x2 p = reinterpret_cast<I64x2>(b[r / 2]), q = reinterpret_cast<I64x2>(b[4 + r / 2]);
        I16x8 r0 = reinterpret_cast<I16x8>(__builtin_shufflevector(p, q, 0, 2));
        I16x8 r1 = reinterpret_cast<I16x8>(__builtin_shufflevector(p, q, 1, 3));
        r0 = r0 < lo ? lo : r0;
        r0 = r0 > hi ? hi : r0;
        r1 = r1 < lo ? lo : r1;
        r1 = r1 > hi ? hi : r1;
        U8x8 b0 = __builtin_convertvector(r0 + 128, U8x8),
             b1 = __builtin_convertvector(r1 + 128, U8x8);
        std::memcpy(out + r * stride, &b0, 8);
        std::memcpy(out + (r + 1) * stride, &b1, 8);
    }
}

void IdctSparse(const int32_t *coef, uint8_t *out, int stride) {
    int32_t ws[64];
    uint32_t o[8];
    const uint32_t *in = reinterpret_cast<const uint32_t *>(coef);
    for (int c = 0; c < 4; c++) {
        const uint32_t *p = in + c;
        if ((p[8] | p[16] | p[24]) == 0) {
            int32_t dc = static_cast<int32_t>(p[0] << kPass1Bits);
            for (int r = 0; r < 8; r++)
                ws[r * 8 + c] = dc;
            continue;
        }
        Kernel4(p[0], p[8], p[16], p[24], o);
        for (int r = 0; r < 8; r++)
            ws[r * 8 + c] = Descale(o[r], kShift1);
    }
    for (int r = 0; r < 8; r++)
        ws[r * 8 + 4] = ws[r * 8 + 5] = ws[r * 8 + 6] = ws[r * 8 + 7] = 0;
    RowsOut(ws, out, stride, true);
}

void IdctDc(const int32_t *coef, uint8_t *out, int stride) {
    uint32_t dc = static_cast<uint32_t>(coef[0]) << kPass1Bits;
    uint8_t v = kRange.v[static_cast<uint32_t>(Descale(dc, kPass1Bits + 3)) & 1023u];
    uint64_t row;
    std::memset(&row, v, 8);
    for (int r = 0; r < 8; r++, out += stride)
        std::memcpy(out, &row, 8);
}

} // namespace

void IdctBlock(const int32_t *coef, int last, uint8_t *out, int stride) {
    if (last == 0)
        IdctDc(coef, out, stride);
    else if (last <= 9)
        IdctSparse(coef, out, stride);
    else
        IdctFull(coef, out, stride);
}

const ColourTables &Colour() {
    static const ColourTables tables = [] {
        ColourTables t{};
        constexpr int kScale = 16;
        constexpr int32_t kHalf = 1 << (kScale - 1);
        auto fix = [](double v) { return static_cast<int32_t>(v * (1 << kScale) + 0.5); };
        for (int i = 0; i < 256; i++) {
            int32_t x = i - 128;
            t.crR[i] = (fix(1.40200) * x + kHalf) >> kScale;
            t.cbB[i] = (fix(1.77200) * x + kHalf) >> kScale;
            t.crG[i] = -fix(0.71414) * x;
            t.cbG[i] = -fix(0.34414) * x + kHalf;
        }
        for (int i = 0; i < 1024; i++) {
            int v = i - 384;
            t.clamp[i] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
        return t;
    }();
    return tables;
}

} // namespace jpgd
