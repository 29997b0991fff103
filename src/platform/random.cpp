#include "platform/random.h"

#include "platform/paths.h"

#include <fcntl.h>
#include <unistd.h>

int ReadRandom(uint8_t *out, size_t count) {
    std::string path = ResolveSystemFile("/dev/urandom");
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    size_t got = 0;
    while (got < count) {
        ssize_t r = read(fd, out + got, count - got);
        if (r <= 0) break;
        got += size_t(r);
    }
    close(fd);
    return int(got);
}
