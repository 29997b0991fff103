// CAT pass-through thread.
#pragma once
struct Works;
void *Cat(void *arg);
