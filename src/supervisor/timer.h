// Supervisor thread.
#pragma once
#include <cstdint>
struct Works;
void *timer(void *arg);
// Counts the supervisor's timers down by `elapsedMs` of wall time.
void CountDownTimers(Works *works, uint64_t elapsedMs);
