// helix-sim-simroot DIR: builds a simulated root at DIR and prints it.
#include "sim_root.h"

#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    std::printf("%s\n", MakeSimRoot(argv[1]).c_str());
    return 0;
}
