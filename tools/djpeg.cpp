// helix-djpeg IN.jpg OUT.ppm [--grey] [--max-pixels N]: decodes a JPEG file
// with the controller's decoder and writes it as binary PPM (or PGM with
// --grey), so that the decoder can be checked against other tools on any
// image. --max-pixels refuses, before decoding, a frame of more than N pixels
// (width x height), as the controller does with an image that is not its
// screen's size.
#include "jpeg/jpgd.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv) {
    bool grey = false;
    const char *in = nullptr, *out = nullptr;
    uint64_t maxPixels = jpgd::kAnyPixelCount;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--grey") == 0) {
            grey = true;
        } else if (std::strcmp(argv[i], "--max-pixels") == 0 && i + 1 < argc) {
            char *end = nullptr;
            maxPixels = std::strtoull(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0') in = out = nullptr, i = argc;
        } else if (in == nullptr)
            in = argv[i];
        else if (out == nullptr)
            out = argv[i];
        else
            in = out = nullptr, i = argc;
    }
    if (in == nullptr || out == nullptr) {
        std::fprintf(stderr, "usage: helix-djpeg IN.jpg OUT.ppm [--grey] [--max-pixels N]\n");
        return 1;
    }
    int w = 0, h = 0, comps = 0, req = grey ? 1 : 3;
    unsigned char *pixels =
        jpgd::decompress_jpeg_image_from_file(in, &w, &h, &comps, req, maxPixels);
    if (pixels == nullptr) {
        std::fprintf(stderr, "cannot decode %s\n", in);
        return 1;
    }
    FILE *f = std::fopen(out, "wb");
    bool ok = f != nullptr;
    if (ok) {
        ok = std::fprintf(f, "P%c\n%d %d\n255\n", grey ? '5' : '6', w, h) > 0;
        size_t n = static_cast<size_t>(w) * static_cast<size_t>(h) * static_cast<size_t>(req);
        ok = ok && std::fwrite(pixels, 1, n, f) == n;
        ok = (std::fclose(f) == 0) && ok;
    }
    std::free(pixels);
    if (!ok) {
        std::fprintf(stderr, "cannot write %s\n", out);
        return 1;
    }
    return 0;
}
