// JFIF YCbCr-to-RGB conversion of whole rows, in two steps: the chroma
// offsets of a row (shared by both rows of a 2 x 2 layout), then the pixels.
#pragma once
#include <cstdint>

namespace jpgd {

// Red, green and blue offsets of `n` pixels from their chroma samples; with
// `pairs` each chroma sample serves two neighbouring pixels.
void ChromaOffsets(const uint8_t *cb, const uint8_t *cr, int n, bool pairs, int16_t *r, int16_t *g,
                   int16_t *b);

// `n` pixels of luma `y` plus the offsets, clamped, as RGB (comps 3) or
// RGBX with X = 255 (comps 4).
void ColourPixels(const uint8_t *y, const int16_t *r, const int16_t *g, const int16_t *b,
                  uint8_t *d, int n, int comps);

} // namespace jpgd
