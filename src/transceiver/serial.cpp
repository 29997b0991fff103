#include "transceiver/serial.h"

#include "core/idle.h"
#include "core/works.h"

void *Serial(void *arg) { return IdleUntilStopped(static_cast<Works *>(arg)); }

#include <pthread.h>

void getParameters(TavParams *copy, Works *works) {
    pthread_mutex_lock(works->serMut);
    *copy = *works->tavPar;
    pthread_mutex_unlock(works->serMut);
}
