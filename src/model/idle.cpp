#include "model/idle.h"

#include "model/works.h"
#include "platform/clock.h"

void *IdleUntilStopped(Works *works, const std::atomic<char> *sw) {
    while (works->running != 0 && (sw == nullptr || sw->load() == '1'))
        SleepMs(20);
    return nullptr;
}
