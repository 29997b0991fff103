// Line primitives on the screen record, for 16- and 32-bit screens. Colours
// are red, green, blue; toBack non-zero draws into the background buffer.
#pragma once
#include <cstdint>

struct FbScreen;

// Pixels x0 <= x < x1 of row y.
void DrawHorizontalLine(int x0, int y, int x1, uint8_t r, uint8_t g, uint8_t b, FbScreen *screen,
                        int toBack);
// Bresenham line, both ends included; clipped to the buffer as a whole.
void DrawLine(int x0, int y0, int x1, int y1, uint8_t r, uint8_t g, uint8_t b, FbScreen *screen,
              int toBack);
// The segments (xs[i], ys[i]) - (xs[i + 1], ys[i + 1]) for first <= i < last,
// each drawn as DrawLine draws it.
void DrawLineStrip(const int *xs, const int *ys, int first, int last, uint8_t r, uint8_t g,
                   uint8_t b, FbScreen *screen, int toBack);
// Outline of a rectangle in the work buffer.
void DrawRect(FbScreen *screen, int left, int top, int right, int bottom, uint8_t r, uint8_t g,
              uint8_t b);
