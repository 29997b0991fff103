#include "ui/gpio.h"

#include "core/idle.h"
#include "core/works.h"

void *GPIO(void *arg) {
    return IdleUntilStopped(static_cast<Works *>(arg));
}
