#include "transceiver/cat_serial.h"

#include "core/idle.h"
#include "core/works.h"

void *CatSerial(void *arg) { return IdleUntilStopped(static_cast<Works *>(arg)); }
