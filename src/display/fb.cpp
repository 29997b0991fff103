#include "display/fb.h"

#include <cstring>

// Placeholder until the display stack lands: no screen, drawing does nothing.
int fbInit(FbScreen *fb) {
    std::memset(fb, 0, sizeof *fb);
    return -1;
}

void fbRealize(FbScreen *fb) {
    if (fb->screenMem != nullptr && fb->workMem != nullptr)
        std::memcpy(fb->screenMem, fb->workMem, fb->memSize);
}

void fbSetBack(FbScreen *fb) {
    if (fb->workMem != nullptr && fb->backMem != nullptr)
        std::memcpy(fb->workMem, fb->backMem, fb->memSize);
}
