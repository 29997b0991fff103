// TAV USB spectrum reader thread.
#pragma once
struct Works;
void *TAVRead(void *arg);
