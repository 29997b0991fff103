#include "platform/serial.h"

#include "platform/paths.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

int SerialOpen(const char *path, int flags) {
    std::string real = ResolvePath(path);
    return open(real.c_str(), flags | O_CLOEXEC);
}

int SerialBytesWaiting(int fd) {
    int n = 0;
    if (ioctl(fd, FIONREAD, &n) != 0) return -1;
    return n;
}

int SerialApply(int fd, const termios &tio) {
    tcflush(fd, TCIFLUSH);
    return tcsetattr(fd, TCSANOW, &tio);
}
