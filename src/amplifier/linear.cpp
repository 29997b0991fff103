#include "amplifier/linear.h"

#include "core/idle.h"
#include "core/works.h"

void *Linear(void *arg) { return IdleUntilStopped(static_cast<Works *>(arg)); }
