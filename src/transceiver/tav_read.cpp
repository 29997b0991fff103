#include "transceiver/tav_read.h"

#include "core/idle.h"
#include "core/works.h"

void *TAVRead(void *arg) {
    return IdleUntilStopped(static_cast<Works *>(arg));
}
