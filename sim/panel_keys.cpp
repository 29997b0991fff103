#include "panel_keys.h"

#include "sim_root.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

int SimKeySet(const std::string &root, int key, bool down) {
    if (key < 1 || key > 6) {
        std::fprintf(stderr, "key %d: keys are 1 to 6\n", key);
        return -1;
    }
    std::string path = root + "/dev/mem";
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size < static_cast<off_t>(kSimGpioBlockSize)) {
        std::fprintf(stderr, "%s: not a simulated GPIO block (%s)\n", path.c_str(),
                     fd < 0 ? std::strerror(errno) : "too short or not a file");
        if (fd >= 0) close(fd);
        return -1;
    }
    void *map = mmap(nullptr, kSimGpioBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (map == MAP_FAILED) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), std::strerror(errno));
        return -1;
    }
    auto *lev = static_cast<uint32_t *>(map) + kSimGPLEV0 / 4;
    uint32_t bit = 1u << (21 + key);
    if (down)
        __atomic_fetch_and(lev, ~bit, __ATOMIC_SEQ_CST);
    else
        __atomic_fetch_or(lev, bit, __ATOMIC_SEQ_CST);
    msync(map, kSimGpioBlockSize, MS_SYNC);
    munmap(map, kSimGpioBlockSize);
    return 0;
}

int SimKeyHold(const std::string &root, int key, int ms) {
    if (SimKeySet(root, key, true) != 0) return -1;
    timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
    return SimKeySet(root, key, false);
}
