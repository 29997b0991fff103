#include "platform/instance.h"

#include "platform/files.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

int InstanceLock(const char *path, pid_t *holder) {
    *holder = 0;
    std::string real = ResolvePath(path);
    MakeParentDirs(real);
    // Kept open (and locked) until the process ends; not inherited by the
    // shell commands it runs.
    int fd = open(real.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        char buf[32] = {};
        if (pread(fd, buf, sizeof buf - 1, 0) > 0) *holder = static_cast<pid_t>(std::atol(buf));
        close(fd);
        if (err == EWOULDBLOCK) return 1;
        errno = err;
        return -1;
    }
    char text[32];
    int n = std::snprintf(text, sizeof text, "%ld\n", static_cast<long>(getpid()));
    if (ftruncate(fd, 0) != 0 || pwrite(fd, text, static_cast<size_t>(n), 0) != n) {
        // The lock holds without the id; a second start then names no process.
    }
    return 0;
}
