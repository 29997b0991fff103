#include "display/ttf.h"

#include "display/fb.h"
#include "display/utf8.h"
#include "platform/log.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

FT_Library library = nullptr;
FT_Face face[kFontSlots] = {};
FT_GlyphSlot slot[kFontSlots] = {};
int fontSize[kFontSlots] = {};

namespace {

// One rendered glyph: its 8-bit coverage rows and the metrics placement needs.
struct Glyph {
    bool ok = false; // false: the font could not load the character
    int rows = 0;
    int pitch = 0;
    FT_Pos height = 0;
    FT_Pos bearingY = 0;
    FT_Vector advance{};
    std::vector<uint8_t> bits;
};

// Every use of a slot (loading, drawing, measuring) holds its lock: a glyph
// load changes the face's transform and glyph slot, and the cache is shared.
struct SlotState {
    std::mutex mu;
    std::unordered_map<uint32_t, Glyph> cache;
};

SlotState slotState[kFontSlots];
std::atomic<bool> cacheOn{true};
// A slot keeps at most this many glyphs; further ones are rendered each time.
constexpr size_t kMaxCachedGlyphs = 4096;

bool ValidSlot(int n) {
    return n >= 0 && n < kFontSlots;
}

// Loads a code point with the given transform and copies what drawing needs.
void Render(int n, uint32_t cp, FT_Matrix *m, FT_Vector *pen, Glyph *out) {
    FT_Set_Transform(face[n], m, pen);
    out->ok = FT_Load_Char(face[n], cp, FT_LOAD_RENDER) == 0;
    if (!out->ok) return;
    FT_GlyphSlot g = slot[n];
    out->rows = static_cast<int>(g->bitmap.rows);
    out->pitch = std::abs(g->bitmap.pitch);
    out->height = g->metrics.height;
    out->bearingY = g->metrics.horiBearingY;
    out->advance = g->advance;
    size_t size = static_cast<size_t>(out->rows) * out->pitch;
    out->bits.resize(size);
    if (size > 0 && g->bitmap.buffer != nullptr) {
        if (g->bitmap.pitch >= 0)
            std::memcpy(out->bits.data(), g->bitmap.buffer, size);
        else
            for (int i = 0; i < out->rows; i++)
                std::memcpy(out->bits.data() + static_cast<size_t>(i) * out->pitch,
                            g->bitmap.buffer + static_cast<ptrdiff_t>(i) * g->bitmap.pitch,
                            out->pitch);
    }
}

// The glyph for cp at `pen`: from the cache when the rendering cannot depend
// on the pen (upright text at a whole-pixel pen), else rendered into `tmp`.
const Glyph *GetGlyph(int n, uint32_t cp, FT_Matrix *m, FT_Vector *pen, bool upright, Glyph *tmp) {
    bool cacheable = cacheOn.load(std::memory_order_relaxed) && upright && (pen->x & 63) == 0 &&
                     (pen->y & 63) == 0;
    if (!cacheable) {
        Render(n, cp, m, pen, tmp);
        return tmp;
    }
    auto &cache = slotState[n].cache;
    auto it = cache.find(cp);
    if (it != cache.end()) return &it->second;
    Render(n, cp, m, pen, tmp);
    if (cache.size() >= kMaxCachedGlyphs) return tmp;
    return &cache.emplace(cp, std::move(*tmp)).first->second;
}

inline void Blend(uint8_t *p, uint8_t c, uint8_t r, uint8_t g, uint8_t b) {
    const unsigned inv = 255u - c;
    p[0] = static_cast<uint8_t>(inv * p[0] / 255u + (b & c));
    p[1] = static_cast<uint8_t>(inv * p[1] / 255u + (g & c));
    p[2] = static_cast<uint8_t>(inv * p[2] / 255u + (r & c));
    p[3] = 0;
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
    slotState[n].cache.clear();
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
        const Glyph *gl = GetGlyph(n, cp, &m, &pen, rotate == 0, &tmp);
        if (!gl->ok) continue;
        const int64_t h = gl->height, by = gl->bearingY;
        // Placement: pixel (col, row) of bitmap byte (i, j) is
        // (colBase + colStep * j, rowBase + rowStep * i), coverage from row
        // rows-1-i when `flip`, else row i.
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
        } else if (rotate != 0) {
            colBase = (h + pen.x - by) / 64, colStep = -1;
            rowBase = pen.y / 64, rowStep = mirrorX == 1 ? 1 : -1, flip = false;
        } else {
            colBase = pen.x / 64, colStep = 1;
            rowBase = (pen.y + h - by) / 64, rowStep = -1, flip = true;
        }
        for (int i = 0; i < gl->rows; i++) {
            const uint8_t *src =
                gl->bits.data() + static_cast<size_t>(flip ? gl->rows - 1 - i : i) * gl->pitch;
            const int64_t rowOff = (rowBase + rowStep * i) * lineSize;
            for (int j = 0; j < gl->pitch; j++) {
                const int64_t p = rowOff + (colBase + colStep * j) * 4;
                if (p >= 0 && p + 3 < memSize) Blend(buf + p, src[j], cr, cg, cb);
            }
        }
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
        const Glyph *gl = GetGlyph(n, cp, &m, &pen, true, &tmp);
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
        s.cache.clear();
    }
}
