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
    // The frame header first: an image of any other size is refused before
    // the decoder allocates anything for it.
    if (!jpgd::read_jpeg_frame_size(data, length, &w, &h, &comps)) {
        LogInfo("Screen image dropped: not a JPEG image that can be decoded");
        return -1;
    }
    if (w != fb.sizeX || h != fb.sizeY || fb.pixelSize != 4 || fb.workMem == nullptr ||
        fb.backMem == nullptr || uint64_t(w) * uint64_t(h) * 4 < fb.memSize) {
        LogInfo("Screen image dropped: %dx%d does not fit the %dx%d screen", w, h, fb.sizeX,
                fb.sizeY);
        return -1;
    }
    unsigned char *pixels = jpgd::decompress_jpeg_image_from_memory(
        data, length, &w, &h, &comps, 4, uint64_t(fb.sizeX) * uint64_t(fb.sizeY));
    if (pixels == nullptr) {
        LogInfo("Screen image dropped: not a JPEG image that can be decoded");
        return -1;
    }
    // It becomes the background, as a raw image does, and stays until the
    // next picture load. Noted before the copy: a kept band gives its rows back first.
    std::lock_guard<std::recursive_mutex> frame(works->frameLock);
    fbInvalidate(&fb);
    std::memcpy(fb.backMem, pixels, fb.memSize);
    std::memcpy(fb.workMem, fb.backMem, fb.memSize);
    std::free(pixels);
    return 0;
}
