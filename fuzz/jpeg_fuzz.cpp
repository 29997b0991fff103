// libFuzzer target: any byte string through the JPEG decoder, asking for
// 1, 3 and 4 components. Only the absence of crashes, leaks and undefined
// behaviour is checked (the sanitizers do that); a decoded image must have
// a sane size.
#include "jpeg/jpgd.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 24)) return 0;
    for (int req : {1, 3, 4}) {
        int w = 0, h = 0, comps = 0;
        unsigned char *p = jpgd::decompress_jpeg_image_from_memory(data, static_cast<int>(size), &w,
                                                                   &h, &comps, req);
        if (p == nullptr) continue;
        if (w < 1 || h < 1 || w > 16384 || h > 16384 || (comps != 1 && comps != 3)) std::abort();
        // Touch the first and last byte so that a short block shows up.
        volatile uint8_t sink = p[0] ^ p[static_cast<size_t>(w) * h * req - 1];
        (void)sink;
        std::free(p);
    }
    return 0;
}
