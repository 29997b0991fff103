#include "remote/wsocket.h"

#include "core/idle.h"
#include "core/works.h"

void *Wsocket(void *arg) {
    return IdleUntilStopped(static_cast<Works *>(arg));
}
void *Wclient(void *arg) {
    return IdleUntilStopped(static_cast<Works *>(arg));
}
