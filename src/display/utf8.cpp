#include "display/utf8.h"

namespace {

inline bool InRange(unsigned char c, unsigned char lo, unsigned char hi) {
    return c >= lo && c <= hi;
}

} // namespace

int utf8_get_next_char(const unsigned char *text, size_t len, unsigned *pos, int *valid,
                       uint32_t *codePoint) {
    *codePoint = 0;
    *valid = 1;
    size_t p = *pos;
    if (p >= len) return -1;
    const unsigned char c0 = text[p];
    if (c0 < 0x80) {
        *codePoint = c0;
        *pos = static_cast<unsigned>(p + 1);
        return 1;
    }
    // Sequence length and the range of the second byte, from the lead byte.
    int need;
    unsigned char lo2 = 0x80, hi2 = 0xBF;
    uint32_t cp;
    if (InRange(c0, 0xC2, 0xDF)) {
        need = 2;
        cp = c0 & 0x1F;
    } else if (InRange(c0, 0xE0, 0xEF)) {
        need = 3;
        cp = c0 & 0x0F;
        if (c0 == 0xE0)
            lo2 = 0xA0;
        else if (c0 == 0xED)
            hi2 = 0x9F;
    } else if (InRange(c0, 0xF0, 0xF4)) {
        need = 4;
        cp = c0 & 0x07;
        if (c0 == 0xF0)
            lo2 = 0x90;
        else if (c0 == 0xF4)
            hi2 = 0x8F;
    } else {
        // 80..C1 and F5..FF cannot start a sequence.
        *valid = 0;
        *pos = static_cast<unsigned>(p + 1);
        return 1;
    }
    int used = 1;
    for (int k = 1; k < need; k++) {
        unsigned char lo = k == 1 ? lo2 : 0x80, hi = k == 1 ? hi2 : 0xBF;
        if (p + k >= len || !InRange(text[p + k], lo, hi)) {
            // Ill-formed: step over the lead and the bytes that were in range.
            *valid = 0;
            *pos = static_cast<unsigned>(p + used);
            return 1;
        }
        cp = (cp << 6) | (text[p + k] & 0x3F);
        used++;
    }
    *codePoint = cp;
    *pos = static_cast<unsigned>(p + need);
    return 1;
}
