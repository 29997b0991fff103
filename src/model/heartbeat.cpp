#include "model/heartbeat.h"

#include "model/works.h"
#include "platform/clock.h"
#include "platform/file_exists.h"
#include "platform/log.h"
#include "platform/service.h"

#include <cstring>

namespace {
const char *const kBeatNames[kBeatThreads] = {"link", "supervisor", "keys"};

bool Valid(int thread) {
    return thread >= 0 && thread < kBeatThreads;
}
} // namespace

void BeatBegin(Works *w, int thread) {
    if (Valid(thread)) w->beatOn.fetch_or(1u << thread);
}

void BeatEnd(Works *w, int thread) {
    if (Valid(thread)) w->beatOn.fetch_and(~(1u << thread));
}

void Beat(Works *w, int thread) {
    if (!Valid(thread)) return;
    w->beat[thread].fetch_add(1);
    const char *path = nullptr;
    const char *stalled = ServiceStallHook(&path);
    if (*stalled != '\0' && std::strcmp(stalled, kBeatNames[thread]) == 0 && FileExists(path)) {
        Trace("test hook: the %s thread stalls\n", stalled);
        while (w->running.load() != 0)
            SleepMs(50);
    }
}

bool WatchdogCheck(WatchdogState *s, Works *w, uint64_t periodMs, uint64_t now) {
    if (s->started && now - s->checkedMs < periodMs) return false;
    const uint32_t on = w->beatOn.load();
    bool all = s->started;
    for (int k = 0; k < kBeatThreads; k++) {
        const uint32_t beat = w->beat[k].load();
        if ((on & (1u << k)) != 0 && beat == s->seen[k]) all = false;
        s->seen[k] = beat;
    }
    s->started = true;
    s->checkedMs = now;
    return all;
}
