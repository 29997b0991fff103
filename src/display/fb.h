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

// Opens /dev/fb0 (or makes the virtual screen) and fills `fb`; 0 on success.
int fbInit(FbScreen *fb);
// Copies the work buffer to the screen.
void fbRealize(FbScreen *fb);
// Copies the background buffer into the work buffer.
void fbSetBack(FbScreen *fb);
