#include "platform/wait.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

bool PacingBySleep() {
    static const bool bySleep = [] {
        const char *p = std::getenv("HELIX_PACING");
        return p != nullptr && std::strcmp(p, "sleep") == 0;
    }();
    return bySleep;
}

void RelaxTimers(unsigned us) {
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(us) * 1000ul, 0, 0, 0);
}

int WakeOpen() {
    return eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

void WakeClose(int wake) {
    if (wake >= 0) close(wake);
}

void WakeSignal(int wake) {
    if (wake < 0) return;
    uint64_t one = 1;
    if (write(wake, &one, sizeof one) < 0) {
        // Full (never in practice) or closed: the waiter times out instead.
    }
}

int WaitPortOrWake(int fd, int wake, int ms) {
    pollfd p[2];
    nfds_t n = 0;
    if (fd >= 0) p[n++] = pollfd{fd, POLLIN, 0};
    if (wake >= 0) p[n++] = pollfd{wake, POLLIN, 0};
    int r;
    do {
        r = poll(p, n, ms < 0 ? 0 : ms);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) return kWaitTimeout;
    bool input = fd >= 0 && p[0].revents != 0; // bytes, or a hang-up to be read
    if (wake >= 0 && p[n - 1].revents != 0) {
        uint64_t count;
        if (read(wake, &count, sizeof count) < 0) {
            // Already consumed by another waiter.
        }
        if (!input) return kWaitWoken;
    }
    return input ? kWaitInput : kWaitTimeout;
}
