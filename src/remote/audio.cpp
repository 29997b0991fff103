#include "remote/audio.h"

#include "core/idle.h"
#include "core/works.h"

void *th_leggi(void *arg) {
    Works *w = static_cast<Works *>(arg);
    return IdleUntilStopped(w, &w->setup->EnableRead);
}
void *th_scrivi(void *arg) {
    Works *w = static_cast<Works *>(arg);
    return IdleUntilStopped(w, &w->setup->EnableWrite);
}
