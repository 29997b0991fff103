// PNG screen images.
#pragma once
#include <cstdint>

struct FbScreen;

// Loads "<imageName>.png" (relative to the working directory) with its top
// left corner at (x, y) into the background (toBack != 0) or the work
// buffer, which is then shown.
void getPngAt(FbScreen *fb, const char *imageName, int64_t x, int64_t y, int toBack);

// Writes width x height pixels stored as B, G, R, X (`stride` bytes per row)
// as an 8-bit RGBA PNG with opaque alpha. 0 on success.
int WritePngFromBgrx(const char *path, const uint8_t *pixels, int width, int height, int stride);
// Writes the virtual screen file (800x480, B, G, R, X) as a PNG. 0 on success.
int FbGrabFile(const char *fbFile, const char *outPng);
