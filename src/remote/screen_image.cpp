#include "remote/screen_image.h"

#include "model/works.h"
#include "display/fb.h"
#include "jpeg/jpgd.h"
#include "platform/log.h"

#include <cstdlib>
#include <cstring>

int Uncompress(Works *works, const uint8_t *data, int length) {
    FbScreen &fb = works->fb;
    int w = 0, h = 0, comps = 0;
    unsigned char *pixels =
        jpgd::decompress_jpeg_image_from_memory(data, length, &w, &h, &comps, 4);
    if (pixels == nullptr) {
        LogInfo("Screen image dropped: not a JPEG image that can be decoded");
        return -1;
    }
    size_t decoded = static_cast<size_t>(w) * static_cast<size_t>(h) * 4;
    if (w != fb.sizeX || h != fb.sizeY || fb.pixelSize != 4 || fb.workMem == nullptr ||
        decoded < fb.memSize) {
        LogInfo("Screen image dropped: %dx%d does not fit the %dx%d screen", w, h, fb.sizeX,
                fb.sizeY);
        std::free(pixels);
        return -1;
    }
    // Noted before the copy: a kept band gives its rows back first.
    fbMarkRows(&fb, 0, fb.sizeY - 1, 0);
    std::memcpy(fb.workMem, pixels, fb.memSize);
    std::free(pixels);
    return 0;
}
