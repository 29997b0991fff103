// helix-sim-keys --root DIR KEY [short|long|MS]: presses a front-panel key of
// a running simulated unit (short = 100 ms, long = 1.5 s, or a hold of MS ms).
#include "panel_keys.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static int Usage(const char *self) {
    std::fprintf(stderr, "usage: %s --root DIR KEY [short|long|MS]   (KEY 1-6)\n", self);
    return 2;
}

// A whole decimal number in [lo, hi], else -1.
static long Number(const char *text, long lo, long hi) {
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) return -1;
    return v;
}

int main(int argc, char **argv) {
    if (argc < 4 || argc > 5 || std::strcmp(argv[1], "--root") != 0) return Usage(argv[0]);
    std::string root = argv[2];
    long key = Number(argv[3], 1, 6);
    if (key < 0) return Usage(argv[0]);
    long ms = 100;
    if (argc == 5) {
        if (std::strcmp(argv[4], "short") == 0)
            ms = 100;
        else if (std::strcmp(argv[4], "long") == 0)
            ms = 1500;
        else if ((ms = Number(argv[4], 0, 600000)) < 0)
            return Usage(argv[0]);
    }
    return SimKeyHold(root, static_cast<int>(key), static_cast<int>(ms)) == 0 ? 0 : 1;
}
