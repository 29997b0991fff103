#include "display/graph.h"

#include "core/works.h"
#include "display/fb.h"

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

inline uint8_t *Target(FbScreen *s, int toBack) {
    return toBack != 0 ? s->backMem : s->workMem;
}

inline bool Drawable(const FbScreen *s) {
    return s->pixelSize == 2 || s->pixelSize == 4;
}

} // namespace

void DrawHorizontalLine(int x0, int y, int x1, uint8_t r, uint8_t g, uint8_t b, FbScreen *screen,
                        int toBack) {
    uint8_t *buf = Target(screen, toBack);
    if (buf == nullptr || !Drawable(screen) || x1 <= x0) return;
    // Callers keep rows on the screen; a bad coordinate must still not write
    // outside the buffer.
    int64_t limit = static_cast<int64_t>(screen->memSize) - screen->pixelSize + 1;
    int64_t off =
        static_cast<int64_t>(y) * screen->lineSize + static_cast<int64_t>(x0) * screen->pixelSize;
    for (int x = x0; x < x1; x++, off += screen->pixelSize)
        PutPixel(buf, off, limit, screen->pixelSize, r, g, b);
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
    int dx = std::abs(x1 - x0), dy = std::abs(y1 - y0);
    int sx = x1 - x0 >= 1 ? 1 : -1;
    int sy = y1 - y0 >= 1 ? 1 : -1;
    int x = x0, y = y0;
    if (dx < dy) {
        int e = 2 * dx - dy;
        for (int i = 0; i <= dy; i++) {
            PutPixel(buf, y * ls + x * ps, limit, screen->pixelSize, r, g, b);
            while (e >= 0) {
                x += sx;
                e -= 2 * dy;
            }
            y += sy;
            e += 2 * dx;
        }
    } else {
        int e = 2 * dy - dx;
        for (int i = 0; i <= dx; i++) {
            PutPixel(buf, y * ls + x * ps, limit, screen->pixelSize, r, g, b);
            while (e >= 0) {
                y += sy;
                e -= 2 * dx;
            }
            x += sx;
            e += 2 * dy;
        }
    }
}

void DrawRect(Works *works, int left, int top, int right, int bottom, uint8_t r, uint8_t g,
              uint8_t b) {
    FbScreen *s = &works->fb;
    DrawLine(left, top, left, bottom, r, g, b, s, 0);
    DrawLine(right, top, right, bottom, r, g, b, s, 0);
    DrawHorizontalLine(left, top, right, r, g, b, s, 0);
    DrawHorizontalLine(left, bottom, right, r, g, b, s, 0);
}
