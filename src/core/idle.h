#pragma once
struct Works;
// Body of a thread whose work is not there yet: waits for `running` to drop.
void *IdleUntilStopped(Works *works);
