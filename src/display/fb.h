// The screen record: the framebuffer (or a virtual screen in a plain file) and
// the work and background buffers every drawing goes through.
#pragma once
#include <cstdint>

struct FbScreen {
    int32_t sizeX;
    int32_t sizeY;
    uint32_t memSize;
    uint32_t lineSize;
    uint32_t pixelSize;
    uint8_t *screenMem;
    uint8_t *workMem;
    uint8_t *backMem;
    // Damage: per row, the columns drawn over since the last restore of the
    // work buffer (drawn) and changed since the last show (shown), as
    // [lo, hi] pairs (lo > hi: none), so a pass restores and shows only what
    // it drew over. A replaced background restores everything. Kept by the
    // drawing functions through fbMarkRect / fbMarkSpan.
    int16_t *drawnLo, *drawnHi, *shownLo, *shownHi;
    uint8_t backChanged;
    uint32_t passCount; // restores since the last whole copy
};

struct Works;

// Opens /dev/fb0 (or makes the virtual screen) and fills `fb`; 0 on success,
// -1 with the record zeroed (and the failure logged) otherwise.
int fbInit(FbScreen *fb);
// Fills the record for a screen of xres x yres at bpp bits whose pixels are at
// `screenMem`, and allocates the work and background buffers. 0 on success,
// -1 for an unknown pixel format or when the buffers cannot be had.
int fbSetup(FbScreen *fb, uint32_t xres, uint32_t yres, uint32_t bpp, uint8_t *screenMem);
// Frees the buffers fbSetup allocated (the screen memory is the caller's).
void fbRelease(FbScreen *fb);
// Copies the work buffer to the screen (the rows changed since the last show).
void fbRealize(FbScreen *fb);
// Copies the background buffer into the work buffer (the rows drawn over since
// the last restore; everything after the background changed, and about once a
// second whatever was marked, so a write that was not marked heals).
void fbSetBack(FbScreen *fb);
// Notes that rows top..bottom (inclusive, clipped to the screen) of the work
// buffer (toBack 0) or the background (toBack 1) were written.
void fbMarkRows(FbScreen *fb, int64_t top, int64_t bottom, int toBack);
// The same for columns left..right of those rows.
void fbMarkRect(FbScreen *fb, int64_t left, int64_t top, int64_t right, int64_t bottom, int toBack);
// The same for the bytes lo..hi (offsets into the buffer, inclusive).
void fbMarkSpan(FbScreen *fb, int64_t lo, int64_t hi, int toBack);
// Every row counts as written: the next restore and show copy everything.
void fbInvalidate(FbScreen *fb);
