#include "display/ttf.h"

#include "display/fb.h"
#include "display/utf8.h"
#include "platform/log.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

FT_Library library = nullptr;
FT_Face face[kFontSlots] = {};
FT_GlyphSlot slot[kFontSlots] = {};
int fontSize[kFontSlots] = {};

namespace {

// One rendered glyph: its 8-bit coverage rows and the metrics placement needs.
// The bitmap does not depend on the whole-pixel part of the pen: a glyph is
// always rendered with only the pen's fraction as translation and placed at
// the pen when drawn. (A far-off pen as translation makes FreeType refuse the
// glyph; whole-pixel shifts do not change the coverage.)
struct Glyph {
    bool ok = false; // false: the font could not load the character
    int rows = 0;
    int pitch = 0;
    FT_Pos height = 0;
    FT_Pos bearingY = 0;
    FT_Vector advance{};
    // Coverage c of each bitmap byte, widened to the pixel's four bytes as
    // (c, c, c, 255): the blend of a whole span is then the same sum for
    // every byte, and byte 3 comes out 0.
    std::vector<uint8_t> cov4;
    uint8_t Coverage(int row, int j) const {
        return cov4[4 * (static_cast<size_t>(row) * pitch + static_cast<size_t>(j))];
    }
};

// Cached glyphs of one slot: Latin-1 in a table, the rest in a map.
struct GlyphCache {
    std::array<std::unique_ptr<Glyph>, 256> latin;
    std::unordered_map<uint32_t, Glyph> other;
    size_t count = 0;
    void Clear() {
        for (auto &g : latin)
            g.reset();
        other.clear();
        count = 0;
    }
    const Glyph *Find(uint32_t cp) const {
        if (cp < latin.size()) return latin[cp].get();
        auto it = other.find(cp);
        return it == other.end() ? nullptr : &it->second;
    }
    const Glyph *Store(uint32_t cp, Glyph &&g) {
        count++;
        if (cp < latin.size()) {
            latin[cp] = std::make_unique<Glyph>(std::move(g));
            return latin[cp].get();
        }
        return &other.emplace(cp, std::move(g)).first->second;
    }
};

// Every use of a slot (loading, drawing, measuring) holds its lock: a glyph
// load changes the face's transform and glyph slot, and the cache is shared.
struct SlotState {
    std::mutex mu;
    GlyphCache cache;
};

SlotState slotState[kFontSlots];
std::atomic<bool> cacheOn{true};
// A slot keeps at most this many glyphs; further ones are rendered each time.
constexpr size_t kMaxCachedGlyphs = 4096;

bool ValidSlot(int n) {
    return n >= 0 && n < kFontSlots;
}

// Loads a code point with the transform `m` and the pen's fraction of a pixel
// as translation, and copies what drawing needs.
void Render(int n, uint32_t cp, FT_Matrix *m, const FT_Vector &pen, Glyph *out) {
    FT_Vector frac{pen.x & 63, pen.y & 63};
    FT_Set_Transform(face[n], m, &frac);
    out->ok = FT_Load_Char(face[n], cp, FT_LOAD_RENDER) == 0;
    if (!out->ok) return;
    FT_GlyphSlot g = slot[n];
    out->rows = static_cast<int>(g->bitmap.rows);
    out->pitch = std::abs(g->bitmap.pitch);
    out->height = g->metrics.height;
    out->bearingY = g->metrics.horiBearingY;
    out->advance = g->advance;
    out->cov4.assign(static_cast<size_t>(out->rows) * out->pitch * 4, 0);
    if (g->bitmap.buffer == nullptr) return;
    for (int i = 0; i < out->rows; i++) {
        const uint8_t *src = g->bitmap.buffer + static_cast<ptrdiff_t>(i) * g->bitmap.pitch;
        uint8_t *dst = out->cov4.data() + static_cast<size_t>(i) * out->pitch * 4;
        for (int j = 0; j < out->pitch; j++) {
            dst[4 * j] = dst[4 * j + 1] = dst[4 * j + 2] = src[j];
            dst[4 * j + 3] = 255;
        }
    }
}

// The glyph for cp at `pen`: from the cache for upright text at a whole-pixel
// pen, else rendered into `tmp`. A glyph that failed to load is never kept.
const Glyph *GetGlyph(int n, uint32_t cp, FT_Matrix *m, const FT_Vector &pen, bool upright,
                      Glyph *tmp) {
    bool cacheable = cacheOn.load(std::memory_order_relaxed) && upright && (pen.x & 63) == 0 &&
                     (pen.y & 63) == 0;
    if (!cacheable) {
        Render(n, cp, m, pen, tmp);
        return tmp;
    }
    GlyphCache &cache = slotState[n].cache;
    if (const Glyph *g = cache.Find(cp)) return g;
    Render(n, cp, m, pen, tmp);
    if (!tmp->ok || cache.count >= kMaxCachedGlyphs) return tmp;
    return cache.Store(cp, std::move(*tmp));
}

inline void Blend(uint8_t *p, uint8_t c, uint8_t r, uint8_t g, uint8_t b) {
    const unsigned inv = 255u - c;
    p[0] = static_cast<uint8_t>(inv * p[0] / 255u + (b & c));
    p[1] = static_cast<uint8_t>(inv * p[1] / 255u + (g & c));
    p[2] = static_cast<uint8_t>(inv * p[2] / 255u + (r & c));
    p[3] = 0;
}

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Sixteen bytes (four pixels) at a time; GCC and Clang map these onto the
// machine's vector registers (SSE2, NEON) or plain code.
typedef uint8_t V16u8 __attribute__((vector_size(16)));
typedef uint16_t V16u16 __attribute__((vector_size(32)));

// Blends four pixels (see BlendSpan).
inline void BlendFour(uint8_t *d, const uint8_t *e, const V16u8 &colour) {
    V16u8 old, cov;
    std::memcpy(&old, d, sizeof old);
    std::memcpy(&cov, e, sizeof cov);
    V16u16 x = __builtin_convertvector(255 - cov, V16u16) * __builtin_convertvector(old, V16u16);
    // x / 255 for 0 <= x <= 255 * 255, without a division.
    V16u16 q = (x + 1 + (x >> 8)) >> 8;
    V16u8 out = __builtin_convertvector(q, V16u8) + (colour & cov);
    std::memcpy(d, &out, sizeof out);
}

// Blends `n` pixels at `d` with the widened coverage `e` and the colour bytes
// `colour` (blue, green, red, 0 four times): per byte
// (255 - c) * old / 255 + (colour AND c), exactly as Blend does.
inline void BlendSpan(uint8_t *d, const uint8_t *e, int64_t n, const V16u8 &colour) {
    // Four pixels without coverage keep their colour (byte 3 becomes 0);
    // four of full coverage take the colour: both what the blend gives.
    static const uint8_t kNone[16] = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255};
    static const uint8_t kFull[16] = {255, 255, 255, 255, 255, 255, 255, 255,
                                      255, 255, 255, 255, 255, 255, 255, 255};
    int64_t j = 0;
    for (; j + 4 <= n; j += 4) {
        uint8_t *p = d + 4 * j;
        const uint8_t *c = e + 4 * j;
        if (std::memcmp(c, kNone, 16) == 0) {
            p[3] = p[7] = p[11] = p[15] = 0;
        } else if (std::memcmp(c, kFull, 16) == 0) {
            std::memcpy(p, &colour, 16);
        } else {
            BlendFour(p, c, colour);
        }
    }
    for (; j < n; j++)
        Blend(d + 4 * j, e[4 * j], colour[2], colour[1], colour[0]);
}

// Upright text (the mode every caller uses): bitmap row `rows - 1 - i` goes
// to screen row rowBase - i from column colBase on, each row cut to the
// columns whose pixel lies inside the buffer.
void BlendUpright(const Glyph &gl, int64_t colBase, int64_t rowBase, uint8_t *buf, int64_t lineSize,
                  int64_t memSize, const V16u8 &colour) {
    for (int i = 0; i < gl.rows; i++) {
        const int64_t rowOff = (rowBase - i) * lineSize + colBase * 4;
        // Pixel j at rowOff + 4j needs 0 <= offset and offset + 3 < memSize.
        const int64_t lo = std::max<int64_t>(0, -FloorDiv(rowOff, 4));
        const int64_t hi = std::min<int64_t>(gl.pitch - 1, FloorDiv(memSize - 4 - rowOff, 4));
        if (lo > hi) continue;
        const uint8_t *e =
            gl.cov4.data() + (static_cast<size_t>(gl.rows - 1 - i) * gl.pitch + lo) * 4;
        BlendSpan(buf + rowOff + 4 * lo, e, hi - lo + 1, colour);
    }
}

// A glyph mirrored or rotated at `pen`. Placement: pixel (col, row) of
// bitmap byte (i, j) is (colBase + colStep * j, rowBase + rowStep * i),
// coverage from row rows-1-i when `flip`, else row i.
void BlendPlaced(FbScreen *screen, uint8_t *buf, int toBack, const Glyph &gl, FT_Vector pen,
                 int mirrorX, int rotate, int mirrorY, uint8_t cr, uint8_t cg, uint8_t cb) {
    const int64_t h = gl.height, by = gl.bearingY;
    const int64_t memSize = screen->memSize, lineSize = screen->lineSize;
    int64_t colBase, colStep, rowBase, rowStep;
    bool flip;
    if (mirrorY == -1 && mirrorX != 1 && rotate == 0) {
        colBase = pen.x / 64, colStep = 1;
        rowBase = -((h - pen.y - by) / 64), rowStep = 1, flip = true;
    } else if (mirrorY == -1 && rotate != 0) {
        colBase = -((h - by - pen.x) / 64), colStep = 1;
        rowBase = pen.y / 64, rowStep = mirrorX == 1 ? 1 : -1, flip = false;
    } else if (mirrorX == 1 && rotate == 0) {
        colBase = pen.x / 64, colStep = -1;
        rowBase = (pen.y + h - by) / 64, rowStep = -1, flip = true;
    } else { // rotated
        colBase = (h + pen.x - by) / 64, colStep = -1;
        rowBase = pen.y / 64, rowStep = mirrorX == 1 ? 1 : -1, flip = false;
    }
    fbMarkRows(screen, 0, screen->sizeY, toBack); // rare placements: all rows
    for (int i = 0; i < gl.rows; i++) {
        const int src = flip ? gl.rows - 1 - i : i;
        const int64_t rowOff = (rowBase + rowStep * i) * lineSize;
        for (int j = 0; j < gl.pitch; j++) {
            const int64_t p = rowOff + (colBase + colStep * j) * 4;
            if (p >= 0 && p + 3 < memSize) Blend(buf + p, gl.Coverage(src, j), cr, cg, cb);
        }
    }
}

} // namespace

void TTFLoad(const char *path, int size, int n) {
    if (!ValidSlot(n)) return;
    std::lock_guard<std::mutex> lock(slotState[n].mu);
    LogInfo("Iinitializing FreeType");
    // One library instance serves every face.
    if (library == nullptr && FT_Init_FreeType(&library) != 0) {
        library = nullptr;
        LogErr("Error initializing FreeType");
        return;
    }
    LogInfo("Loading face: filename=%s", path);
    slotState[n].cache.Clear();
    FT_Face f = nullptr;
    FT_Error err = FT_New_Face(library, path, 0, &f);
    if (err == FT_Err_Unknown_File_Format) {
        LogErr("FreeType: file format not supported");
        return;
    }
    if (err != 0) {
        LogErr("FreeType: file error");
        return;
    }
    LogInfo("Face loaded");
    if (FT_Set_Pixel_Sizes(f, 0, static_cast<FT_UInt>(size)) != 0)
        LogErr("Error Setting Pixel Size");
    LogInfo("Pixel size sat");
    // A slot loaded again takes the new face; the old one stays open, as
    // faces are never closed (another thread may have just measured with it).
    face[n] = f;
    slot[n] = f->glyph;
    fontSize[n] = size;
}

int putString(int n, int x, int y, const char *text, int r, int g, int b, FbScreen *screen,
              int mirrorX, int rotate, int mirrorY, int toBack) {
    if (text == nullptr || screen == nullptr || !ValidSlot(n)) return -1;
    std::lock_guard<std::mutex> lock(slotState[n].mu);
    if (face[n] == nullptr) return -1;
    uint8_t *buf = toBack != 0 ? screen->backMem : screen->workMem;
    if (buf == nullptr) return -1;
    const auto *utf = reinterpret_cast<const unsigned char *>(text);
    const size_t len = std::strlen(text);
    const int64_t memSize = screen->memSize;
    const int64_t lineSize = screen->lineSize;
    const uint8_t cr = static_cast<uint8_t>(r), cg = static_cast<uint8_t>(g),
                  cb = static_cast<uint8_t>(b);
    const V16u8 colour = {cb, cg, cr, 0, cb, cg, cr, 0, cb, cg, cr, 0, cb, cg, cr, 0};

    FT_Vector pen{static_cast<FT_Pos>(x) * 64, static_cast<FT_Pos>(y) * 64};
    float angle = rotate != 0 ? -1.5707964f : 0.0f;
    FT_Matrix m;
    m.xx = static_cast<FT_Fixed>(std::cos(angle) * 65536.0f);
    m.xy = static_cast<FT_Fixed>(-std::sin(angle) * 65536.0f);
    m.yx = static_cast<FT_Fixed>(std::sin(angle) * 65536.0f);
    m.yy = static_cast<FT_Fixed>(std::cos(angle) * 65536.0f);

    unsigned pos = 0;
    int valid = 0;
    uint32_t cp = 0;
    int res;
    Glyph tmp;
    while ((res = utf8_get_next_char(utf, len, &pos, &valid, &cp)) == 1) {
        // An ill-formed sequence comes back as code point 0: the missing-glyph shape.
        const Glyph *gl = GetGlyph(n, cp, &m, pen, rotate == 0, &tmp);
        if (!gl->ok) continue;
        const int64_t h = gl->height, by = gl->bearingY;
        if (mirrorX != 1 && mirrorY != -1 && rotate == 0) {
            const int64_t col = pen.x / 64, bottom = (pen.y + h - by) / 64;
            if (col >= 0 && col + gl->pitch <= screen->sizeX)
                fbMarkRect(screen, col, bottom - gl->rows + 1, col + gl->pitch - 1, bottom, toBack);
            else // wraps into the rows around it
                fbMarkSpan(screen, (bottom - gl->rows + 1) * lineSize + col * 4,
                           bottom * lineSize + (col + gl->pitch) * 4, toBack);
            BlendUpright(*gl, col, bottom, buf, lineSize, memSize, colour);
            pen.x += gl->advance.x;
            pen.y += gl->advance.y;
            continue;
        }
        BlendPlaced(screen, buf, toBack, *gl, pen, mirrorX, rotate, mirrorY, cr, cg, cb);
        if (mirrorX == 1) {
            pen.x -= gl->advance.x;
            pen.y -= gl->advance.y;
        } else {
            pen.x += gl->advance.x;
            pen.y += gl->advance.y;
        }
    }
    return res;
}

int getStringSpace(int n, const char *text) {
    if (text == nullptr || !ValidSlot(n)) return 0;
    std::lock_guard<std::mutex> lock(slotState[n].mu);
    if (face[n] == nullptr) return 0;
    const auto *utf = reinterpret_cast<const unsigned char *>(text);
    const size_t len = std::strlen(text);
    FT_Matrix m{0x10000, 0, 0, 0x10000};
    FT_Vector pen{0, 0};
    unsigned pos = 0;
    int valid = 0;
    uint32_t cp = 0;
    Glyph tmp;
    while (utf8_get_next_char(utf, len, &pos, &valid, &cp) == 1) {
        const Glyph *gl = GetGlyph(n, cp, &m, pen, true, &tmp);
        if (!gl->ok) continue;
        pen.x += gl->advance.x;
        pen.y += gl->advance.y;
    }
    return static_cast<int>(pen.x / 64);
}

void TTFSetGlyphCache(bool on) {
    cacheOn = on;
    if (!on) TTFClearGlyphCache();
}

void TTFClearGlyphCache() {
    for (auto &s : slotState) {
        std::lock_guard<std::mutex> lock(s.mu);
        s.cache.Clear();
    }
}
