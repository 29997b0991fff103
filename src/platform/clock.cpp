#include "platform/clock.h"

#include <cerrno>
#include <ctime>

uint64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

int64_t EpochSeconds() {
    return static_cast<int64_t>(time(nullptr));
}

static void SleepNs(uint64_t ns) {
    timespec ts{static_cast<time_t>(ns / 1000000000u), static_cast<long>(ns % 1000000000u)};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void SleepMs(uint32_t ms) {
    SleepNs(static_cast<uint64_t>(ms) * 1000000u);
}
void SleepUs(uint32_t us) {
    SleepNs(static_cast<uint64_t>(us) * 1000u);
}
