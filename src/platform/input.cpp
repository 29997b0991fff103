#include "platform/input.h"

#include "platform/clock.h"
#include "platform/paths.h"

#include <cerrno>
#include <fcntl.h>
#include <glob.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string InputFindKeyboard() {
    std::string pattern = ResolvePath("/dev/input/by-id/*-event-kbd");
    glob_t g{};
    std::string found;
    if (glob(pattern.c_str(), 0, nullptr, &g) == 0 && g.gl_pathc > 0) found = g.gl_pathv[0];
    globfree(&g);
    return found;
}

int InputOpen(InputDev *d, const std::string &path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return errno;
    // A FIFO is opened for writing too, so that it never reads as ended while
    // no writer has it open.
    int flags = S_ISFIFO(st.st_mode) ? O_RDWR : O_RDONLY;
    int fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    d->fd = fd;
    d->path = path;
    d->dev = st.st_dev;
    d->ino = st.st_ino;
    d->regular = S_ISREG(st.st_mode);
    return 0;
}

int InputGrab(InputDev *d) {
    return ioctl(d->fd, EVIOCGRAB, 1) == 0 ? 0 : errno;
}

void InputClose(InputDev *d) {
    if (d->fd >= 0) close(d->fd);
    d->fd = -1;
}

namespace {
// The path no longer names the device that was opened.
bool Unplugged(const InputDev *d) {
    struct stat st {};
    return stat(d->path.c_str(), &st) != 0 || st.st_dev != d->dev || st.st_ino != d->ino;
}
} // namespace

int InputRead(InputDev *d, InputEvent *ev, int timeoutMs) {
    struct input_event e {};
    if (d->regular) { // a file: what was appended since the last read, else wait
        ssize_t n = read(d->fd, &e, sizeof e);
        if (n == ssize_t(sizeof e)) {
            *ev = InputEvent{e.type, e.code, e.value};
            return kInputEvent;
        }
        if (n > 0) lseek(d->fd, -n, SEEK_CUR); // half an event: later
        SleepMs(uint32_t(timeoutMs));
        return Unplugged(d) ? kInputGone : kInputTimeout;
    }
    pollfd p{d->fd, POLLIN, 0};
    int r = poll(&p, 1, timeoutMs);
    if (r == 0) return Unplugged(d) ? kInputGone : kInputTimeout;
    if (r < 0) return errno == EINTR ? kInputTimeout : kInputError;
    if ((p.revents & (POLLERR | POLLNVAL)) != 0 && (p.revents & POLLIN) == 0) return kInputGone;
    ssize_t n = read(d->fd, &e, sizeof e);
    if (n == ssize_t(sizeof e)) {
        *ev = InputEvent{e.type, e.code, e.value};
        return kInputEvent;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return kInputTimeout;
    if (n < 0 && (errno == ENODEV || errno == ENXIO || errno == EIO)) return kInputGone;
    if (n == 0) return kInputGone;
    return kInputError;
}
