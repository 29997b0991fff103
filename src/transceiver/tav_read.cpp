#include "transceiver/tav_read.h"

#include "core/idle.h"
#include "core/works.h"

void *TAVRead(void *arg) {
    Works *w = static_cast<Works *>(arg);
    return IdleUntilStopped(w, &w->setup->EnableFFT);
}
