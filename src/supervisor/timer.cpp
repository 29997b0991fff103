#include "supervisor/timer.h"

#include "core/idle.h"
#include "core/works.h"

void *timer(void *arg) {
    return IdleUntilStopped(static_cast<Works *>(arg));
}
