// Power-board link thread.
#pragma once
struct Works;
void *Linear(void *arg);
