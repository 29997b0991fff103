// helix-sim-keyboard --root DIR plug|unplug|KEY: the service keyboard of a
// simulated unit. KEY is PrintScreen, F10, F11 or F12 (a press and a release).
#include "sim_root.h"

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char **argv) {
    if (argc != 4 || std::strcmp(argv[1], "--root") != 0) {
        std::fprintf(stderr, "usage: %s --root DIR plug|unplug|PrintScreen|F10|F11|F12\n", argv[0]);
        return 2;
    }
    std::string root = argv[2], what = argv[3];
    if (what == "plug" || what == "unplug")
        return SimKeyboardPlug(root, what == "plug") == 0 ? 0 : 1;
    static const struct {
        const char *name;
        int code;
    } keys[] = {{"PrintScreen", 99}, {"F10", 68}, {"F11", 87}, {"F12", 88}};
    for (const auto &k : keys) {
        if (what != k.name) continue;
        if (SimKeyboardKey(root, k.code, 1) != 0 || SimKeyboardKey(root, k.code, 0) != 0) {
            std::fprintf(stderr, "no keyboard open in %s (plug it, and is the unit running?)\n",
                         root.c_str());
            return 1;
        }
        return 0;
    }
    std::fprintf(stderr, "unknown key %s\n", what.c_str());
    return 2;
}
