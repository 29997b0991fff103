#include "supervisor/timer.h"

#include "core/works.h"
#include "platform/clock.h"

void CountDownTimers(Works *w, uint64_t elapsedMs) {
    int32_t h = w->errHoldOff.load();
    if (h > 0) {
        int64_t left = static_cast<int64_t>(h) - static_cast<int64_t>(elapsedMs);
        w->errHoldOff = left > 0 ? static_cast<int32_t>(left) : 0;
    }
}

// The pass (frequency source, screen, remote status) comes with the supervisor
// work; until then the thread keeps time, so that link faults held off for
// 2000 ms are reported again after that time.
void *timer(void *arg) {
    Works *w = static_cast<Works *>(arg);
    uint64_t last = NowMs();
    while (w->running != 0) {
        int32_t us = w->timerUsec.load();
        SleepUs(us > 0 ? static_cast<uint32_t>(us) : 10000u);
        uint64_t now = NowMs();
        CountDownTimers(w, now - last);
        last = now;
    }
    return nullptr;
}
