#include "display/keyb.h"

#include "core/idle.h"
#include "core/works.h"

void *keyb(void *arg) {
    Works *w = static_cast<Works *>(arg);
    return IdleUntilStopped(w, &w->setup->EnableKeyb);
}
