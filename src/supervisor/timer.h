// Supervisor thread.
#pragma once
struct Works;
void *timer(void *arg);
