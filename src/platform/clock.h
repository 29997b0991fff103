// Monotonic wall clock in milliseconds, sleeps and the one time-out test.
#pragma once
#include <cstdint>

uint64_t NowMs();
int64_t EpochSeconds();
void SleepMs(uint32_t ms);
void SleepUs(uint32_t us);

// True once `duration` ms have passed since `past`, as seen at `now`.
inline bool expired(uint64_t past, uint64_t now, uint64_t duration) {
    return now >= past && now - past >= duration;
}
