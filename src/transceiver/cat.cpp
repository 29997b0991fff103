#include "transceiver/cat.h"

#include "core/idle.h"
#include "core/works.h"

void *Cat(void *arg) { return IdleUntilStopped(static_cast<Works *>(arg)); }
