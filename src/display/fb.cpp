#include "display/fb.h"

#include "platform/fbdev.h"
#include "platform/log.h"

#include <cstdlib>
#include <cstring>

static uint32_t PixelSizeOf(uint32_t bpp) {
    switch (bpp) {
    case 4:
    case 8:
        return 1;
    case 5:
    case 15:
    case 16:
        return 2;
    case 24:
        return 3;
    case 32:
        return 4;
    default:
        return 0;
    }
}

int fbSetup(FbScreen *fb, uint32_t xres, uint32_t yres, uint32_t bpp, uint8_t *screenMem) {
    std::memset(fb, 0, sizeof *fb);
    uint32_t pixelSize = PixelSizeOf(bpp);
    if (pixelSize == 0) {
        LogErr("Unknown pixel format");
        return -1;
    }
    LogInfo("Pixel size =%d", static_cast<int>(pixelSize));
    uint32_t memSize = (xres * yres * bpp) >> 3;
    auto *work = static_cast<uint8_t *>(std::malloc(memSize));
    auto *back = static_cast<uint8_t *>(std::malloc(memSize));
    if (work == nullptr || back == nullptr) {
        std::free(work);
        std::free(back);
        LogErr("Unable to allocate framebuffer structure");
        return -1;
    }
    fb->sizeX = static_cast<int32_t>(xres);
    fb->sizeY = static_cast<int32_t>(yres);
    fb->memSize = memSize;
    fb->lineSize = xres * pixelSize;
    fb->pixelSize = pixelSize;
    fb->screenMem = screenMem;
    fb->workMem = work;
    fb->backMem = back;
    LogInfo("Screen Size x: %d, y: %d, Pixel Size %d Line size: %d, Mem size: %d\n", fb->sizeX,
            fb->sizeY, static_cast<int>(fb->pixelSize), static_cast<int>(fb->lineSize),
            static_cast<int>(fb->memSize));
    return 0;
}

void fbRelease(FbScreen *fb) {
    std::free(fb->workMem);
    std::free(fb->backMem);
    fb->workMem = fb->backMem = nullptr;
}

int fbInit(FbScreen *fb) {
    std::memset(fb, 0, sizeof *fb);
    FbDevice dev;
    if (FbDevOpen(&dev) != 0) return -1;
    uint32_t pixelSize = PixelSizeOf(dev.bitsPerPixel);
    if (pixelSize == 0) {
        LogErr("Unknown pixel format");
        FbDevClose(&dev);
        return -1;
    }
    uint32_t memSize = (dev.xres * dev.yres * dev.bitsPerPixel) >> 3;
    uint8_t *mem = FbDevMap(&dev, memSize);
    if (mem == nullptr) return -1;
    // The device (and its mapping) stay open for the rest of the run.
    if (fbSetup(fb, dev.xres, dev.yres, dev.bitsPerPixel, mem) != 0) return -1;
    if (dev.isVirtual) LogInfo("Virtual screen %ux%u", dev.xres, dev.yres);
    return 0;
}

void fbRealize(FbScreen *fb) {
    if (fb->screenMem != nullptr && fb->workMem != nullptr)
        std::memcpy(fb->screenMem, fb->workMem, fb->memSize);
}

void fbSetBack(FbScreen *fb) {
    if (fb->workMem != nullptr && fb->backMem != nullptr)
        std::memcpy(fb->workMem, fb->backMem, fb->memSize);
}
