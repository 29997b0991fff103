// Heartbeats of the threads the service watchdog follows: each thread's
// step counts one; the watchdog is petted only while every followed thread
// that runs keeps counting.
#pragma once
#include <cstdint>

struct Works;

// The followed threads: the power-board link, the supervisor, the GPIO key
// thread.
enum BeatThread : int { kBeatLink = 0, kBeatSupervisor = 1, kBeatKeys = 2, kBeatThreads = 3 };

// A thread body begins / ends: it is followed while it runs.
void BeatBegin(Works *works, int thread);
void BeatEnd(Works *works, int thread);
// One step of `thread`.
void Beat(Works *works, int thread);

struct WatchdogState {
    uint32_t seen[kBeatThreads] = {};
    uint64_t checkedMs = 0;
    bool started = false;
};
// Checks every `periodMs` (called more often, with monotonic `now`): true
// when every followed thread beat since the previous check, the time to pet.
bool WatchdogCheck(WatchdogState *state, Works *works, uint64_t periodMs, uint64_t now);
