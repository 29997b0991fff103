// Integer 8x8 inverse DCT and the JFIF YCbCr-to-RGB tables of the decoder.
#pragma once
#include <cstdint>

namespace jpgd {

// Inverse DCT of one block of dequantised coefficients in natural order into
// 8 rows of 8 samples (`stride` bytes apart). `last` is the highest zig-zag
// index that may be non-zero: 0 takes the DC-only path, up to 9 (all within
// the top-left 4 x 4) the sparse path.
void IdctBlock(const int32_t *coef, int last, uint8_t *out, int stride);

struct ColourTables {
    int32_t crR[256];    // red offset from Cr
    int32_t cbB[256];    // blue offset from Cb
    int32_t crG[256];    // green offset from Cr, scaled by 2^16
    int32_t cbG[256];    // green offset from Cb, scaled by 2^16, with the rounding half
    uint8_t clamp[1024]; // index value + 384, clamped to 0..255
};
const ColourTables &Colour();

} // namespace jpgd
