#include "remote/audio.h"

#include "core/idle.h"
#include "core/works.h"

void *th_leggi(void *arg) {
    return IdleUntilStopped(static_cast<Works *>(arg));
}
void *th_scrivi(void *arg) {
    return IdleUntilStopped(static_cast<Works *>(arg));
}
