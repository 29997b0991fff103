// TrueType text: font slots, drawing and measuring.
#pragma once
#include <ft2build.h>
#include FT_FREETYPE_H

struct FbScreen;

constexpr int kFontSlots = 20;

// The slot tables, filled by TTFLoad at start-up and only read afterwards.
extern FT_Library library;
extern FT_Face face[kFontSlots];
extern FT_GlyphSlot slot[kFontSlots];
extern int fontSize[kFontSlots];

// Opens face 0 of `path` into `slotNo` at `size` pixels. Failures are logged
// and leave the slot empty.
void TTFLoad(const char *path, int size, int slotNo);
// Draws UTF-8 text with its pen starting at (x, y) (y is the baseline).
// Returns the last decoder result (-1 once the text is consumed).
int putString(int slotNo, int x, int y, const char *text, int r, int g, int b, FbScreen *screen,
              int mirrorX, int rotate, int mirrorY, int toBack);
// Width of the text in whole pixels.
int getStringSpace(int slotNo, const char *text);

// Rendered glyphs are kept per slot and code point so a redraw does not
// render them again. Switching the cache off (benchmarks, tests) also empties it.
void TTFSetGlyphCache(bool on);
void TTFClearGlyphCache();
