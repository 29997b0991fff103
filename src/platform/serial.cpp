#include "platform/serial.h"

#include "platform/clock.h"
#include "platform/log.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

int SerialOpen(const char *path) {
    return SerialOpenResolved(ResolvePath(path));
}

int SerialOpenResolved(const std::string &realPath) {
    return open(realPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
}

bool SerialGone(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}

long SerialRead(int fd, void *buf, size_t length) {
    return read(fd, buf, length);
}

long SerialWrite(int fd, const void *data, size_t length) {
    return write(fd, data, length);
}

void SerialClose(int fd) {
    if (fd >= 0) close(fd);
}

bool SerialMarkDown(SerialReopener *r, int fd, uint64_t now) {
    SerialClose(fd);
    if (r->down) return false;
    r->down = true;
    r->nextTry = now + kSerialReopenMs;
    return true;
}

int SerialTryReopen(SerialReopener *r, const char *path, int (*setup)(int), uint64_t now) {
    if (!r->down || now < r->nextTry) return -1;
    r->nextTry = now + kSerialReopenMs;
    int fd = SerialOpen(path);
    if (fd < 0) return -1;
    if (setup != nullptr && setup(fd) != 0) {
        SerialClose(fd);
        return -1;
    }
    r->down = false;
    return fd;
}

int SerialBytesWaiting(int fd) {
    int n = 0;
    if (ioctl(fd, FIONREAD, &n) != 0) return -1;
    return n;
}

int SerialDiscardInput(int fd) {
    tcflush(fd, TCIFLUSH); // a terminal's queue, driver and line discipline
    // What a non-terminal (or a byte that came meanwhile) still holds.
    int dropped = 0;
    char buf[64];
    for (int n = SerialBytesWaiting(fd); n > 0 && dropped < 4096; n = SerialBytesWaiting(fd)) {
        ssize_t r =
            read(fd, buf, n < static_cast<int>(sizeof buf) ? static_cast<size_t>(n) : sizeof buf);
        if (r <= 0) break;
        dropped += static_cast<int>(r);
    }
    return dropped;
}

int SerialWriteAll(int fd, const void *data, size_t length) {
    const uint8_t *p = static_cast<const uint8_t *>(data);
    size_t done = 0;
    while (done < length) {
        ssize_t r = write(fd, p + done, length - done);
        if (r < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                SleepMs(1);
                continue;
            }
            LogErr("write error %d", errno);
            return -1;
        }
        done += static_cast<size_t>(r);
    }
    return 0;
}

int SerialApply(int fd, const termios &tio) {
    tcflush(fd, TCIFLUSH);
    return tcsetattr(fd, TCSANOW, &tio);
}
