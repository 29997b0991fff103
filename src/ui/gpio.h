// GPIO panel thread.
#pragma once
struct Works;
void *GPIO(void *arg);
