// USB keyboard thread.
#pragma once
struct Works;
void *keyb(void *arg);
