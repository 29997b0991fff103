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
// Copies the work buffer to the screen.
void fbRealize(FbScreen *fb);
// Copies the background buffer into the work buffer.
void fbSetBack(FbScreen *fb);
