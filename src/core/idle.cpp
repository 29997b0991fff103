#include "core/idle.h"

#include "core/works.h"
#include "platform/clock.h"

void *IdleUntilStopped(Works *works) {
    while (works->running != 0)
        SleepMs(20);
    return nullptr;
}
