// helix-fbgrab FB_FILE OUT.png: writes the virtual screen (800x480, stored as
// blue, green, red, 0 per pixel) as an RGBA PNG.
#include "display/png.h"

#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: helix-fbgrab FB_FILE OUT.png\n");
        return 2;
    }
    if (FbGrabFile(argv[1], argv[2]) != 0) {
        std::fprintf(stderr, "helix-fbgrab: cannot write %s from %s\n", argv[2], argv[1]);
        return 1;
    }
    return 0;
}
