// Helpers for the display tests: screens in memory, reading PNG files back,
// and grabbing the virtual screen of a simulated root.
#pragma once
#include "display/fb.h"

#include <cstdint>
#include <string>
#include <vector>

// A screen record over a buffer of its own (screen, work and background).
struct MemScreen {
    FbScreen fb{};
    std::vector<uint8_t> screen;
    MemScreen(uint32_t xres, uint32_t yres, uint32_t bpp);
    ~MemScreen();
    MemScreen(const MemScreen &) = delete;
    MemScreen &operator=(const MemScreen &) = delete;
    // Fills all three buffers with one byte value.
    void Fill(uint8_t value);
};

// A decoded PNG as 8-bit RGBA rows.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    // The picture as the screen stores it: B, G, R, 0 per pixel.
    std::vector<uint8_t> Bgrx() const;
};
bool ReadPicture(const std::string &path, Picture *out);

// Writes a PNG of any colour type and depth (rows already in its format).
bool WriteTestPng(const std::string &path, int width, int height, int colorType, int bitDepth,
                  const std::vector<uint8_t> &data);

// Writes <root>/dev/fb0 as <root>/tmp/screen.png (what `fbgrab` does on the
// simulated unit) and reads it back.
bool GrabScreen(const std::string &root, Picture *out);

// Count of bytes that differ between two equally long buffers.
size_t DiffBytes(const uint8_t *a, const uint8_t *b, size_t n);
