#include "display/graph.h"

#include "display/fb.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstdlib>

namespace {

// Writes one pixel at byte offset `off` when the whole pixel lies inside
// [0, limit). 16-bit pixels are RGB565 little-endian, 32-bit ones B, G, R, 0.
inline void PutPixel(uint8_t *buf, int64_t off, int64_t limit, uint32_t pixelSize, uint8_t r,
                     uint8_t g, uint8_t b) {
    if (off < 0 || off >= limit) return;
    uint8_t *p = buf + off;
    if (pixelSize == 4) {
        p[0] = b;
        p[1] = g;
        p[2] = r;
        p[3] = 0;
    } else if (pixelSize == 2) {
        p[0] = static_cast<uint8_t>(((g & 0x1C) << 3) | (b >> 3));
        p[1] = static_cast<uint8_t>((r & 0xF8) | (g >> 5));
    }
}

// A 32-bit pixel as one word: bytes B, G, R, 0 in memory (little-endian).
inline uint32_t PixelWord(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<uint32_t>(b) | static_cast<uint32_t>(g) << 8 |
           static_cast<uint32_t>(r) << 16;
}

inline uint8_t *Target(FbScreen *s, int toBack) {
    return toBack != 0 ? s->backMem : s->workMem;
}

inline bool Drawable(const FbScreen *s) {
    return s->pixelSize == 2 || s->pixelSize == 4;
}

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

int64_t CeilDiv(int64_t a, int64_t b) {
    return -FloorDiv(-a, b);
}

// Minor-axis steps taken before major step k of the walk below, and the
// error term there. The walk's e starts at 2 minor - major, gains 2 minor per
// step and loses 2 major per minor step, so it stays in [2 minor - 2 major,
// 2 minor): m = floor((2 minor k + major) / (2 major)) and e = the remainder
// + 2 minor - 2 major. The product needs 65 bits for far-out lines, so it is
// divided in two 16-bit-shifted pieces that stay within 64.
struct WalkState {
    int64_t minorSteps, error;
};
WalkState StateAtStep(int64_t k, int64_t major, int64_t minor) {
    const int64_t d = 2 * major;
    int64_t x = 2 * minor; // at most d
    int64_t q = 0;
    if (x >= d) {
        q = k;
        x -= d;
    }
    const int64_t t = x * (k >> 16);
    q += (t / d) << 16;
    const int64_t rest = (t % d) * 65536 + x * (k & 0xFFFF) + major;
    return {q + rest / d, rest % d + 2 * minor - 2 * major};
}

struct Steps {
    int64_t first, last;
};

// The steps 0..major of a line whose pixel offsets may lie in [0, limit):
// offset(k) = start + k majorStep + m(k) minorStep with m(k) within half a
// step of k minor / major, so offset(k) is within |minorStep| / 2 of a
// straight function of k. Solved for k with a margin of two steps; the
// pixels themselves are still checked one by one.
Steps StepsInBuffer(int64_t start, int64_t majorStep, int64_t minorStep, int64_t major,
                    int64_t minor, int64_t limit, int64_t lineSize, int64_t pixelSize) {
    const long double slope =
        majorStep + static_cast<long double>(minorStep) * minor / static_cast<long double>(major);
    const long double slack = std::abs(minorStep) / 2.0L + 1;
    const long double lo = -slack - start, hi = limit + slack - start;
    long double kLo = 0, kHi = static_cast<long double>(major);
    if (slope > 0) {
        kLo = std::max(kLo, lo / slope - 2);
        kHi = std::min(kHi, hi / slope + 2);
    } else if (slope < 0) {
        kLo = std::max(kLo, hi / slope - 2);
        kHi = std::min(kHi, lo / slope + 2);
    } else if (start < lo || start > hi) {
        return {1, 0};
    }
    if (kLo > kHi) return {1, 0};
    Steps s{static_cast<int64_t>(std::floor(kLo)), static_cast<int64_t>(std::ceil(kHi))};
    // A line running almost along the wrap (its offset barely moving while
    // both ends lie thousands of screens away) would stay near the buffer for
    // billions of steps. Every other line crosses it in fewer steps than it
    // has pixels (plus a row); four times that bounds the walk.
    const int64_t cap = 4 * ((limit + lineSize) / pixelSize) + 8;
    if (s.last - s.first > cap) s.last = s.first + cap;
    return s;
}

// The walk of a line whose steps all lie on a 32-bit screen: one word per
// major step, the minor axis stepped when the error term allows.
inline void WalkWords(uint8_t *buf, int64_t off, int64_t limit, int64_t major, int64_t minor,
                      int64_t majorStep, int64_t minorStep, uint32_t word) {
    int64_t e = 2 * minor - major;
    for (int64_t i = 0; i <= major; i++) {
        if (off < limit) *reinterpret_cast<uint32_t *>(buf + off) = word;
        while (e >= 0) {
            off += minorStep;
            e -= 2 * major;
        }
        off += majorStep;
        e += 2 * minor;
    }
}

} // namespace

void DrawHorizontalLine(int x0, int y, int x1, uint8_t r, uint8_t g, uint8_t b, FbScreen *screen,
                        int toBack) {
    uint8_t *buf = Target(screen, toBack);
    if (buf == nullptr || !Drawable(screen) || x1 <= x0) return;
    // Callers keep rows on the screen; a bad coordinate must still not write
    // outside the buffer, nor walk billions of pixels that all lie outside it.
    const int64_t ps = screen->pixelSize;
    const int64_t limit = static_cast<int64_t>(screen->memSize) - ps + 1;
    const int64_t rowOff = static_cast<int64_t>(y) * screen->lineSize;
    // Pixel x is inside when 0 <= rowOff + x * ps < limit.
    const int64_t first = std::max<int64_t>(x0, CeilDiv(-rowOff, ps));
    const int64_t last =
        std::min<int64_t>(static_cast<int64_t>(x1) - 1, FloorDiv(limit - 1 - rowOff, ps));
    if (first > last) return;
    fbMarkSpan(screen, rowOff + first * ps, rowOff + last * ps, toBack);
    // Every pixel of [first, last] lies wholly inside the buffer: fill words.
    uint8_t *p = buf + rowOff + first * ps;
    const int64_t n = last - first + 1;
    if (ps == 4) {
        std::fill_n(reinterpret_cast<uint32_t *>(p), n, PixelWord(r, g, b));
    } else {
        for (int64_t x = first; x <= last; x++)
            PutPixel(buf, rowOff + x * ps, limit, screen->pixelSize, r, g, b);
    }
}

void DrawLine(int x0, int y0, int x1, int y1, uint8_t r, uint8_t g, uint8_t b, FbScreen *screen,
              int toBack) {
    uint8_t *buf = Target(screen, toBack);
    if (buf == nullptr || !Drawable(screen)) return;
    if (x0 == x1 && y0 == y1) return;
    const int64_t ps = screen->pixelSize;
    const int64_t ls = screen->lineSize;
    // The last pixel of the buffer is never drawn (offset < memSize - pixelSize).
    const int64_t limit = static_cast<int64_t>(screen->memSize) - ps;
    // Bresenham with the major axis stepped every time and the minor one when
    // the error term allows. In 64 bits: coordinates far outside the screen
    // must not overflow.
    const int64_t dx = std::llabs(static_cast<int64_t>(x1) - x0);
    const int64_t dy = std::llabs(static_cast<int64_t>(y1) - y0);
    const int64_t sx = static_cast<int64_t>(x1) - x0 >= 1 ? 1 : -1;
    const int64_t sy = static_cast<int64_t>(y1) - y0 >= 1 ? 1 : -1;
    const bool steep = dx < dy;
    const int64_t major = steep ? dy : dx, minor = steep ? dx : dy;
    // Offset steps along each axis.
    const int64_t majorStep = steep ? sy * ls : sx * ps, minorStep = steep ? sx * ps : sy * ls;
    const int64_t start = static_cast<int64_t>(y0) * ls + static_cast<int64_t>(x0) * ps;
    Steps range{0, major};
    int64_t off = start;
    int64_t e = 2 * minor - major;
    const bool inside = x0 >= 0 && x0 < screen->sizeX && x1 >= 0 && x1 < screen->sizeX && y0 >= 0 &&
                        y0 < screen->sizeY && y1 >= 0 && y1 < screen->sizeY;
    if (inside)
        fbMarkRect(screen, std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1),
                   toBack);
    if (inside && ps == 4) {
        // Both ends on the screen (the usual case): every step is, too.
        WalkWords(buf, start, limit, major, minor, majorStep, minorStep, PixelWord(r, g, b));
        return;
    }
    if (!inside) {
        // Only the steps whose pixel can land in the buffer are walked, from
        // the state the walk from step 0 would have there.
        range = StepsInBuffer(start, majorStep, minorStep, major, minor, limit, ls, ps);
        if (range.first > range.last) return;
        const WalkState at = StateAtStep(range.first, major, minor);
        off = start + range.first * majorStep + at.minorSteps * minorStep;
        e = at.error;
    }
    // Walks the steps; the first walk (write false) only finds the offsets,
    // so that the damage is noted before any pixel changes.
    const int64_t off0 = off, e0 = e;
    int64_t lo = INT64_MAX, hi = INT64_MIN;
    auto walk = [&](bool write) {
        off = off0;
        e = e0;
        for (int64_t i = range.first; i <= range.last; i++) {
            if (off >= 0 && off < limit) {
                lo = std::min(lo, off);
                hi = std::max(hi, off);
            }
            if (write) PutPixel(buf, off, limit, screen->pixelSize, r, g, b);
            while (e >= 0) {
                off += minorStep;
                e -= 2 * major;
            }
            off += majorStep;
            e += 2 * minor;
        }
    };
    if (!inside) {
        walk(false);
        fbMarkSpan(screen, lo, hi, toBack);
    }
    walk(true);
}

void DrawLineStrip(const int *xs, const int *ys, int first, int last, uint8_t r, uint8_t g,
                   uint8_t b, FbScreen *screen, int toBack) {
    if (first >= last) return;
    uint8_t *buf = Target(screen, toBack);
    if (buf == nullptr || !Drawable(screen)) return;
    int left = xs[first], right = xs[first], top = ys[first], bottom = ys[first];
    for (int i = first + 1; i <= last; i++) {
        left = std::min(left, xs[i]);
        right = std::max(right, xs[i]);
        top = std::min(top, ys[i]);
        bottom = std::max(bottom, ys[i]);
    }
    if (screen->pixelSize != 4 || left < 0 || right >= screen->sizeX || top < 0 ||
        bottom >= screen->sizeY) {
        for (int i = first; i < last; i++)
            DrawLine(xs[i], ys[i], xs[i + 1], ys[i + 1], r, g, b, screen, toBack);
        return;
    }
    // Every point on the screen: one mark for the whole strip, then the
    // segments exactly as DrawLine walks them.
    fbMarkRect(screen, left, top, right, bottom, toBack);
    const int64_t ls = screen->lineSize;
    const int64_t limit = static_cast<int64_t>(screen->memSize) - 4;
    const uint32_t word = PixelWord(r, g, b);
    for (int i = first; i < last; i++) {
        const int64_t x0 = xs[i], y0 = ys[i], x1 = xs[i + 1], y1 = ys[i + 1];
        if (x0 == x1 && y0 == y1) continue;
        const int64_t dx = std::llabs(x1 - x0), dy = std::llabs(y1 - y0);
        const int64_t sx = x1 - x0 >= 1 ? 1 : -1, sy = y1 - y0 >= 1 ? 1 : -1;
        const bool steep = dx < dy;
        const int64_t major = steep ? dy : dx, minor = steep ? dx : dy;
        const int64_t majorStep = steep ? sy * ls : sx * 4, minorStep = steep ? sx * 4 : sy * ls;
        WalkWords(buf, y0 * ls + x0 * 4, limit, major, minor, majorStep, minorStep, word);
    }
}

void DrawRect(FbScreen *s, int left, int top, int right, int bottom, uint8_t r, uint8_t g,
              uint8_t b) {
    DrawLine(left, top, left, bottom, r, g, b, s, 0);
    DrawLine(right, top, right, bottom, r, g, b, s, 0);
    DrawHorizontalLine(left, top, right, r, g, b, s, 0);
    DrawHorizontalLine(left, bottom, right, r, g, b, s, 0);
}
