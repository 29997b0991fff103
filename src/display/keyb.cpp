#include "display/keyb.h"

#include "core/idle.h"
#include "core/works.h"

void *keyb(void *arg) {
    return IdleUntilStopped(static_cast<Works *>(arg));
}
