#pragma once
#include <atomic>
struct Works;
// Body of a thread whose work is not there yet: waits until `running` drops
// or, when given, its own switch `sw` is no longer '1' (polled every 20 ms).
void *IdleUntilStopped(Works *works, const std::atomic<char> *sw = nullptr);
